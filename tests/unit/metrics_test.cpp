#include <gtest/gtest.h>

#include <map>
#include <regex>
#include <sstream>
#include <string>
#include <vector>

#include "capture.h"
#include "front/dispatch.h"
#include "front/query.h"
#include "json/actions.h"
#include "metrics/metrics.h"
#include "metrics/text_format.h"
#include "storage/fake.h"

namespace {

std::string reply_for(const std::string &qs) {
  return capture_reply([&qs] { EXPECT_EQ(0, mode_json(qs.c_str())); });
}

// The samples of a metrics body: series (name and labels as written) to
// value. A series written twice fails the test.
std::map<std::string, std::string> samples_of(const std::string &body) {
  std::map<std::string, std::string> out;
  size_t at = 0;
  while (at < body.size()) {
    size_t end = body.find('\n', at);
    std::string line = body.substr(at, end - at);
    at = end + 1;
    if (line.empty() || line[0] == '#') continue;
    size_t sp = line.rfind(' ');
    std::string series = line.substr(0, sp);
    EXPECT_EQ(0u, out.count(series)) << series << " written twice";
    out[series] = line.substr(sp + 1);
  }
  return out;
}

// The families in the order they come, from their TYPE lines.
std::vector<std::string> families_of(const std::string &body) {
  std::vector<std::string> out;
  static const std::regex type_line("# TYPE ([a-z_]+) gauge\n");
  for (std::sregex_iterator i(body.begin(), body.end(), type_line), e; i != e; ++i)
    out.push_back((*i)[1]);
  return out;
}

// The numbers of a JSON object's key, in reply order.
std::vector<std::string> json_values(const std::string &body, const std::string &key) {
  std::vector<std::string> out;
  std::regex re("\"" + key + "\":(\"(?:[^\"\\\\]|\\\\.)*\"|[^,}\\]]+)");
  for (std::sregex_iterator i(body.begin(), body.end(), re), e; i != e; ++i)
    out.push_back((*i)[1]);
  return out;
}

class Metrics : public ::testing::Test {
 protected:
  void SetUp() override {
    fake_reset();
    fake.home = "C:\\Users\\u";
    fake.root_space = {1000000, 400000, 300000, 0, 0, 0, 0};
  }
  void TearDown() override { EXPECT_EQ(0, fake.open_handles); }
};

// The whole reply of a machine with a read-only drive, one that does not
// answer by the deadline and one still stuck since an earlier request.
TEST_F(Metrics, HeaderAndDriveFamilies) {
  fake_add_drive(DRIVE_LETTERS, "C:\\", "C:\\", 1000, 400, 300);
  fake_drive *d = fake_add_drive(DRIVE_LETTERS, "D:\\", "D:\\", 5000, 10, 10);
  d->space.readonly = 1;
  d->fs_name = "CDFS";
  fake_add_drive(DRIVE_LETTERS, "E:\\", "E:\\", 900, 1, 1)->hangs = 1;
  fake_add_drive(DRIVE_LETTERS, "F:\\", "F:\\", 900, 1, 1)->stuck = 1;
  const char *label_c = "{device=\"C:\\\\\",fstype=\"NTFS\",mountpoint=\"C:\\\\\"}";
  const char *label_d = "{device=\"D:\\\\\",fstype=\"CDFS\",mountpoint=\"D:\\\\\"}";
  std::string want =
      std::string("Content-Type: text/plain; version=0.0.4; charset=utf-8\r\n"
                  "Cache-Control: no-store\r\n"
                  "X-Content-Type-Options: nosniff\r\n\r\n") +
      "# HELP disks_info The version of plugin_disks and its platform; always 1.\n"
      "# TYPE disks_info gauge\n"
      "disks_info{version=\"1.0.2\",platform=\"windows\"} 1\n"
      "# HELP disks_filesystem_size_bytes Size of the file system in bytes.\n"
      "# TYPE disks_filesystem_size_bytes gauge\n"
      "disks_filesystem_size_bytes" + label_d + " 5000\n"
      "disks_filesystem_size_bytes" + label_c + " 1000\n"
      "# HELP disks_filesystem_free_bytes Free bytes of the file system.\n"
      "# TYPE disks_filesystem_free_bytes gauge\n"
      "disks_filesystem_free_bytes" + label_d + " 10\n"
      "disks_filesystem_free_bytes" + label_c + " 400\n"
      "# HELP disks_filesystem_avail_bytes Bytes of the file system free for the user the program runs as.\n"
      "# TYPE disks_filesystem_avail_bytes gauge\n"
      "disks_filesystem_avail_bytes" + label_d + " 10\n"
      "disks_filesystem_avail_bytes" + label_c + " 300\n"
      "# HELP disks_filesystem_readonly 1 when the file system cannot be written: "
      "mounted read-only, read-only by nature, or made read-only by its own file system.\n"
      "# TYPE disks_filesystem_readonly gauge\n"
      "disks_filesystem_readonly" + label_d + " 1\n"
      "disks_filesystem_readonly" + label_c + " 0\n"
      "# HELP disks_filesystem_forced_readonly 1 when the file system itself went "
      "read-only beneath a writable mount (the kernel stops writes so after an error), "
      "else 0.\n"
      "# TYPE disks_filesystem_forced_readonly gauge\n"
      "disks_filesystem_forced_readonly" + label_d + " 0\n"
      "disks_filesystem_forced_readonly" + label_c + " 0\n"
      "# HELP disks_filesystem_device_error 1 when the file system did not answer "
      "within the deadline or is still stuck since an earlier request (it then has "
      "no other series), 0 when it answered.\n"
      "# TYPE disks_filesystem_device_error gauge\n"
      "disks_filesystem_device_error" + label_d + " 0\n"
      "disks_filesystem_device_error" + label_c + " 0\n"
      "disks_filesystem_device_error{device=\"E:\\\\\",fstype=\"\",mountpoint=\"E:\\\\\"} 1\n"
      "disks_filesystem_device_error{device=\"F:\\\\\",fstype=\"\",mountpoint=\"F:\\\\\"} 1\n";
  EXPECT_EQ(want, reply_for("action=metrics"));
  // One pass over the drive list, one probe for the drives that may hang;
  // the stuck one is not asked at all.
  EXPECT_EQ(1, fake.listings);
  EXPECT_EQ(1, fake.probes);
  EXPECT_EQ(0, fake.drives[3].asked);
}

// Every figure is the mounts reply's for the same drive, inode figures
// only where the drive tells them.
TEST_F(Metrics, SameFiguresAsTheMountsReply) {
  struct row {
    const char *device, *mount, *fstype;
    uint64_t total, free_bytes, avail, inodes, inodes_free;
  } rows[] = {
      {"/dev/sda1", "/", "ext4", 1ull << 40, 1ull << 38, 1ull << 37, 65536, 1000},
      {"srv:/x", "/mnt/a b", "nfs", 5000, 6000, 7000, 0, 0},
      {"tmpfs", "/run", "tmpfs", 4096, 0, 0, 10, 20},
  };
  uint64_t dev = 1;
  for (const row &r : rows) {
    fake_drive *d = fake_add_drive(DRIVE_MOUNT_TABLE, r.device, r.mount, r.total,
                                   r.free_bytes, r.avail);
    snprintf(d->row.fstype, sizeof d->row.fstype, "%s", r.fstype);
    d->row.dev_id = dev++;
    d->space.inodes_total = r.inodes;
    d->space.inodes_free = r.inodes_free;
    d->space.has_inodes = r.inodes > 0;
  }
  std::string json = body_of(reply_for("action=mounts"));
  auto samples = samples_of(body_of(reply_for("action=metrics")));
  auto devices = json_values(json, "device"), mounts = json_values(json, "mount"),
       types = json_values(json, "fstype"), totals = json_values(json, "total_bytes"),
       frees = json_values(json, "free_bytes"), avails = json_values(json, "avail_bytes"),
       inodes = json_values(json, "inodes_total"), used = json_values(json, "inodes_used"),
       has = json_values(json, "has_inodes");
  ASSERT_EQ(3u, devices.size());
  size_t drive_series = 0;
  for (size_t i = 0; i < devices.size(); i++) {
    std::string labels = "{device=" + devices[i] + ",fstype=" + types[i] +
                         ",mountpoint=" + mounts[i] + "}";
    EXPECT_EQ(totals[i], samples["disks_filesystem_size_bytes" + labels]) << labels;
    EXPECT_EQ(frees[i], samples["disks_filesystem_free_bytes" + labels]) << labels;
    EXPECT_EQ(avails[i], samples["disks_filesystem_avail_bytes" + labels]) << labels;
    EXPECT_EQ("0", samples["disks_filesystem_readonly" + labels]) << labels;
    EXPECT_EQ("0", samples["disks_filesystem_forced_readonly" + labels]) << labels;
    EXPECT_EQ("0", samples["disks_filesystem_device_error" + labels]) << labels;
    drive_series += 6;
    if (has[i] == "true") {
      EXPECT_EQ(inodes[i], samples["disks_filesystem_files" + labels]);
      EXPECT_EQ(std::to_string(std::stoull(inodes[i]) - std::stoull(used[i])),
                samples["disks_filesystem_files_free" + labels]);
      drive_series += 2;
    } else {
      EXPECT_EQ(0u, samples.count("disks_filesystem_files" + labels));
    }
  }
  // Nothing else but disks_info.
  EXPECT_EQ(drive_series + 1, samples.size());
}

// Mount points that differ only in bytes that are not UTF-8 give the same
// labels: one series each, the larger drive's; a drive that did not
// answer with the labels of a listed one adds no second device_error.
TEST_F(Metrics, DrivesWithTheSameLabelsGiveOneSeries) {
  struct row {
    const char *mount;
    uint64_t total;
    int hangs;
  } rows[] = {
      {"/x/a\xff", 1000, 0}, {"/x/a\xfe", 5000, 0}, {"/x/b", 700, 0},
      {"/x/a\xfd", 900, 1},  {"/x/c\xff", 100, 1},  {"/x/c\xfe", 100, 1},
  };
  uint64_t dev = 1;
  for (const row &r : rows) {
    fake_drive *d = fake_add_drive(DRIVE_MOUNT_TABLE, "srv:/x", r.mount, r.total, 10, 10);
    snprintf(d->row.fstype, sizeof d->row.fstype, "nfs");
    d->row.dev_id = dev++;
    d->hangs = r.hangs;
  }
  std::string body = body_of(reply_for("action=metrics"));
  auto samples = samples_of(body);
  const std::string a = "{device=\"srv:/x\",fstype=\"nfs\",mountpoint=\"/x/a\xEF\xBF\xBD\"}";
  const std::string b = "{device=\"srv:/x\",fstype=\"nfs\",mountpoint=\"/x/b\"}";
  const std::string c = "{device=\"srv:/x\",fstype=\"nfs\",mountpoint=\"/x/c\xEF\xBF\xBD\"}";
  EXPECT_EQ("5000", samples["disks_filesystem_size_bytes" + a]);
  EXPECT_EQ("700", samples["disks_filesystem_size_bytes" + b]);
  EXPECT_EQ("0", samples["disks_filesystem_device_error" + a]);
  EXPECT_EQ("1", samples["disks_filesystem_device_error" + c]);
  // Each series once: no line of the reply repeats the labels of another.
  std::map<std::string, int> seen;
  std::istringstream lines(body);
  for (std::string line; std::getline(lines, line);) {
    if (line.empty() || line[0] == '#') continue;
    EXPECT_EQ(1, ++seen[line.substr(0, line.rfind(' '))]) << line;
  }
  // disks_info; size, free, avail, readonly and forced_readonly of a and b;
  // device_error of a, b and c.
  EXPECT_EQ(14u, seen.size());
}

// What the file systems have recorded: read-only for any reason, forced
// read-only beneath a writable mount, the error count (a counter) where
// the platform keeps one and the last error's time where one is told.
TEST_F(Metrics, ErrorFamilies) {
  struct row {
    const char *mount, *fstype;
    int mount_ro, super_ro, emergency_ro, has_count;
    uint64_t count;
    int64_t last;
    const char *readonly, *forced, *errors, *last_error;  // nullptr: no series
  } rows[] = {
      {"/srv/bad", "ext4", 0, 0, 1, 1, 2, 1796984049, "1", "1", "2", "1796984049"},
      {"/old", "ext4", 0, 1, 0, 1, 1, 1700000000, "1", "1", "1", "1700000000"},
      {"/srv/good", "ext4", 0, 0, 0, 1, 0, 0, "0", "0", "0", nullptr},
      {"/cont", "ext4", 0, 0, 0, 1, 4, 0, "0", "0", "4", nullptr},
      {"/snap/a", "squashfs", 0, 1, 0, 0, 0, 0, "1", "0", nullptr, nullptr},
      {"/ro", "ext4", 1, 1, 0, 1, 0, 0, "1", "0", "0", nullptr},
      {"/btr", "btrfs", 0, 1, 0, 0, 0, 0, "1", "1", nullptr, nullptr},
      {"/run", "tmpfs", 0, 0, 0, 0, 0, 0, "0", "0", nullptr, nullptr},
  };
  uint64_t dev = 1;
  for (const row &r : rows) {
    fake_drive *d = fake_add_drive(DRIVE_MOUNT_TABLE, "/dev/x", r.mount, 1000 - dev, 10, 10);
    snprintf(d->row.fstype, sizeof d->row.fstype, "%s", r.fstype);
    d->row.dev_id = dev++;
    d->row.mount_ro = r.mount_ro;
    d->row.super_ro = r.super_ro;
    d->row.emergency_ro = r.emergency_ro;
    d->space.readonly = r.mount_ro || r.super_ro;
    d->has_errors = r.has_count;
    d->errors = {r.has_count, r.count, r.last, 0, 0};
  }
  std::string body = body_of(reply_for("action=metrics"));
  auto samples = samples_of(body);
  for (const row &r : rows) {
    std::string labels = std::string("{device=\"/dev/x\",fstype=\"") + r.fstype +
                         "\",mountpoint=\"" + r.mount + "\"}";
    EXPECT_EQ(r.readonly, samples["disks_filesystem_readonly" + labels]) << labels;
    EXPECT_EQ(r.forced, samples["disks_filesystem_forced_readonly" + labels]) << labels;
    const char *fam[] = {"disks_filesystem_errors_total",
                         "disks_filesystem_last_error_timestamp_seconds"};
    const char *want[] = {r.errors, r.last_error};
    for (int i = 0; i < 2; i++) {
      if (want[i])
        EXPECT_EQ(want[i], samples[fam[i] + labels]) << fam[i] << labels;
      else
        EXPECT_EQ(0u, samples.count(fam[i] + labels)) << fam[i] << labels;
    }
  }
  EXPECT_NE(std::string::npos,
            body.find("# HELP disks_filesystem_errors_total Errors the file system has "
                      "recorded since a check last cleared them (ext2/3/4).\n"
                      "# TYPE disks_filesystem_errors_total counter\n"));
  EXPECT_NE(std::string::npos,
            body.find("# TYPE disks_filesystem_last_error_timestamp_seconds gauge\n"));
  // The families in their order, each whole.
  std::vector<std::string> order;
  static const std::regex type_line("# TYPE ([a-z_]+) (gauge|counter)\n");
  for (std::sregex_iterator i(body.begin(), body.end(), type_line), e; i != e; ++i)
    order.push_back((*i)[1]);
  EXPECT_EQ((std::vector<std::string>{
                "disks_info", "disks_filesystem_size_bytes", "disks_filesystem_free_bytes",
                "disks_filesystem_avail_bytes", "disks_filesystem_readonly",
                "disks_filesystem_forced_readonly", "disks_filesystem_errors_total",
                "disks_filesystem_last_error_timestamp_seconds",
                "disks_filesystem_device_error"}),
            order);
  // The metrics reply asks each drive once.
  EXPECT_EQ(8, fake.errors_asked);
}

// Without a drive that keeps an error count, the error families are left
// out whole.
TEST_F(Metrics, NoErrorFamiliesWithoutCounts) {
  fake_add_drive(DRIVE_LETTERS, "C:\\", "C:\\", 1000, 400, 300);
  std::string body = body_of(reply_for("action=metrics"));
  EXPECT_EQ(std::string::npos, body.find("disks_filesystem_errors_total"));
  EXPECT_EQ(std::string::npos, body.find("disks_filesystem_last_error"));
}

TEST_F(Metrics, NoDrivesNoDriveFamilies) {
  fake.drive_list_fails = 1;
  EXPECT_EQ(std::vector<std::string>{"disks_info"},
            families_of(body_of(reply_for("action=metrics"))));
}

struct label_case {
  std::string in, out;
};

TEST(MetricsLabels, EscapedAndRepaired) {
  const label_case cases[] = {
      {"", "\"\""},
      {"plain name.txt", "\"plain name.txt\""},
      {"q\"uote", "\"q\\\"uote\""},
      {"back\\slash", "\"back\\\\slash\""},
      {"new\nline", "\"new\\nline\""},
      // The format escapes nothing else: a tab, a CR and other control
      // bytes stay as they are (valid UTF-8).
      {"t\tb\rc\x01" "d\x7f", "\"t\tb\rc\x01" "d\x7f\""},
      {"M\xC3\xBAsica \xE6\x97\xA5 \xF0\x9F\x98\x80", "\"M\xC3\xBAsica \xE6\x97\xA5 \xF0\x9F\x98\x80\""},
      // Each byte that begins no well-formed sequence is U+FFFD, as in
      // every JSON reply: Latin-1, a lone 0xFF, a cut sequence, an overlong
      // form, a surrogate.
      {"d\xE9j\xE0", "\"d\xEF\xBF\xBDj\xEF\xBF\xBD\""},
      {"\xFF", "\"\xEF\xBF\xBD\""},
      {"cut\xE2\x82", "\"cut\xEF\xBF\xBD\xEF\xBF\xBD\""},
      {"\xC0\xAF", "\"\xEF\xBF\xBD\xEF\xBF\xBD\""},
      {"\xED\xA0\x80", "\"\xEF\xBF\xBD\xEF\xBF\xBD\xEF\xBF\xBD\""},
      {"\"\\\n\xFF", "\"\\\"\\\\\\n\xEF\xBF\xBD\""},
  };
  for (const label_case &c : cases)
    EXPECT_EQ(c.out, capture_reply([&c] { metrics_label_value(c.in.c_str()); })) << c.in;
}

TEST(MetricsLabels, EqualWhenTheyWriteTheSame) {
  struct row {
    const char *a, *b;
    int equal;
  } rows[] = {
      {"", "", 1},        {"a", "a", 1},          {"a", "ab", 0},
      {"ab", "a", 0},     {"\xFF", "\xFE", 1},    {"x\xE9", "x\xE8", 1},
      {"\xFF", "\xEF\xBF\xBD", 1},  // U+FFFD itself writes the same
      {"\xE2\x82", "\xFF\xFF", 1},  {"\xE2\x82", "\xFF", 0},
      {"\xC3\xA9", "\xC3\xA8", 0},  {"a\"", "a\\", 0},
  };
  for (const row &r : rows)
    EXPECT_EQ(r.equal, metrics_label_equal(r.a, r.b)) << r.a << " / " << r.b;
}

// The whole value is decoded before it is judged, whatever its length.
TEST(MetricsTop, Parsed) {
  struct row {
    const char *qs;
    int top;
  } rows[] = {
      {"action=metrics", 20},       {"top=", 20},          {"top=0", 0},
      {"top=1", 1},                 {"top=20", 20},        {"top=0512", 512},
      {"top=512", 512},             {"top=513", 512},      {"top=99999999999999", 512},
      {"top=000000000000000512", 512},  {"top=00000000000000000000000000007", 7},
      {"top=-1", 20},               {"top=+5", 20},        {"top=%205", 20},
      {"top=5%20", 20},             {"top=1e3", 20},       {"top=x", 20},
      {"top=2%00x", 20},            {"top=2%00", 20},      {"top=%35", 5},
      {"top=1%3", 20},              {"top=7&top=9", 7},    {"a=1&top=12&b=2", 12},
  };
  for (const row &r : rows)
    EXPECT_EQ(r.top, get_query_count(r.qs, "top", MAX_DIR_ENTRIES, METRICS_TOP_DEFAULT))
        << r.qs;
}

// A tree whose entries differ in size and in what they take on disk.
void home_tree() {
  int docs = fake_add(-1, "Documents", 0, 1);
  int a = fake_add(docs, "a.pdf", 5000, 0);
  fake.nodes[a].disk_size = 8192;
  int b = fake_add(docs, "b.txt", 10, 0);
  fake.nodes[b].disk_size = 4096;
  int img = fake_add(-1, "disk.img", 1000000, 0);  // sparse: large, little on disk
  fake.nodes[img].disk_size = 4096;
  int song = fake_add(-1, "song \"live\"\n.flac", 30000, 0);
  fake.nodes[song].disk_size = 32768;
  int tiny = fake_add(-1, "back\\slash", 1, 0);
  fake.nodes[tiny].disk_size = 4096;
}

// The home series are the dirs&detail=1 reply's figures of the same walk.
TEST_F(Metrics, HomeSeriesAreTheDetailReplys) {
  home_tree();
  std::string json = body_of(reply_for("action=dirs&root=home&detail=1"));
  fake_reset();
  SetUp();
  home_tree();
  std::string body = body_of(reply_for("action=metrics&root=home"));
  auto s = samples_of(body);
  EXPECT_EQ(json_values(json, "folder_bytes")[0], s["disks_home_bytes"]);
  EXPECT_EQ(json_values(json, "folder_disk_bytes")[0], s["disks_home_disk_bytes"]);
  EXPECT_EQ(json_values(json, "folder_items")[0], s["disks_home_items"]);
  EXPECT_EQ("null", json_values(json, "folder_partial")[0]);
  EXPECT_EQ("0", s["disks_home_partial"]);
  EXPECT_EQ("0.000", s["disks_home_walk_seconds"]);
  // Each entry of the reply, by its name: both figures.
  std::string entries = json.substr(0, json.find("\"largest\":["));
  // A folder's children are no entries of their own.
  for (size_t at; (at = entries.find(",\"children\":[")) != std::string::npos;)
    entries.erase(at, entries.find(']', at) + 1 - at);
  std::vector<std::string> names = json_values(entries, "name");
  std::vector<std::string> bytes = json_values(entries, "bytes");
  std::vector<std::string> disk = json_values(entries, "disk_bytes");
  ASSERT_EQ(4u, names.size());
  for (size_t i = 0; i < names.size(); i++) {
    // A label value and a JSON string escape the same way here: no control
    // byte but the line feed.
    std::string label = "{entry=" + names[i] + "}";
    EXPECT_EQ(bytes[i], s["disks_home_entry_bytes" + label]) << label;
    EXPECT_EQ(disk[i], s["disks_home_entry_disk_bytes" + label]) << label;
  }
  // Largest on disk first, whatever the size.
  size_t song = body.find("disks_home_entry_bytes{entry=\"song");
  size_t docs = body.find("disks_home_entry_bytes{entry=\"Documents");
  size_t img = body.find("disks_home_entry_bytes{entry=\"disk.img");
  size_t slash = body.find("disks_home_entry_bytes{entry=\"back");
  EXPECT_LT(song, docs);
  EXPECT_LT(docs, img);
  EXPECT_LT(img, slash);  // equal on disk: larger size first
  std::vector<std::string> want = {
      "disks_info",
      "disks_home_bytes",
      "disks_home_disk_bytes",
      "disks_home_items",
      "disks_home_partial",
      "disks_home_walk_seconds",
      "disks_home_entry_bytes",
      "disks_home_entry_disk_bytes",
      "disks_home_age_files",
      "disks_home_age_bytes",
      "disks_home_age_disk_bytes",
      "disks_home_type_files",
      "disks_home_type_bytes",
      "disks_home_type_disk_bytes",
  };
  EXPECT_EQ(want, families_of(body));  // the fake machine has no drives
  // Each band and each type of the reply (the others' row aside): its
  // three figures.
  std::string kinds = json.substr(json.find("\"types\":["));
  std::vector<std::string> label = json_values(kinds, "type");
  std::vector<std::string> age = json_values(kinds, "age");
  std::vector<std::string> files = json_values(kinds, "files");
  std::vector<std::string> kbytes = json_values(kinds, "bytes");
  std::vector<std::string> kdisk = json_values(kinds, "disk_bytes");
  ASSERT_EQ(5u, label.size());  // pdf, flac, img, txt, none
  ASSERT_EQ(6u, age.size());
  ASSERT_EQ(11u, files.size());
  for (size_t i = 0; i < files.size(); i++) {
    std::string series = i < label.size() ? "{type=" + label[i] + "}" : "{age=" + age[i - label.size()] + "}";
    std::string kind = i < label.size() ? "type" : "age";
    EXPECT_EQ(files[i], s["disks_home_" + kind + "_files" + series]) << series;
    EXPECT_EQ(kbytes[i], s["disks_home_" + kind + "_bytes" + series]) << series;
    EXPECT_EQ(kdisk[i], s["disks_home_" + kind + "_disk_bytes" + series]) << series;
  }
  EXPECT_EQ("1", s["disks_home_type_files{type=\"\"}"]);  // back\\slash: no extension
  EXPECT_EQ("5", s["disks_home_age_files{age=\"unknown\"}"]);  // no time told
}

// The ten largest types get series, the others none: the series stay
// bounded whatever the tree holds. A type's label is escaped as any.
TEST_F(Metrics, TheTenLargestTypesAndTheSixBands) {
  for (int i = 0; i < 30; i++) {
    char name[16];
    snprintf(name, sizeof name, "f.t%02d", i);
    int n = fake_add(-1, name, 1, 0);
    fake.nodes[n].disk_size = 4096 * (uint64_t)(i + 1);
    fake.nodes[n].has_mtime = 1;
    fake.nodes[n].mtime = fake.now - 86400 * 40;
  }
  int q = fake_add(-1, "odd.A\"b", 1, 0);
  fake.nodes[q].disk_size = 1 << 30;
  auto s = samples_of(body_of(reply_for("action=metrics&root=home")));
  size_t types = 0, bands = 0;
  for (auto &kv : s) {
    types += kv.first.rfind("disks_home_type_disk_bytes{", 0) == 0;
    bands += kv.first.rfind("disks_home_age_disk_bytes{", 0) == 0;
  }
  EXPECT_EQ(10u, types);
  EXPECT_EQ(6u, bands);
  EXPECT_EQ("1073741824", s["disks_home_type_disk_bytes{type=\"a\\\"b\"}"]);
  EXPECT_EQ("122880", s["disks_home_type_disk_bytes{type=\"t29\"}"]);
  EXPECT_EQ("90112", s["disks_home_type_disk_bytes{type=\"t21\"}"]);
  EXPECT_EQ(0u, s.count("disks_home_type_disk_bytes{type=\"t20\"}"));
  EXPECT_EQ("30", s["disks_home_age_files{age=\"year\"}"]);
  EXPECT_EQ("1", s["disks_home_age_files{age=\"unknown\"}"]);
  EXPECT_EQ("0", s["disks_home_age_files{age=\"day\"}"]);
}

TEST_F(Metrics, TopLimitsTheEntrySeries) {
  home_tree();
  struct row {
    const char *qs;
    size_t entries;
  } rows[] = {
      {"action=metrics&root=home", 4},
      {"action=metrics&root=home&top=2", 2},
      {"action=metrics&root=home&top=512", 4},
      {"action=metrics&root=home&top=x", 4},
      {"action=metrics&root=home&top=0", 0},
  };
  for (const row &r : rows) {
    std::string body = body_of(reply_for(r.qs));
    size_t n = 0;
    for (auto &kv : samples_of(body)) n += kv.first.rfind("disks_home_entry_disk_bytes{", 0) == 0;
    EXPECT_EQ(r.entries, n) << r.qs;
    EXPECT_EQ(r.entries > 0, body.find("# TYPE disks_home_entry_bytes") != std::string::npos) << r.qs;
  }
  std::string two = body_of(reply_for("action=metrics&root=home&top=2"));
  EXPECT_NE(std::string::npos, two.find("disks_home_entry_disk_bytes{entry=\"song \\\"live\\\"\\n.flac\"} 32768\n"));
  EXPECT_NE(std::string::npos, two.find("disks_home_entry_disk_bytes{entry=\"Documents\"} 12288\n"));
}

TEST_F(Metrics, TwentyByDefault) {
  for (int i = 0; i < 30; i++) {
    char name[8];
    snprintf(name, sizeof name, "f%02d", i);
    int n = fake_add(-1, name, 100, 0);
    fake.nodes[n].disk_size = 4096 * (uint64_t)(i + 1);
  }
  std::string body = body_of(reply_for("action=metrics&root=home"));
  auto s = samples_of(body);
  // f29 .. f10: the twenty largest on disk.
  for (int i = 0; i < 30; i++) {
    char series[64];
    snprintf(series, sizeof series, "disks_home_entry_disk_bytes{entry=\"f%02d\"}", i);
    EXPECT_EQ(i >= 10, s.count(series) == 1) << series;
  }
}

// Two names that write the same label value give one series: the one
// larger on disk.
TEST_F(Metrics, OneSeriesPerLabelValue) {
  int a = fake_add(-1, "x\xE9", 10, 0);
  fake.nodes[a].disk_size = 4096;
  int b = fake_add(-1, "x\xE8", 20, 0);
  fake.nodes[b].disk_size = 8192;
  auto s = samples_of(body_of(reply_for("action=metrics&root=home")));
  EXPECT_EQ("20", s["disks_home_entry_bytes{entry=\"x\xEF\xBF\xBD\"}"]);
  EXPECT_EQ("8192", s["disks_home_entry_disk_bytes{entry=\"x\xEF\xBF\xBD\"}"]);
}

TEST_F(Metrics, PartialAndStalledWalks) {
  int locked = fake_add(-1, "locked", 0, 1);
  fake.nodes[locked].unlistable = 1;
  fake_add(-1, "f", 5, 0);
  auto s = samples_of(body_of(reply_for("action=metrics&root=home")));
  EXPECT_EQ("1", s["disks_home_partial"]);
  EXPECT_EQ("5", s["disks_home_bytes"]);

  // A walk that stops answering is given up: the reply still comes, whole,
  // with the records finished so far, partial.
  fake_reset();
  SetUp();
  fake_add(-1, "a", 7, 0);
  int b = fake_add(-1, "b", 0, 1);
  fake_add(b, "x", 1, 0);
  fake.hang_node = b + 1;
  std::string body = body_of(reply_for("action=metrics&root=home"));
  s = samples_of(body);
  EXPECT_EQ("1", s["disks_home_partial"]);
  // Nothing is known of the files' kinds then: no series rather than zeros.
  EXPECT_EQ(std::string::npos, body.find("disks_home_age_"));
  EXPECT_EQ(std::string::npos, body.find("disks_home_type_"));
  EXPECT_EQ(1, fake.abandoned);
  EXPECT_EQ('\n', body.back());
}

// Every refusal of the listed folder is the dirs action's JSON refusal,
// byte for byte; none writes a line of the text format.
TEST_F(Metrics, RefusedAsDirsRefuses) {
  fake_add(-1, "Documents", 0, 1);
  fake_add(-1, "file.txt", 3, 0);
  struct row {
    const char *rest;
    const char *home;
    const char *error;
  } rows[] = {
      {"&sub=Documents", "C:\\Users\\u", "missing_root"},
      {"&root=workspace", "C:\\Users\\u", "root_unavailable"},
      {"&root=Home", "C:\\Users\\u", "root_not_allowed"},
      {"&root=home", nullptr, "root_unavailable"},
      {"&root=home", "Users\\u", "root_unavailable"},
      {"&root=home&sub=..%2Fx", "C:\\Users\\u", "sub_invalid"},
      {"&root=home&sub=nope", "C:\\Users\\u", "sub_not_found"},
      {"&root=home&sub=file.txt", "C:\\Users\\u", "sub_not_folder"},
  };
  for (const row &r : rows) {
    fake.home = r.home;
    std::string metrics = reply_for(std::string("action=metrics") + r.rest);
    std::string dirs = reply_for(std::string("action=dirs") + r.rest);
    EXPECT_EQ(dirs, metrics) << r.rest;
    EXPECT_NE(std::string::npos, metrics.find(std::string("\"error\":\"") + r.error + "\""))
        << r.rest << ": " << metrics;
    EXPECT_EQ(std::string::npos, metrics.find("# TYPE")) << r.rest;
  }
}

// Without root or sub, or with them empty, the drives alone.
TEST_F(Metrics, HomeOnlyWhenAsked) {
  fake_add(-1, "f", 5, 0);
  for (const char *qs : {"action=metrics", "action=metrics&root=", "action=metrics&sub=",
                         "action=metrics&top=5&detail=1"}) {
    std::string body = body_of(reply_for(qs));
    EXPECT_EQ(std::vector<std::string>{"disks_info"}, families_of(body)) << qs;
    EXPECT_EQ(0, fake.root_opens) << qs;
  }
}

// The new action leaves the JSON API's list of actions as it is.
TEST_F(Metrics, InfoAndUnknownActionKeepTheirList) {
  std::string info = body_of(reply_for("action=info"));
  EXPECT_NE(std::string::npos, info.find("\"supported\":[\"mounts\",\"dirs\",\"info\"],"));
  for (const char *qs : {"action=Metrics", "action=metrics%20", "action=metric"}) {
    std::string body = body_of(reply_for(qs));
    EXPECT_EQ(0u, body.find("{\"ok\":false,\"error\":\"unknown_action\",\"supported\":"
                            "[\"mounts\",\"dirs\",\"info\"],\"requested\":"))
        << qs << ": " << body;
  }
  EXPECT_EQ(0u, reply_for("action=metrics").find("Content-Type: text/plain; version=0.0.4"));
}

}  // namespace
