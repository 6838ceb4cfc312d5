// Whether a drive can be written, why not, what its file system has
// recorded of errors and whether it needs attention: the rules, then the
// mounts reply with and without detail=1.
#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "capture.h"
#include "drives/drives.h"
#include "front/dispatch.h"
#include "storage/fake.h"

namespace {

const int64_t T = 1796984049;  // 2026-12-11T10:14:09Z

struct judge_case {
  const char *what;
  int kind;
  const char *fstype;
  int mount_ro, super_ro, emergency_ro;  // as mountinfo shows them
  int space_ro;                          // statvfs's ST_RDONLY, Windows's flag
  fs_errors errors;                      // {has_count, count, last_time, has_dirty, dirty}
  int readonly, reason, errors_known, errors_recorded, attention;
  int64_t last_error;
};

const judge_case judge_cases[] = {
    {"a healthy ext4", DRIVE_MOUNT_TABLE, "ext4", 0, 0, 0, 0, {1, 0, 0, 0, 0},
     0, RO_NONE, 1, 0, 0, 0},
    {"ext4 stopped after an error (emergency_ro, mount rw, no ST_RDONLY)",
     DRIVE_MOUNT_TABLE, "ext4", 0, 0, 1, 0, {1, 1, T, 0, 0}, 1, RO_ERRORS, 1, 1, 1, T},
    {"emergency_ro whose count cannot be read", DRIVE_MOUNT_TABLE, "ext4", 0, 0, 1, 0,
     {0, 0, 0, 0, 0}, 1, RO_ERRORS, 1, 1, 1, 0},
    {"an older kernel: the super block ro beneath a rw mount, errors counted",
     DRIVE_MOUNT_TABLE, "ext4", 0, 1, 0, 1, {1, 2, T, 0, 0}, 1, RO_ERRORS, 1, 1, 1, T},
    {"the super block ro beneath a rw mount, nothing told of errors", DRIVE_MOUNT_TABLE,
     "btrfs", 0, 1, 0, 1, {0, 0, 0, 0, 0}, 1, RO_FILESYSTEM, 0, 0, 1, 0},
    {"squashfs mounted without ro: read-only by nature", DRIVE_MOUNT_TABLE, "squashfs", 0, 1,
     0, 1, {0, 0, 0, 0, 0}, 1, RO_MOUNT, 0, 0, 0, 0},
    {"an ISO 9660 disc mounted ro", DRIVE_MOUNT_TABLE, "iso9660", 1, 1, 0, 1,
     {0, 0, 0, 0, 0}, 1, RO_MOUNT, 0, 0, 0, 0},
    {"ext4 mounted ro", DRIVE_MOUNT_TABLE, "ext4", 1, 1, 0, 1, {1, 0, 0, 0, 0}, 1, RO_MOUNT,
     1, 0, 0, 0},
    {"a read-only bind mount of a writable ext4", DRIVE_MOUNT_TABLE, "ext4", 1, 0, 0, 1,
     {1, 0, 0, 0, 0}, 1, RO_MOUNT, 1, 0, 0, 0},
    {"ext4 mounted ro that has recorded errors: ro by its mount, errors all the same",
     DRIVE_MOUNT_TABLE, "ext4", 1, 1, 0, 1, {1, 5, T, 0, 0}, 1, RO_MOUNT, 1, 1, 1, T},
    {"ext4 with errors=continue: writable, errors recorded", DRIVE_MOUNT_TABLE, "ext4", 0, 0,
     0, 0, {1, 3, T, 0, 0}, 0, RO_NONE, 1, 1, 1, T},
    {"a count of 0 keeps no time", DRIVE_MOUNT_TABLE, "ext4", 0, 0, 0, 0, {1, 0, T, 0, 0}, 0,
     RO_NONE, 1, 0, 0, 0},
    {"tmpfs: nothing kept of errors", DRIVE_MOUNT_TABLE, "tmpfs", 0, 0, 0, 0,
     {0, 0, 0, 0, 0}, 0, RO_NONE, 0, 0, 0, 0},
    {"statvfs alone says read-only", DRIVE_MOUNT_TABLE, "nfs4", 0, 0, 0, 1, {0, 0, 0, 0, 0}, 1,
     RO_MOUNT, 0, 0, 0, 0},
    {"a read-only volume (Windows)", DRIVE_LETTERS, "", 0, 0, 0, 1, {0, 0, 0, 1, 0}, 1,
     RO_MOUNT, 1, 0, 0, 0},
    {"a volume marked dirty (Windows)", DRIVE_LETTERS, "", 0, 0, 0, 0, {0, 0, 0, 1, 1}, 0,
     RO_NONE, 1, 1, 1, 0},
    {"a volume whose dirty bit cannot be read (Windows)", DRIVE_LETTERS, "", 0, 0, 0, 0,
     {0, 0, 0, 0, 0}, 0, RO_NONE, 0, 0, 0, 0},
};

TEST(DriveHealth, Judged) {
  for (const judge_case &c : judge_cases) {
    drive_row row = {};
    row.kind = c.kind;
    snprintf(row.fstype, sizeof row.fstype, "%s", c.fstype);
    row.mount_ro = c.mount_ro;
    row.super_ro = c.super_ro;
    row.emergency_ro = c.emergency_ro;
    space_info space = {};
    space.readonly = c.space_ro;
    mount_info m = {};
    judge_drive(&m, &row, &space, &c.errors);
    EXPECT_EQ(c.readonly, m.readonly) << c.what;
    EXPECT_EQ(c.reason, m.readonly_reason) << c.what;
    EXPECT_EQ(c.errors_known, m.errors_known) << c.what;
    EXPECT_EQ(c.errors_recorded, m.errors_recorded) << c.what;
    EXPECT_EQ(c.attention, m.attention) << c.what;
    EXPECT_EQ(c.reason == RO_ERRORS || c.reason == RO_FILESYSTEM, m.forced_readonly) << c.what;
    EXPECT_EQ(c.errors.has_count, m.has_error_count) << c.what;
    EXPECT_EQ(c.errors.has_count ? c.errors.count : 0, m.error_count) << c.what;
    EXPECT_EQ(c.last_error, m.last_error) << c.what;
  }
}

TEST(DriveHealth, ReasonWords) {
  EXPECT_EQ(nullptr, readonly_reason_name(RO_NONE));
  EXPECT_STREQ("mount", readonly_reason_name(RO_MOUNT));
  EXPECT_STREQ("filesystem", readonly_reason_name(RO_FILESYSTEM));
  EXPECT_STREQ("errors", readonly_reason_name(RO_ERRORS));
}

// ---- the mounts reply ------------------------------------------------------

std::string reply_for(const std::string &qs) {
  return body_of(capture_reply([&qs] { EXPECT_EQ(0, mode_json(qs.c_str())); }));
}

fake_drive *mount_row(const char *device, const char *mount, const char *fstype,
                      uint64_t total, uint64_t dev_id) {
  fake_drive *d = fake_add_drive(DRIVE_MOUNT_TABLE, device, mount, total, total / 2, total / 2);
  snprintf(d->row.fstype, sizeof d->row.fstype, "%s", fstype);
  d->row.dev_id = dev_id;
  return d;
}

// A failing ext4, a healthy one and a tmpfs: the machine the real test
// builds.
void three_drives() {
  fake_drive *bad = mount_row("/dev/loop0", "/srv/bad", "ext4", 3000, 1);
  bad->row.emergency_ro = 1;
  bad->has_errors = 1;
  bad->errors = {1, 2, T, 0, 0};
  fake_drive *good = mount_row("/dev/loop1", "/srv/good", "ext4", 2000, 2);
  good->has_errors = 1;
  good->errors = {1, 0, 0, 0, 0};
  mount_row("tmpfs", "/run", "tmpfs", 1000, 3);
}

const char *const head =
    "{\"ok\":true,\"action\":\"mounts\",\"plugin\":\"plugin_disks\",\"version\":\"1.0.2\","
    "\"platform\":\"windows\",\"pid\":4242,\"count\":3,\"utc\":\"2025-01-02T03:04:05Z\","
    "\"zero_network\":true,\"mounts\":[";

std::string drive(const char *device, const char *fstype, const char *mount, int total,
                  const char *health) {
  char buf[512];
  snprintf(buf, sizeof buf,
           "{\"device\":\"%s\",\"fstype\":\"%s\",\"mount\":\"%s\",\"total_bytes\":%d,"
           "\"used_bytes\":%d,\"free_bytes\":%d,\"avail_bytes\":%d,\"pct\":50.0,"
           "\"inodes_total\":0,\"inodes_used\":0,\"inodes_pct\":0.0,\"has_inodes\":false%s}",
           device, fstype, mount, total, total / 2, total / 2, total / 2, health);
  return buf;
}

class Health : public ::testing::Test {
 protected:
  void SetUp() override { fake_reset(); }
};

// Without detail=1 (or with any other value) the reply is today's, byte for
// byte, and no drive is asked about errors.
TEST_F(Health, PlainReplyKeepsItsBytes) {
  three_drives();
  std::string want = std::string(head) + drive("/dev/loop0", "ext4", "/srv/bad", 3000, "") +
                     "," + drive("/dev/loop1", "ext4", "/srv/good", 2000, "") + "," +
                     drive("tmpfs", "tmpfs", "/run", 1000, "") + "]}\n";
  for (const char *qs : {"action=mounts", "action=mounts&detail=0", "action=mounts&detail=11",
                         "action=mounts&detail=", "action=mounts&detail=true", ""}) {
    fake.errors_asked = 0;
    EXPECT_EQ(want, reply_for(qs)) << qs;
    EXPECT_EQ(0, fake.errors_asked) << qs;
  }
}

TEST_F(Health, DetailAddsTheHealthOfEachDrive) {
  three_drives();
  std::string want =
      std::string(head) +
      drive("/dev/loop0", "ext4", "/srv/bad", 3000,
            ",\"readonly\":true,\"readonly_reason\":\"errors\",\"errors_recorded\":true,"
            "\"error_count\":2,\"last_error\":\"2026-12-11T10:14:09Z\",\"attention\":true") +
      "," +
      drive("/dev/loop1", "ext4", "/srv/good", 2000,
            ",\"readonly\":false,\"readonly_reason\":null,\"errors_recorded\":false,"
            "\"error_count\":0,\"last_error\":null,\"attention\":false") +
      "," +
      drive("tmpfs", "tmpfs", "/run", 1000,
            ",\"readonly\":false,\"readonly_reason\":null,\"errors_recorded\":null,"
            "\"error_count\":null,\"last_error\":null,\"attention\":false") +
      "]}\n";
  EXPECT_EQ(want, reply_for("action=mounts&detail=1"));
  EXPECT_EQ(want, reply_for("action=mounts&detail=%31"));
}

// Only the listing pass asks, and only the drives it lists: not one of
// size 0, not the second mount of a device.
TEST_F(Health, ErrorsAskedOnlyOfListedDrives) {
  three_drives();
  mount_row("cgroup2", "/sys/fs/cgroup", "cgroup2", 0, 4);
  mount_row("/dev/loop1", "/srv/good/again", "ext4", 2000, 2);
  reply_for("action=mounts&detail=1");
  EXPECT_EQ(2, fake.listings);
  EXPECT_EQ(3, fake.errors_asked);
}

// Drives that may hang are asked through the probe, within its deadline:
// a drive letter's dirty bit, and nothing of one that does not answer.
TEST_F(Health, DrivesThatMayHangAreAskedThroughTheProbe) {
  fake_drive *c = fake_add_drive(DRIVE_LETTERS, "C:\\", "C:\\", 3000, 1500, 1500);
  c->has_errors = 1;
  c->errors = {0, 0, 0, 1, 1};
  fake_drive *d = fake_add_drive(DRIVE_LETTERS, "D:\\", "D:\\", 2000, 1000, 1000);
  d->space.readonly = 1;
  d->has_errors = 1;
  d->errors = {0, 0, 0, 1, 0};
  std::string body = reply_for("action=mounts&detail=1");
  EXPECT_NE(std::string::npos,
            body.find("\"mount\":\"C:\\\\\",\"total_bytes\":3000,\"used_bytes\":1500,"
                      "\"free_bytes\":1500,\"avail_bytes\":1500,\"pct\":50.0,"
                      "\"inodes_total\":0,\"inodes_used\":0,\"inodes_pct\":0.0,"
                      "\"has_inodes\":false,\"readonly\":false,\"readonly_reason\":null,"
                      "\"errors_recorded\":true,\"error_count\":null,\"last_error\":null,"
                      "\"attention\":true}"))
      << body;
  EXPECT_NE(std::string::npos,
            body.find("\"has_inodes\":false,\"readonly\":true,\"readonly_reason\":\"mount\","
                      "\"errors_recorded\":false,\"error_count\":null,\"last_error\":null,"
                      "\"attention\":false}"))
      << body;
  EXPECT_EQ(2, fake.probes);  // one a pass
  EXPECT_EQ(2, fake.errors_asked);

  fake_reset();
  fake_drive *e = fake_add_drive(DRIVE_LETTERS, "E:\\", "E:\\", 3000, 1500, 1500);
  e->has_errors = 1;
  e->errors = {0, 0, 0, 1, 1};
  e->hangs = 2u;  // answers the counting pass only
  body = reply_for("action=mounts&detail=1");
  EXPECT_EQ(std::string::npos, body.find("E:")) << body;
  EXPECT_EQ(0, fake.errors_asked);
}

}  // namespace
