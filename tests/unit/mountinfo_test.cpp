#include <gtest/gtest.h>

#include <string>

#include "storage/mountinfo.h"

namespace {

struct line_case {
  const char *line;
  int parses;
  const char *device;
  const char *fstype;
  const char *mount;
  uint64_t dev_id;
  int root_len;
};

const line_case line_cases[] = {
    {"36 35 98:0 /mnt1 /mnt2 rw,noatime master:1 - ext3 /dev/root rw,errors=continue", 1,
     "/dev/root", "ext3", "/mnt2", (98ull << 32) | 0, 5},
    {"22 1 0:21 / /proc rw,nosuid shared:12 - proc proc rw", 1, "proc", "proc", "/proc",
     21, 1},
    {"25 1 254:0 / / rw,relatime - ext4 /dev/vda rw", 1, "/dev/vda", "ext4", "/",
     (254ull << 32), 1},
    {"40 25 0:50 / /mnt/my\\040disk rw - tmpfs my\\134src rw", 1, "my\\src", "tmpfs",
     "/mnt/my disk", 50, 1},
    {"41 25 0:51 / /a\\011b rw shared:1 master:2 - ext4 /dev/x rw", 1, "/dev/x", "ext4",
     "/a\tb", 51, 1},
    {"42 25 0:52 /sub\\040dir /m rw - ext4 /dev/y rw", 1, "/dev/y", "ext4", "/m", 52, 8},
    {"43 25 0:53 / /m rw - ext4 /dev/z", 1, "/dev/z", "ext4", "/m", 53, 1},
    {"44 25 0:54 / /m rw ext4 /dev/z rw", 0, "", "", "", 0, 0},   // no separator
    {"45 25 0:55 / /m rw -", 0, "", "", "", 0, 0},                // nothing after it
    {"46 25 zz / /m rw - ext4 /dev/z rw", 0, "", "", "", 0, 0},  // bad device number
    {"47 25 1: / /m rw - ext4 /dev/z rw", 0, "", "", "", 0, 0},
    {"48 25", 0, "", "", "", 0, 0},
    {"", 0, "", "", "", 0, 0},
};

TEST(Mountinfo, Lines) {
  for (const line_case &c : line_cases) {
    std::string copy = c.line;
    drive_row row;
    int ok = parse_mountinfo_line(&copy[0], &row);
    EXPECT_EQ(c.parses, ok) << c.line;
    if (!ok || !c.parses) continue;
    EXPECT_EQ(DRIVE_MOUNT_TABLE, row.kind) << c.line;
    EXPECT_STREQ(c.device, row.device) << c.line;
    EXPECT_STREQ(c.fstype, row.fstype) << c.line;
    EXPECT_STREQ(c.mount, row.mount) << c.line;
    EXPECT_EQ(c.dev_id, row.dev_id) << c.line;
    EXPECT_EQ(c.root_len, row.root_len) << c.line;
  }
}

}  // namespace
