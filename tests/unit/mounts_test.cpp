#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "capture.h"
#include "json/actions.h"
#include "drives/drives.h"
#include "storage/fake.h"

namespace {

const char *const stamp = "2025-01-02T03:04:05Z";

std::string mounts_body() {
  return body_of(capture_reply([] { action_mounts(stamp); }));
}

std::string head_with(int count) {
  return "{\"ok\":true,\"action\":\"mounts\",\"plugin\":\"plugin_disks\","
         "\"version\":\"1.0.2\",\"platform\":\"windows\",\"pid\":4242,"
         "\"count\":" + std::to_string(count) +
         ",\"utc\":\"2025-01-02T03:04:05Z\",\"zero_network\":true,\"mounts\":";
}

// The "mount" values of a reply, in reply order.
std::vector<std::string> mounts_in(const std::string &body) {
  std::vector<std::string> out;
  const std::string key = "\"mount\":\"";
  for (size_t at = body.find(key); at != std::string::npos; at = body.find(key, at)) {
    at += key.size();
    out.push_back(body.substr(at, body.find('"', at) - at));
  }
  return out;
}

class Mounts : public ::testing::Test {
 protected:
  void SetUp() override { fake_reset(); }
};

TEST_F(Mounts, NoDrives) {
  EXPECT_EQ(head_with(0) + "[]}\n", mounts_body());
  fake.drive_list_fails = 1;
  EXPECT_EQ(head_with(0) + "[]}\n", mounts_body());
}

TEST_F(Mounts, QuotaDriveEntry) {
  fake_add_drive(DRIVE_LETTERS, "C:\\", "C:\\", 1000, 400, 300);
  EXPECT_EQ(head_with(1) +
                "[{\"device\":\"C:\\\\\",\"fstype\":\"NTFS\",\"mount\":\"C:\\\\\","
                "\"total_bytes\":1000,\"used_bytes\":600,\"free_bytes\":400,"
                "\"avail_bytes\":300,\"pct\":66.7,\"inodes_total\":0,"
                "\"inodes_used\":0,\"inodes_pct\":0.0,\"has_inodes\":false}]}\n",
            mounts_body());
}

struct figure_case {
  uint64_t total, free_bytes, avail;
  const char *fragment;
};

TEST_F(Mounts, UsedAndPercentage) {
  const figure_case cases[] = {
      {0, 0, 0, "\"used_bytes\":0,\"free_bytes\":0,\"avail_bytes\":0,\"pct\":0.0"},
      {100, 200, 200, "\"used_bytes\":0,\"free_bytes\":200,\"avail_bytes\":200,\"pct\":0.0"},
      {100, 0, 0, "\"used_bytes\":100,\"free_bytes\":0,\"avail_bytes\":0,\"pct\":100.0"},
      {4ull << 40, 1ull << 40, 1ull << 40,
       "\"total_bytes\":4398046511104,\"used_bytes\":3298534883328"},
  };
  for (const figure_case &c : cases) {
    fake_reset();
    fake_add_drive(DRIVE_LETTERS, "C:\\", "C:\\", c.total, c.free_bytes, c.avail);
    EXPECT_NE(std::string::npos, mounts_body().find(c.fragment)) << c.fragment;
  }
}

TEST_F(Mounts, LargestFirstThenByMount) {
  fake_add_drive(DRIVE_LETTERS, "D:\\", "D:\\", 500, 1, 1);
  fake_add_drive(DRIVE_LETTERS, "E:\\", "E:\\", 900, 1, 1);
  fake_add_drive(DRIVE_LETTERS, "C:\\", "C:\\", 500, 1, 1);
  fake_add_drive(DRIVE_LETTERS, "B:\\", "B:\\", 10, 1, 1);
  std::vector<std::string> expected = {"E:\\\\", "C:\\\\", "D:\\\\", "B:\\\\"};
  EXPECT_EQ(expected, mounts_in(mounts_body()));
}

TEST_F(Mounts, FileSystemNameFallsBackToWin32) {
  fake_add_drive(DRIVE_LETTERS, "C:\\", "C:\\", 10, 1, 1)->fs_name_fails = 1;
  fake_add_drive(DRIVE_LETTERS, "D:\\", "D:\\", 20, 1, 1)->fs_name = "";
  fake_add_drive(DRIVE_LETTERS, "E:\\", "E:\\", 5, 1, 1)->fs_name =
      "A-very-long-file-system-name-that-goes-past-sixty-three-bytes-xxxxxxxx";
  std::string body = mounts_body();
  EXPECT_NE(std::string::npos, body.find("\"device\":\"C:\\\\\",\"fstype\":\"win32\""));
  EXPECT_NE(std::string::npos, body.find("\"device\":\"D:\\\\\",\"fstype\":\"win32\""));
  EXPECT_NE(std::string::npos,
            body.find("\"fstype\":\"A-very-long-file-system-name-that-goes-past-"
                      "sixty-three-bytes-x\""));
}

TEST_F(Mounts, UnusableDrivesLeaveNoGap) {
  fake_add_drive(DRIVE_LETTERS, "A:\\", "A:\\", 10, 1, 1)->row.drive_type =
      DRIVE_TYPE_NO_ROOT_DIR;
  fake_add_drive(DRIVE_LETTERS, "C:\\", "C:\\", 30, 1, 1);
  fake_add_drive(DRIVE_LETTERS, "D:\\", "D:\\", 20, 1, 1)->space_fails = 1;
  fake_add_drive(DRIVE_LETTERS, "E:\\", "E:\\", 0, 0, 0);  // listed: letters keep size 0
  static mount_info table[MAX_MOUNTS];
  hung_drives hung = {};
  ASSERT_EQ(2, collect_mounts(table, &hung));
  EXPECT_STREQ("C:\\", table[0].mount);
  EXPECT_STREQ("E:\\", table[1].mount);
}

TEST_F(Mounts, DrivesChangingBetweenThePasses) {
  fake_add_drive(DRIVE_LETTERS, "C:\\", "C:\\", 30, 1, 1);
  fake_add_drive(DRIVE_LETTERS, "E:\\", "E:\\", 20, 1, 1)->passes = 1u;  // absent from the count
  std::string body = mounts_body();
  EXPECT_EQ(0u, body.find(head_with(1)));
  EXPECT_EQ(2u, mounts_in(body).size());

  fake_reset();
  fake_add_drive(DRIVE_LETTERS, "C:\\", "C:\\", 30, 1, 1);
  fake_add_drive(DRIVE_LETTERS, "E:\\", "E:\\", 20, 1, 1)->passes = 2u;  // absent from the list
  body = mounts_body();
  EXPECT_EQ(0u, body.find(head_with(2)));
  EXPECT_EQ(1u, mounts_in(body).size());
}

// Drives that do not answer within the deadline are left out like drives
// whose query fails; one given up in the counting pass is not asked again
// in the listing pass, and all drives that may hang are asked at once.
TEST_F(Mounts, DrivesThatDoNotAnswer) {
  struct drive_spec {
    int kind;
    const char *root;
    const char *fstype;  // mount table rows
    unsigned hangs;      // bit 0: counting pass, bit 1: listing pass
    int asked;           // times the drive is asked in the request
  };
  struct hang_case {
    const char *what;
    std::vector<drive_spec> drives;
    int count;
    std::vector<std::string> listed;
    int probes;       // storage_probe calls in the request
    int probed_rows;  // rows asked through it
  } cases[] = {
      {"a letter hangs in the counting pass",
       {{DRIVE_LETTERS, "C:\\", "", 0, 2}, {DRIVE_LETTERS, "E:\\", "", 1, 1}},
       1, {"C:\\\\"}, 2, 3},
      {"a letter hangs in the listing pass",
       {{DRIVE_LETTERS, "C:\\", "", 0, 2}, {DRIVE_LETTERS, "E:\\", "", 2, 2}},
       2, {"C:\\\\"}, 2, 4},
      {"every drive hangs",
       {{DRIVE_LETTERS, "C:\\", "", 3, 1}, {DRIVE_LETTERS, "E:\\", "", 3, 1}},
       0, {}, 1, 2},
      {"two hung FUSE mounts beside local ones",
       {{DRIVE_MOUNT_TABLE, "/", "ext4", 0, 2},
        {DRIVE_MOUNT_TABLE, "/mnt/a", "fuse.sshfs", 3, 1},
        {DRIVE_MOUNT_TABLE, "/run", "tmpfs", 0, 2},
        {DRIVE_MOUNT_TABLE, "/mnt/b", "nfs4", 3, 1}},
       2, {"/", "/run"}, 1, 2},
      {"a network mount that answers is listed",
       {{DRIVE_MOUNT_TABLE, "/", "ext4", 0, 2}, {DRIVE_MOUNT_TABLE, "/net", "cifs", 0, 2}},
       2, {"/", "/net"}, 2, 2},
  };
  for (const hang_case &c : cases) {
    fake_reset();
    uint64_t total = 100;
    for (const drive_spec &d : c.drives) {
      fake_drive *f = fake_add_drive(d.kind, d.root, d.root, total--, 1, 1);
      snprintf(f->row.fstype, sizeof f->row.fstype, "%s", d.fstype);
      f->row.dev_id = total;
      f->hangs = d.hangs;
    }
    std::string body = mounts_body();
    EXPECT_EQ(0u, body.find(head_with(c.count))) << c.what;
    EXPECT_EQ(c.listed, mounts_in(body)) << c.what;
    EXPECT_EQ(c.probes, fake.probes) << c.what;
    EXPECT_EQ(c.probed_rows, fake.probed_rows) << c.what;
    for (size_t i = 0; i < c.drives.size(); i++)
      EXPECT_EQ(c.drives[i].asked, fake.drives[i].asked) << c.what << " " << c.drives[i].root;
    if (fake.probes) {
      EXPECT_EQ(PROBE_DEADLINE_MS, fake.last_deadline_ms) << c.what;
    }
  }
}

// Past 256 drives the table keeps those the reply lists first (the
// largest; equal sizes by mount), wherever they come in the list.
TEST_F(Mounts, TableKeepsThe256LargestDrives) {
  struct order_case {
    const char *what;
    int (*size_of)(int i);  // of the i-th drive of 300
    const char *first, *last;
  };
  const order_case cases[] = {
      {"growing", [](int i) { return 1000 + i; }, "V299:\\\\", "V044:\\\\"},
      {"shrinking", [](int i) { return 2000 - i; }, "V000:\\\\", "V255:\\\\"},
      {"the largest last, the rest equal", [](int i) { return i == 299 ? 5000 : 1000; },
       "V299:\\\\", "V254:\\\\"},
  };
  for (const order_case &c : cases) {
    fake_reset();
    for (int i = 0; i < 300; i++) {
      char root[16];
      snprintf(root, sizeof root, "V%03d:\\", i);
      fake_add_drive(DRIVE_LETTERS, root, root, (uint64_t)c.size_of(i), 1, 1);
    }
    std::string body = mounts_body();
    EXPECT_EQ(0u, body.find(head_with(256))) << c.what;
    std::vector<std::string> listed = mounts_in(body);
    ASSERT_EQ(256u, listed.size()) << c.what;
    EXPECT_EQ(c.first, listed.front()) << c.what;
    EXPECT_EQ(c.last, listed.back()) << c.what;
  }
}

TEST_F(Mounts, InodesWhereThePlatformHasThem) {
  fake_drive *d = fake_add_drive(DRIVE_MOUNT_TABLE, "/dev/vda", "/", 1000, 500, 400);
  snprintf(d->row.fstype, sizeof d->row.fstype, "ext4");
  d->space.has_inodes = 1;
  d->space.inodes_total = 200;
  d->space.inodes_free = 150;
  EXPECT_NE(std::string::npos,
            mounts_body().find("\"fstype\":\"ext4\",\"mount\":\"/\",\"total_bytes\":1000,"
                               "\"used_bytes\":500,\"free_bytes\":500,\"avail_bytes\":400,"
                               "\"pct\":55.6,\"inodes_total\":200,\"inodes_used\":50,"
                               "\"inodes_pct\":25.0,\"has_inodes\":true}"));
}

// ---- mount table rules --------------------------------------------------

struct row_spec {
  const char *device;
  const char *fstype;
  const char *mount;
  uint64_t dev_id;
  int root_len;
  uint64_t total;
  int bind;
};

struct rule_case {
  const char *rule;
  std::vector<row_spec> rows;
  std::vector<std::string> listed;  // "device mount" in list order
};

std::vector<std::string> listed_rows(const std::vector<row_spec> &rows) {
  fake_reset();
  for (const row_spec &r : rows) {
    fake_drive *d = fake_add_drive(DRIVE_MOUNT_TABLE, r.device, r.mount, r.total, 0, 0);
    snprintf(d->row.fstype, sizeof d->row.fstype, "%s", r.fstype);
    d->row.dev_id = r.dev_id;
    d->row.root_len = r.root_len;
    d->row.bind = r.bind;
  }
  static mount_info table[MAX_MOUNTS];
  static hung_drives hung;
  hung.n = 0;
  int n = collect_mounts(table, &hung);
  std::vector<std::string> out;
  for (int i = 0; i < n; i++) out.push_back(std::string(table[i].device) + " " + table[i].mount);
  return out;
}

TEST(MountRules, OneCasePerClause) {
  const rule_case cases[] = {
      {"pseudo types are left out",
       {{"proc", "proc", "/proc", 1, 1, 10, 0},
        {"sysfs", "sysfs", "/sys", 2, 1, 10, 0},
        {"devpts", "devpts", "/dev/pts", 3, 1, 10, 0},
        {"x", "fuse.portal", "/run/p", 4, 1, 10, 0},
        {"tmpfs", "tmpfs", "/run", 5, 1, 10, 0}},
       {"tmpfs /run"}},
      {"none is pseudo unless bind-mounted",
       {{"none", "none", "/a", 1, 1, 10, 0}, {"none", "none", "/b", 2, 1, 10, 1}},
       {"none /b"}},
      {"mount points must be absolute",
       {{"/dev/sda1", "ext4", "relative", 1, 1, 10, 0}, {"/dev/sda2", "ext4", "/", 2, 1, 10, 0}},
       {"/dev/sda2 /"}},
      {"size 0 is left out",
       {{"cgroup2", "cgroup2", "/sys/fs/cgroup", 1, 1, 0, 0}, {"/dev/sda1", "ext4", "/", 2, 1, 10, 0}},
       {"/dev/sda1 /"}},
      {"a source with a slash beats one without",
       {{"rootfs", "ext4", "/", 7, 1, 10, 0}, {"/dev/sda1", "ext4", "/mnt", 7, 1, 10, 0}},
       {"/dev/sda1 /mnt"}},
      {"a source without a slash does not beat one with",
       {{"/dev/sda1", "ext4", "/mnt", 7, 1, 10, 0}, {"rootfs", "ext4", "/srv", 7, 1, 10, 0}},
       {"/dev/sda1 /mnt"}},
      {"the shorter mount point wins",
       {{"/dev/sda1", "ext4", "/srv/data", 7, 1, 10, 0}, {"/dev/sda1", "ext4", "/srv", 7, 1, 10, 0}},
       {"/dev/sda1 /srv"}},
      {"the longer mount point loses",
       {{"/dev/sda1", "ext4", "/srv", 7, 1, 10, 0}, {"/dev/sda1", "ext4", "/srv/data", 7, 1, 10, 0}},
       {"/dev/sda1 /srv"}},
      {"a bind mount of a subdirectory does not win by a shorter mount point",
       {{"/dev/sda1", "ext4", "/home/u", 7, 1, 10, 0}, {"/dev/sda1", "ext4", "/h", 7, 5, 10, 0}},
       {"/dev/sda1 /home/u"}},
      {"a mount over the same mount point hides the earlier one",
       {{"tmpfs", "tmpfs", "/dev/shm", 1, 1, 10, 0}, {"shm", "tmpfs", "/dev/shm", 2, 1, 20, 0}},
       {"shm /dev/shm"}},
      {"different devices are all listed",
       {{"/dev/sda1", "ext4", "/", 1, 1, 10, 0}, {"/dev/sdb1", "xfs", "/data", 2, 1, 10, 0}},
       {"/dev/sda1 /", "/dev/sdb1 /data"}},
  };
  for (const rule_case &c : cases) EXPECT_EQ(c.listed, listed_rows(c.rows)) << c.rule;
}

// Which drives are asked with a deadline: one case per clause.
TEST(MountRules, WhichDrivesMayHang) {
  const struct {
    int kind;
    const char *fstype;
    int may_hang;
  } cases[] = {
      {DRIVE_MOUNT_TABLE, "nfs4", 1},        // network file systems
      {DRIVE_MOUNT_TABLE, "cifs", 1},
      {DRIVE_MOUNT_TABLE, "fuse.sshfs", 1},  // every FUSE file system
      {DRIVE_MOUNT_TABLE, "fuseblk", 1},
      {DRIVE_MOUNT_TABLE, "fuse", 1},
      {DRIVE_MOUNT_TABLE, "ext4", 0},        // local ones are asked directly
      {DRIVE_MOUNT_TABLE, "tmpfs", 0},
      {DRIVE_MOUNT_TABLE, "fusectl", 0},     // a name that only begins alike
      {DRIVE_MOUNT_TABLE, "nfsd", 0},
      {DRIVE_LETTERS, "", 1},                // every drive letter
  };
  for (const auto &c : cases) {
    drive_row row = {};
    row.kind = c.kind;
    snprintf(row.fstype, sizeof row.fstype, "%s", c.fstype);
    EXPECT_EQ(c.may_hang, drive_may_hang(&row)) << c.fstype;
  }
}

}  // namespace

// A drive whose call of an earlier request is still stuck (its mark is
// held) is left out at once, without being asked, in both passes; marks
// are looked at only for drives that may hang.
TEST_F(Mounts, DrivesStuckSinceAnEarlierRequest) {
  fake_drive *root = fake_add_drive(DRIVE_MOUNT_TABLE, "/dev/sda1", "/", 100, 1, 1);
  snprintf(root->row.fstype, sizeof root->row.fstype, "ext4");
  root->row.dev_id = 1;
  root->stuck = 1;  // never looked at: a local file system is asked directly
  fake_drive *net = fake_add_drive(DRIVE_MOUNT_TABLE, "srv:/x", "/net", 90, 1, 1);
  snprintf(net->row.fstype, sizeof net->row.fstype, "nfs4");
  net->row.dev_id = 2;
  fake_drive *dead = fake_add_drive(DRIVE_MOUNT_TABLE, "srv:/y", "/dead", 80, 1, 1);
  snprintf(dead->row.fstype, sizeof dead->row.fstype, "nfs4");
  dead->row.dev_id = 3;
  dead->stuck = 1;
  std::string body = mounts_body();
  EXPECT_EQ(0u, body.find(head_with(2)));
  EXPECT_EQ((std::vector<std::string>{"/", "/net"}), mounts_in(body));
  EXPECT_EQ(0, fake.drives[2].asked);
  EXPECT_EQ(2, fake.probed_rows);  // /net, once a pass

  // More stuck drives than a request remembers as given up: none is asked.
  fake_reset();
  for (int i = 0; i < MAX_HUNG + 10; i++) {
    std::string mount = "/mnt/d" + std::to_string(i);
    fake_drive *d = fake_add_drive(DRIVE_MOUNT_TABLE, "dead", mount.c_str(), 10, 1, 1);
    snprintf(d->row.fstype, sizeof d->row.fstype, "fuse.sshfs");
    d->row.dev_id = (uint64_t)i + 1;
    d->stuck = 1;
  }
  fake_add_drive(DRIVE_LETTERS, "C:\\", "C:\\", 5, 1, 1);
  fake_add_drive(DRIVE_LETTERS, "E:\\", "E:\\", 4, 1, 1)->stuck = 1;
  body = mounts_body();
  EXPECT_EQ((std::vector<std::string>{"C:\\\\"}), mounts_in(body));
  for (int i = 0; i < fake.n_drives; i++)
    if (fake.drives[i].stuck) {
      EXPECT_EQ(0, fake.drives[i].asked) << i;
    }
  EXPECT_EQ(2, fake.probed_rows);  // C:\, once a pass
}
