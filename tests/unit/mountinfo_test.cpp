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
  int mount_ro, super_ro, emergency_ro;
};

const line_case line_cases[] = {
    {"36 35 98:0 /mnt1 /mnt2 rw,noatime master:1 - ext3 /dev/root rw,errors=continue", 1,
     "/dev/root", "ext3", "/mnt2", (98ull << 32) | 0, 5, 0, 0, 0},
    {"22 1 0:21 / /proc rw,nosuid shared:12 - proc proc rw", 1, "proc", "proc", "/proc",
     21, 1, 0, 0, 0},
    {"25 1 254:0 / / rw,relatime - ext4 /dev/vda rw", 1, "/dev/vda", "ext4", "/",
     (254ull << 32), 1, 0, 0, 0},
    {"40 25 0:50 / /mnt/my\\040disk rw - tmpfs my\\134src rw", 1, "my\\src", "tmpfs",
     "/mnt/my disk", 50, 1, 0, 0, 0},
    {"41 25 0:51 / /a\\011b rw shared:1 master:2 - ext4 /dev/x rw", 1, "/dev/x", "ext4",
     "/a\tb", 51, 1, 0, 0, 0},
    {"42 25 0:52 /sub\\040dir /m rw - ext4 /dev/y rw", 1, "/dev/y", "ext4", "/m", 52, 8, 0, 0, 0},
    {"43 25 0:53 / /m rw - ext4 /dev/z", 1, "/dev/z", "ext4", "/m", 53, 1, 0, 0, 0},
    // Stopped by the kernel after an error: the mount still says rw.
    {"89 69 7:0 / /srv rw,relatime - ext4 /dev/loop0 rw,errors=remount-ro,emergency_ro", 1,
     "/dev/loop0", "ext4", "/srv", 7ull << 32, 1, 0, 0, 1},
    // Older kernels: the file system read-only beneath a writable mount.
    {"90 69 8:1 / /data rw,relatime - ext4 /dev/sda1 ro,errors=remount-ro", 1, "/dev/sda1",
     "ext4", "/data", (8ull << 32) | 1, 1, 0, 1, 0},
    // A read-only mount of a writable file system, and both read-only.
    {"91 69 8:2 / /b ro,relatime - ext4 /dev/sda2 rw", 1, "/dev/sda2", "ext4", "/b",
     (8ull << 32) | 2, 1, 1, 0, 0},
    {"92 69 7:2 / /snap/x/1 ro,nodev,relatime shared:5 - squashfs /dev/loop2 ro", 1,
     "/dev/loop2", "squashfs", "/snap/x/1", (7ull << 32) | 2, 1, 1, 1, 0},
    // Whole options only: "rox", "errors=ro" and "emergency_rox" are not
    // "ro" or "emergency_ro"; "ro" counts where the kernel writes it, first.
    {"93 69 8:3 / /c rox,relatime - ext4 /dev/sda3 rw,errors=ro,emergency_rox,xemergency_ro", 1,
     "/dev/sda3", "ext4", "/c", (8ull << 32) | 3, 1, 0, 0, 0},
    {"94 69 8:4 / /d ro - ext4 /dev/sda4 ro,emergency_ro", 1, "/dev/sda4", "ext4", "/d",
     (8ull << 32) | 4, 1, 1, 1, 1},
    {"44 25 0:54 / /m rw ext4 /dev/z rw", 0, "", "", "", 0, 0, 0, 0, 0},   // no separator
    {"45 25 0:55 / /m rw -", 0, "", "", "", 0, 0, 0, 0, 0},                // nothing after it
    {"46 25 zz / /m rw - ext4 /dev/z rw", 0, "", "", "", 0, 0, 0, 0, 0},  // bad device number
    {"47 25 1: / /m rw - ext4 /dev/z rw", 0, "", "", "", 0, 0, 0, 0, 0},
    {"48 25", 0, "", "", "", 0, 0, 0, 0, 0},
    {"", 0, "", "", "", 0, 0, 0, 0, 0},
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
    EXPECT_EQ(c.mount_ro, row.mount_ro) << c.line;
    EXPECT_EQ(c.super_ro, row.super_ro) << c.line;
    EXPECT_EQ(c.emergency_ro, row.emergency_ro) << c.line;
  }
}

}  // namespace
