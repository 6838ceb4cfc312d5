#include <gtest/gtest.h>

#include <algorithm>
#include <string>
#include <vector>

#include "capture.h"
#include "json/actions.h"
#include "walk/walk.h"
#include "plugin.h"
#include "drives/drives.h"
#include "storage/below_rights.h"
#include "storage/fake.h"

namespace {

const char *const stamp = "2025-01-02T03:04:05Z";

std::string dirs_body(const char *root) {
  return body_of(capture_reply([root] { action_dirs(root, "", 0, stamp); }));
}

// The reply for sub given as its decoded bytes (zero bytes included).
std::string sub_body(const std::string &sub, const char *root = "home",
                     int detail = 0) {
  return body_of(capture_reply([&sub, root, detail] {
    action_dirs(root, sub.data(), sub.size(), stamp, detail);
  }));
}

// One listed entry as the reply writes it: name, bytes and kind.
struct listed {
  std::string name;
  uint64_t bytes;
  bool is_dir;
  bool operator==(const listed &o) const {
    return name == o.name && bytes == o.bytes && is_dir == o.is_dir;
  }
};

std::ostream &operator<<(std::ostream &os, const listed &l) {
  return os << "{" << l.name << " " << l.bytes << (l.is_dir ? " dir}" : " file}");
}

std::string field(const std::string &body, const char *key, size_t from = 0) {
  std::string k = std::string("\"") + key + "\":";
  size_t at = body.find(k, from);
  if (at == std::string::npos) return "";
  at += k.size();
  size_t end = body.find_first_of(",}", at);
  if (body[at] == '"') end = body.find('"', at + 1) + 1;
  return body.substr(at, end - at);
}

std::vector<listed> entries_of(const std::string &body) {
  std::vector<listed> out;
  size_t at = body.find("\"entries\":[");
  for (at = body.find("{\"name\":", at); at != std::string::npos;
       at = body.find("{\"name\":", at + 1)) {
    std::string name = field(body, "name", at);
    out.push_back({name.substr(1, name.size() - 2),
                   std::stoull(field(body, "bytes", at)),
                   field(body, "is_dir", at) == "true"});
  }
  return out;
}

class Dirs : public ::testing::Test {
 protected:
  void SetUp() override {
    fake_reset();
    fake.home = "C:\\Users\\u";
    fake.root_space = {1000, 400, 300, 0, 0, 0, 0};
  }
  void TearDown() override { EXPECT_EQ(0, fake.open_handles) << "every listing is closed"; }
};

const std::string allowed = "\"allowed_roots\":[\"workspace\",\"home\"]";

struct refusal_case {
  const char *root;
  const char *home;
  std::string body;
};

TEST_F(Dirs, RootRefusals) {
  const std::string unavailable_ws =
      "{\"ok\":false,\"error\":\"root_unavailable\"," + allowed +
      ",\"requested\":\"workspace\",\"message\":\"this root does not exist on this node\"}\n";
  const std::string unavailable_home =
      "{\"ok\":false,\"error\":\"root_unavailable\"," + allowed +
      ",\"requested\":\"home\",\"message\":\"this root does not exist on this node\"}\n";
  const refusal_case cases[] = {
      {"", "C:\\Users\\u", "{\"ok\":false,\"error\":\"missing_root\"," + allowed + "}\n"},
      {"workspace", "C:\\Users\\u", unavailable_ws},
      {"workspace", nullptr, unavailable_ws},
      {"Home", "C:\\Users\\u",
       "{\"ok\":false,\"error\":\"root_not_allowed\"," + allowed + ",\"requested\":\"Home\"}\n"},
      {"HOME", "C:\\Users\\u",
       "{\"ok\":false,\"error\":\"root_not_allowed\"," + allowed + ",\"requested\":\"HOME\"}\n"},
      {"a\"b", "C:\\Users\\u",
       "{\"ok\":false,\"error\":\"root_not_allowed\"," + allowed + ",\"requested\":\"a\\\"b\"}\n"},
      {"home", "", unavailable_home},
      {"home", nullptr, unavailable_home},
  };
  for (const refusal_case &c : cases) {
    fake.home = c.home;
    EXPECT_EQ(c.body, dirs_body(c.root)) << c.root;
  }
}

// A home path that does not fit the root buffer is refused, not cut; one
// byte less is read as it is.
TEST_F(Dirs, OverLongHomeIsRefused) {
  const std::string fits = "C:\\" + std::string(1020, 'a');
  fake.home = fits.c_str();
  EXPECT_NE(std::string::npos, dirs_body("home").find("\"root\":\"C:\\\\" + std::string(1020, 'a') + "\""));
  const std::string too_long = fits + "b";
  fake.home = too_long.c_str();
  EXPECT_EQ("{\"ok\":false,\"error\":\"root_unavailable\"," + allowed +
                ",\"requested\":\"home\",\"message\":\"the home folder's path is longer than 1023 bytes\"}\n",
            dirs_body("home"));
  EXPECT_EQ(0, fake.open_handles);
}

TEST_F(Dirs, EmptyHomeWholeReply) {
  std::string out = capture_reply([] { action_dirs("home", "", 0, stamp); });
  EXPECT_EQ(
      "Content-Type: application/json; charset=utf-8\r\nCache-Control: no-store\r\n"
      "X-Content-Type-Options: nosniff\r\n\r\n"
      "{\"ok\":true,\"action\":\"dirs\",\"plugin\":\"plugin_disks\",\"platform\":\"windows\","
      "\"root_kind\":\"home\",\"root\":\"C:\\\\Users\\\\u\",\"root_label\":\"$HOME\","
      "\"root_total_bytes\":1000,\"root_used_bytes\":600,\"root_free_bytes\":400,"
      "\"root_pct\":66.7,\"count\":0,\"truncated\":false,\"max_depth\":8,"
      "\"max_scan_entries\":120000,\"scan_ms\":0,\"utc\":\"2025-01-02T03:04:05Z\","
      "\"entries\":[]}\n",
      out);
  EXPECT_STREQ("C:\\", fake.last_volume);
}

TEST_F(Dirs, RootUsageOnlyForDriveForm) {
  struct usage_case {
    const char *home;
    int space_fails;  // 1: the query fails; 2: the volume never answers
    const char *figures;
    const char *entry_pct;
  } cases[] = {
      {"C:\\Users\\u", 0,
       "\"root_total_bytes\":1000,\"root_used_bytes\":600,\"root_free_bytes\":400,\"root_pct\":66.7",
       "50.0"},
      {"1:\\odd", 0,
       "\"root_total_bytes\":1000,\"root_used_bytes\":600,\"root_free_bytes\":400,\"root_pct\":66.7",
       "50.0"},
      {"\\\\server\\share", 0,
       "\"root_total_bytes\":0,\"root_used_bytes\":0,\"root_free_bytes\":0,\"root_pct\":0.0",
       "0.0"},
      {"C:\\Users\\u", 1,
       "\"root_total_bytes\":0,\"root_used_bytes\":0,\"root_free_bytes\":0,\"root_pct\":0.0",
       "0.0"},
      {"C:\\Users\\u", 2,
       "\"root_total_bytes\":0,\"root_used_bytes\":0,\"root_free_bytes\":0,\"root_pct\":0.0",
       "0.0"},
  };
  for (const usage_case &c : cases) {
    fake_reset();
    fake.home = c.home;
    fake.root_space = {1000, 400, 300, 0, 0, 0, 0};
    fake.root_space_fails = c.space_fails == 1;
    fake.root_space_hangs = c.space_fails == 2;
    fake_add(-1, "f", 500, 0);
    std::string body = dirs_body("home");
    EXPECT_NE(std::string::npos, body.find(c.figures)) << c.home;
    EXPECT_EQ(c.entry_pct, field(body, "pct", body.find("entries"))) << c.home;
    EXPECT_EQ("1", field(body, "count")) << c.home;  // the listing goes on
    // The volume is asked with the deadline of the drive list.
    if (fake.probes) {
      EXPECT_EQ(PROBE_DEADLINE_MS, fake.last_deadline_ms);
    }
  }
}

TEST_F(Dirs, SizesAddUpAndSkipRule) {
  int docs = fake_add(-1, "docs", 0, 1);
  fake_add(docs, "a.txt", 100, 0);
  int sub = fake_add(docs, "sub", 0, 1);
  fake_add(sub, "b.bin", 5000000000ull, 0);  // above 4 GiB
  fake.nodes[fake_add(sub, "link-to-big", 777, 0)].is_link = 1;
  fake.nodes[fake_add(docs, "junction", 0, 1)].is_link = 1;
  int mounted = fake_add(docs, "mnt", 0, 1);  // another file system
  fake.nodes[mounted].is_mount = 1;
  fake_add(mounted, "on-the-mount", 1000, 0);
  fake.nodes[fake_add(docs, "bound-file", 64, 0)].is_mount = 1;
  fake_add(-1, ".", 0, 1);
  fake_add(-1, "..", 0, 1);
  fake_add(-1, "", 3, 0);
  fake_add(-1, ".profile", 42, 0);
  fake.nodes[fake_add(-1, "link", 9, 0)].is_link = 1;
  fake.nodes[fake_add(-1, "linkdir", 0, 1)].is_link = 1;
  fake.nodes[fake_add(-1, "usb", 0, 1)].is_mount = 1;
  fake_add(-1, "empty", 0, 1);
  std::vector<listed> expected = {
      {"docs", 5000000100ull, true}, {".profile", 42, false}, {"empty", 0, true}};
  std::string body = dirs_body("home");
  EXPECT_EQ(expected, entries_of(body));
  EXPECT_EQ("3", field(body, "count"));
  EXPECT_EQ("false", field(body, "truncated"));
  EXPECT_NE(std::string::npos, body.find("\"path\":\"C:\\\\Users\\\\u\\\\docs\""));
  EXPECT_EQ("]}\n", body.substr(body.size() - 3));
}

TEST_F(Dirs, TiesByNameBytes) {
  for (const char *n : {"ab", "a", "B", "c"}) fake_add(-1, n, 7, 0);
  fake_add(-1, "big", 8, 0);
  std::vector<listed> expected = {
      {"big", 8, false}, {"B", 7, false}, {"a", 7, false}, {"ab", 7, false}, {"c", 7, false}};
  EXPECT_EQ(expected, entries_of(dirs_body("home")));
}

TEST_F(Dirs, LongNamesAndTrailingSeparator) {
  // The longest name there is, 255 UTF-16 units, is 765 bytes of UTF-8:
  // written whole in name and in path.
  fake.home = "C:\\Users\\u\\";
  std::string name;
  for (int i = 0; i < 255; i++) name += "\xE2\x82\xAC";  // U+20AC, 3 bytes
  fake_add(-1, name.c_str(), 1, 0);
  std::string body = dirs_body("home");
  EXPECT_EQ("\"" + name + "\"", field(body, "name"));
  EXPECT_EQ("\"C:\\\\Users\\\\u\\\\\\\\" + name + "\"", field(body, "path"));
}

TEST_F(Dirs, NamesEqualInTheirFirstBytesStillOrder) {
  // Names are never cut, so two names that differ only past byte 255
  // still come in the order of their bytes.
  std::string common(300, 'n');
  fake_add(-1, (common + "b").c_str(), 4, 0);
  fake_add(-1, (common + "a").c_str(), 4, 0);
  EXPECT_EQ((std::vector<listed>{{common + "a", 4, false}, {common + "b", 4, false}}),
            entries_of(dirs_body("home")));
}

TEST_F(Dirs, EntryCap) {
  struct cap_case {
    int entries;
    const char *count;
    const char *truncated;
  } cases[] = {{512, "512", "false"}, {513, "512", "true"}};
  for (const cap_case &c : cases) {
    fake_reset();
    fake.home = "C:\\u";
    for (int i = 0; i < c.entries; i++) fake_add(-1, ("e" + std::to_string(i)).c_str(), i, 0);
    std::string body = dirs_body("home");
    EXPECT_EQ(c.count, field(body, "count"));
    EXPECT_EQ(c.truncated, field(body, "truncated"));
    // The first 512 enumerated are kept, largest first.
    EXPECT_EQ("\"e511\"", field(body, "name"));
  }
}

TEST_F(Dirs, ScanLimit) {
  // A folder "big" holding n files of 1 byte, then a file "after": 2 + n
  // countable entries in all.
  struct limit_case {
    int files;
    const char *truncated;
    std::vector<listed> entries;
  } cases[] = {
      {119998, "false", {{"big", 119998, true}, {"after", 5, false}}},
      // The root entry that passes the limit is not listed.
      {119999, "true", {{"big", 119999, true}}},
      // The limit trips inside the walk: "big" keeps its partial size.
      {120005, "true", {{"big", 119999, true}}},
  };
  for (const limit_case &c : cases) {
    fake_reset();
    fake.home = "C:\\u";
    fake_add_bulk(fake_add(-1, "big", 0, 1), c.files);
    fake_add(-1, "after", 5, 0);
    std::string body = dirs_body("home");
    EXPECT_EQ(c.truncated, field(body, "truncated")) << c.files;
    EXPECT_EQ(c.entries, entries_of(body)) << c.files;
  }
}

TEST_F(Dirs, TruncationCascade) {
  // root: a/ (b/ with the files that trip the count, then c.txt), d.txt
  int a = fake_add(-1, "a", 0, 1);
  int b = fake_add(a, "b", 0, 1);
  fake_add(a, "c.txt", 1000, 0);
  fake_add(-1, "d.txt", 1, 0);
  fake_add(-1, "e", 0, 1);
  fake_add_bulk(b, MAX_SCAN_ENTRIES);
  scan_state state = {0, 0};
  dir_iter root;
  ASSERT_TRUE(storage_dir_open(&root, nullptr, nullptr, "C:\\u"));
  dir_item item;
  ASSERT_TRUE(storage_dir_next(&root, &item));  // "a"
  state.scanned = 1;
  // a counts b (2), b counts 119998 files (to 120000) and trips on the next;
  // a then trips on c.txt, which adds nothing.
  EXPECT_EQ(119998u, sum_dir_win(1, &state, &root, "a"));
  EXPECT_EQ(1, state.truncated);
  EXPECT_EQ(120002u, state.scanned);
  // Once truncated, no folder is opened.
  EXPECT_EQ(0u, sum_dir_win(1, &state, &root, "e"));
  storage_dir_close(&root);

  std::string body = dirs_body("home");
  EXPECT_EQ("true", field(body, "truncated"));
  EXPECT_EQ((std::vector<listed>{{"a", 119998, true}}), entries_of(body));
}

// A chain of folders l1/l2/.../l9 inside parent with a file in each.
// Listed from parent, the file inside l8 (level 9) counts, the one inside
// l9 (level 10) does not: returns the size l1 then shows.
uint64_t add_depth_chain(int parent) {
  parent = fake_add(parent, "l1", 0, 1);
  fake_add(parent, "f", 1, 0);
  for (int level = 2; level <= 9; level++) {
    parent = fake_add(parent, ("l" + std::to_string(level)).c_str(), 0, 1);
    fake_add(parent, "f", 1ull << level, 0);
  }
  uint64_t expected = 1;
  for (int level = 2; level <= 8; level++) expected += 1ull << level;
  return expected;
}

TEST_F(Dirs, DepthLimit) {
  uint64_t expected = add_depth_chain(-1);
  std::string body = dirs_body("home");
  EXPECT_EQ((std::vector<listed>{{"l1", expected, true}}), entries_of(body));
  EXPECT_EQ("false", field(body, "truncated"));

  scan_state state = {0, 0};
  EXPECT_EQ(0u, sum_dir_win(MAX_DEPTH + 1, &state, nullptr, nullptr));
  EXPECT_EQ(0u, state.scanned);
}

TEST_F(Dirs, UnlistableFolders) {
  int locked = fake_add(-1, "locked", 0, 1);
  fake_add(locked, "secret", 100, 0);
  fake.nodes[locked].unlistable = 1;
  int open = fake_add(-1, "open", 0, 1);
  int inner = fake_add(open, "inner", 0, 1);
  fake_add(inner, "x", 50, 0);
  fake.nodes[inner].unlistable = 1;
  fake_add(open, "y", 7, 0);
  std::string body = dirs_body("home");
  EXPECT_EQ((std::vector<listed>{{"open", 7, true}, {"locked", 0, true}}), entries_of(body));
  EXPECT_EQ("false", field(body, "truncated"));

  // A home that opens but cannot be listed is refused, not listed empty.
  fake.root_unlistable = 1;
  EXPECT_EQ("{\"ok\":false,\"error\":\"root_unavailable\"," + allowed +
                ",\"requested\":\"home\",\"message\":\"the home folder cannot be read\"}\n",
            dirs_body("home"));
}

// A home that cannot be listed is refused with why, for the home listing
// and for a sub folder alike (the home is opened first); an empty one is
// listed.
TEST_F(Dirs, HomeRefusals) {
  struct home_case {
    const char *home;
    int reason;  // what the storage layer says of the home
    const char *message;  // NULL: listed, count 0
  } cases[] = {
      {"C:\\Users\\u", BELOW_MISSING, "the home folder does not exist"},
      {"C:\\Users\\u", BELOW_NOT_DIR, "the home folder is not a folder"},
      {"C:\\Users\\u", BELOW_UNREADABLE, "the home folder cannot be read"},
      {"Users\\u", 0, "the home folder's path is not absolute"},
      {"C:Users", 0, "the home folder's path is not absolute"},
      {"\\Users", 0, "the home folder's path is not absolute"},
      {"\\\\server\\share", 0, nullptr},
      {"C:\\Users\\u", 0, nullptr},
  };
  // The refusal is the same with detail=1, and frees what the detail
  // reply would have needed.
  for (const home_case &c : cases) {
    for (const char *sub : {"", "Music"})
    for (int detail : {0, 1}) {
      fake_reset();
      fake.home = c.home;
      fake.root_reason = c.reason;
      if (sub[0]) fake_add(-1, "Music", 0, 1);
      std::string body = sub_body(sub, "home", detail);
      if (c.message) {
        EXPECT_EQ("{\"ok\":false,\"error\":\"root_unavailable\"," + allowed +
                      ",\"requested\":\"home\",\"message\":\"" + c.message + "\"}\n",
                  body) << c.home << " " << c.reason << " " << sub << " " << detail;
        EXPECT_EQ(0, fake.below_opens) << "a sub below it is never looked at";
      } else {
        EXPECT_EQ("0", field(body, "count")) << c.home << " " << sub;
        EXPECT_EQ("false", field(body, "truncated"));
      }
    }
  }
}

TEST_F(Dirs, PathsOfAnyLength) {
  // A root path of 1000 bytes and folders whose paths reach far past 1023
  // bytes: every one inside the depth limit is walked, and each listed
  // path is written whole.
  std::string home = "C:\\" + std::string(997, 'h');
  fake.home = home.c_str();
  int sub = fake_add(-1, "sub", 0, 1);
  fake_add(sub, "file", 10, 0);
  int deep = sub;
  for (int level = 2; level <= 8; level++)
    deep = fake_add(deep, std::string(200, (char)('0' + level)).c_str(), 0, 1);
  fake_add(deep, "found", 1000, 0);
  std::string long_name(255, 'w');
  int wide = fake_add(-1, long_name.c_str(), 0, 1);
  fake_add(wide, "found", 1000, 0);
  std::string body = dirs_body("home");
  std::vector<listed> expected = {{"sub", 1010, true}, {long_name, 1000, true}};
  EXPECT_EQ(expected, entries_of(body));
  size_t at = body.find("\"name\":\"" + long_name + "\"");
  EXPECT_EQ("\"C:\\\\" + std::string(997, 'h') + "\\\\" + long_name + "\"",
            field(body, "path", at));
}

// What each kind of reparse point counts for: a link is neither listed
// nor walked; any other reparse point is data, counted at its size (a file)
// or walked (a folder), except a folder whose listing is not on this
// machine, which is listed with 0 and never opened.
TEST_F(Dirs, ReparsePointsByTag) {
  struct reparse_case {
    const char *what;
    uint32_t tag;
    int is_dir;
    int recall_on_open, recall_on_data_access, offline;
    bool listed;
    uint64_t bytes;  // when listed
    bool opened;     // the folder was asked to open
  };
  const uint32_t SYMLINK = 0xA000000C, MOUNT_POINT = 0xA0000003,
                 CLOUD = 0x9000001A, CLOUD_3 = 0x9000301A, DEDUP = 0x80000013,
                 WOF = 0x80000017, UNKNOWN = 0x00001234, WSL_LINK = 0xA000001D;
  const reparse_case cases[] = {
      {"symbolic link to a file", SYMLINK, 0, 0, 0, 0, false, 0, false},
      {"symbolic link to a folder", SYMLINK, 1, 0, 0, 0, false, 0, false},
      {"junction or mount point", MOUNT_POINT, 1, 0, 0, 0, false, 0, false},
      {"WSL symbolic link", WSL_LINK, 0, 0, 0, 0, false, 0, false},
      {"tag 0 (Wine's Unix symbolic link)", 0, 1, 0, 0, 0, false, 0, false},
      {"tag 0 on a file", 0, 0, 0, 0, 0, false, 0, false},
      {"cloud placeholder file", CLOUD, 0, 0, 1, 1, true, 700, false},
      {"cloud file, other tag variant", CLOUD_3, 0, 0, 0, 0, true, 700, false},
      {"cloud folder, populated", CLOUD, 1, 0, 0, 0, true, 40, true},
      {"cloud folder, recall on open", CLOUD, 1, 1, 0, 0, true, 0, false},
      {"cloud folder, recall on data access", CLOUD, 1, 0, 1, 0, true, 0, false},
      {"offline folder", 0, 1, 0, 0, 1, true, 40, true},
      {"deduplicated file", DEDUP, 0, 0, 0, 0, true, 700, false},
      {"WOF compressed file", WOF, 0, 0, 0, 0, true, 700, false},
      {"unknown tag, file", UNKNOWN, 0, 0, 0, 0, true, 700, false},
      {"unknown tag, folder", UNKNOWN, 1, 0, 0, 0, true, 40, true},
  };
  for (const reparse_case &c : cases) {
    fake_reset();
    fake.home = "C:\\u";
    // The same entry once at the root and once inside a plain folder.
    int n = fake_add(-1, "x", c.is_dir ? 0 : 700, c.is_dir);
    int outer = fake_add(-1, "outer", 0, 1);
    fake_add(outer, "plain", 1, 0);
    int inner = fake_add(outer, "x", c.is_dir ? 0 : 700, c.is_dir);
    for (int at : {n, inner}) {
      fake_node &node = fake.nodes[at];
      // Tag 0 on its own is no reparse point; the "offline folder" row is
      // a plain folder with the offline attribute.
      node.is_reparse = c.tag != 0 || std::string(c.what).find("tag 0") != std::string::npos;
      node.reparse_tag = c.tag;
      node.recall_on_open = c.recall_on_open;
      node.recall_on_data_access = c.recall_on_data_access;
      node.offline = c.offline;
      if (c.is_dir) fake_add(at, "data", 40, 0);
    }
    std::vector<listed> expected = {{"outer", 1 + (c.listed ? c.bytes : 0), true}};
    if (c.listed) expected.push_back({"x", c.bytes, c.is_dir != 0});
    std::sort(expected.begin(), expected.end(), [](const listed &a, const listed &b) {
      return a.bytes != b.bytes ? a.bytes > b.bytes : a.name < b.name;
    });
    std::string body = dirs_body("home");
    EXPECT_EQ(expected, entries_of(body)) << c.what;
    EXPECT_EQ(std::to_string(expected.size()), field(body, "count")) << c.what;
    EXPECT_EQ(c.opened ? 1 : 0, fake.nodes[n].opened) << c.what;
    EXPECT_EQ(c.opened ? 1 : 0, fake.nodes[inner].opened) << c.what;
  }
}

TEST_F(Dirs, ReadAheadSpansTheWalkWithItsBounds) {
  // The backend is told the root and the walk's bounds before the first
  // folder is opened, and told to stop once the last one is closed;
  // refusals never start it.
  int sub = fake_add(-1, "sub", 0, 1);
  fake_add(sub, "file", 10, 0);
  fake_add(-1, "top", 3, 0);
  dirs_body("home");
  EXPECT_EQ(1, fake.readahead_begins);
  EXPECT_EQ(1, fake.readahead_ends);
  EXPECT_STREQ("C:\\Users\\u", fake.readahead_root);
  EXPECT_EQ(MAX_DEPTH, fake.readahead_depth);
  EXPECT_EQ(MAX_DIR_ENTRIES, fake.readahead_listed);
  EXPECT_EQ((uint64_t)MAX_SCAN_ENTRIES, fake.readahead_entries);
  EXPECT_EQ(0, fake.opens_at_begin);
  EXPECT_EQ(0, fake.handles_at_begin);
  EXPECT_EQ(2, fake.opens_at_end);
  EXPECT_EQ(0, fake.handles_at_end);

  fake_reset();
  fake.home = "C:\\Users\\u";
  for (const char *root : {"", "workspace", "Home"}) dirs_body(root);
  fake.home = nullptr;
  dirs_body("home");
  EXPECT_EQ(0, fake.readahead_begins);
  EXPECT_EQ(0, fake.readahead_ends);
}

// Music/Rock/{deep/b 1000, a.txt 3}, Music/link (a link), Music/mnt (a
// mount point), Music/locked (cannot be opened), file.txt.
class DirsSub : public Dirs {
 protected:
  void SetUp() override {
    Dirs::SetUp();
    int music = fake_add(-1, "Music", 0, 1);
    int rock = fake_add(music, "Rock", 0, 1);
    fake_add(fake_add(rock, "deep", 0, 1), "b", 1000, 0);
    fake_add(rock, "a.txt", 3, 0);
    fake.nodes[fake_add(music, "link", 0, 1)].is_link = 1;
    fake.nodes[fake_add(music, "mnt", 0, 1)].is_mount = 1;
    fake.nodes[fake_add(music, "locked", 0, 1)].unlistable = 1;
    fake_add(-1, "file.txt", 5, 0);
    // Reparse points as Windows lists them: a junction (a name surrogate),
    // a Unix link under Wine (tag 0), a cloud folder not on this machine,
    // and a deduplicated folder (data like any other).
    reparse(fake_add(music, "junction", 0, 1), 0xA0000003u);
    reparse(fake_add(music, "wine-link", 0, 1), 0);
    int cloud = fake_add(music, "cloud", 0, 1);
    reparse(cloud, 0x9000601Au);
    fake.nodes[cloud].recall_on_data_access = 1;
    fake_add(fake_add(music, "dedup", 0, 1), "d.bin", 9, 0);
    reparse(fake.n_nodes - 2, 0x80000013u);
  }
  static void reparse(int node, uint32_t tag) {
    fake.nodes[node].is_reparse = 1;
    fake.nodes[node].reparse_tag = tag;
  }
};

TEST_F(DirsSub, WholeReply) {
  std::string out = capture_reply([] { action_dirs("home", "Music/Rock/", 11, stamp); });
  EXPECT_EQ(
      "Content-Type: application/json; charset=utf-8\r\nCache-Control: no-store\r\n"
      "X-Content-Type-Options: nosniff\r\n\r\n"
      "{\"ok\":true,\"action\":\"dirs\",\"plugin\":\"plugin_disks\",\"platform\":\"windows\","
      "\"root_kind\":\"home\",\"root\":\"C:\\\\Users\\\\u\",\"sub\":\"Music/Rock\","
      "\"root_label\":\"$HOME\","
      "\"root_total_bytes\":1000,\"root_used_bytes\":600,\"root_free_bytes\":400,"
      "\"root_pct\":66.7,\"count\":2,\"truncated\":false,\"max_depth\":8,"
      "\"max_scan_entries\":120000,\"scan_ms\":0,\"utc\":\"2025-01-02T03:04:05Z\","
      "\"entries\":[{\"name\":\"deep\",\"path\":\"C:\\\\Users\\\\u\\\\Music\\\\Rock\\\\deep\","
      "\"bytes\":1000,\"pct\":100.0,\"is_dir\":true},"
      "{\"name\":\"a.txt\",\"path\":\"C:\\\\Users\\\\u\\\\Music\\\\Rock\\\\a.txt\","
      "\"bytes\":3,\"pct\":0.3,\"is_dir\":false}]}\n",
      out);
  // The usage is that of the home folder's volume.
  EXPECT_STREQ("C:\\", fake.last_volume);
  EXPECT_STREQ("C:\\Users\\u\\Music\\Rock", fake.readahead_root);
}

TEST_F(DirsSub, AReparsePointThatIsNoLinkIsOpened) {
  EXPECT_EQ((std::vector<listed>{{"d.bin", 9, false}}), entries_of(sub_body("Music/dedup")));
}

// Each folder on the way is opened to be traversed, and only the last to
// be listed: a folder the user may traverse but not list leads on.
TEST_F(DirsSub, AFolderThatMayBeTraversedButNotListedLeadsOn) {
  struct right_row {
    int last;
    uint32_t rights;
  } rows[] = {
      {0, RIGHT_TRAVERSE | RIGHT_READ_ATTRIBUTES},
      {1, RIGHT_LIST_DIRECTORY | RIGHT_READ_ATTRIBUTES},
  };
  for (const right_row &r : rows) EXPECT_EQ(r.rights, below_access(r.last)) << r.last;
  fake.nodes[0].traverse_only = 1;  // Music
  EXPECT_EQ((std::vector<listed>{{"deep", 1000, true}, {"a.txt", 3, false}}),
            entries_of(sub_body("Music/Rock")));
  EXPECT_EQ("{\"ok\":false,\"error\":\"sub_unreadable\"," + allowed + ",\"requested\":\"Music\"}\n",
            sub_body("Music"));
}

// Below a folder that may be traversed but not listed, a name's listing
// cannot tell a cloud folder: its attributes are asked by name, which
// opens nothing, and a folder in the cloud is refused before it is opened.
// Where not even they can be had, the name is never opened blind.
TEST_F(DirsSub, NoCloudFolderIsOpenedBelowAFolderThatMayNotBeListed) {
  fake.nodes[0].traverse_only = 1;  // Music
  int cloud = -1, rock = -1;
  for (int i = 0; i < fake.n_nodes; i++) {
    if (strcmp(fake.nodes[i].name, "cloud") == 0) cloud = i;
    if (strcmp(fake.nodes[i].name, "Rock") == 0) rock = i;
  }
  ASSERT_GE(cloud, 0);
  fake.nodes[cloud].recall_on_data_access = 0;
  fake.nodes[cloud].is_reparse = 0;
  fake.nodes[cloud].recall_on_open = 1;
  EXPECT_EQ("{\"ok\":false,\"error\":\"sub_unreadable\"," + allowed +
                ",\"requested\":\"Music/cloud\"}\n",
            sub_body("Music/cloud"));
  EXPECT_EQ(0, fake.nodes[cloud].opened_on_way);
  fake.nodes[rock].attrs_refused = 1;
  EXPECT_EQ("{\"ok\":false,\"error\":\"sub_unreadable\"," + allowed +
                ",\"requested\":\"Music/Rock\"}\n",
            sub_body("Music/Rock"));
  EXPECT_EQ(0, fake.nodes[rock].opened_on_way);
}

// What a name on the way must show before it is opened, as the Windows
// backend learns it.
TEST(BelowBeforeOpen, Verdicts) {
  struct row {
    int how;
    uint32_t attrs, tag;
    int verdict;
  } rows[] = {
      {LOOK_LISTED, ATTR_DIRECTORY, 0, BELOW_OK},
      {LOOK_LISTED, ATTR_DIRECTORY | ATTR_REPARSE_POINT, 0xA000000Cu, BELOW_LINK},
      {LOOK_LISTED, ATTR_DIRECTORY | ATTR_REPARSE_POINT, 0, BELOW_LINK},
      {LOOK_LISTED, ATTR_DIRECTORY | ATTR_REPARSE_POINT, 0x80000013u, BELOW_OK},
      {LOOK_LISTED, ATTR_DIRECTORY | ATTR_RECALL_ON_OPEN, 0, BELOW_UNREADABLE},
      {LOOK_LISTED, ATTR_DIRECTORY | ATTR_RECALL_ON_DATA_ACCESS, 0, BELOW_UNREADABLE},
      {LOOK_ASKED, ATTR_DIRECTORY, 0, BELOW_OK},
      {LOOK_ASKED, ATTR_DIRECTORY | ATTR_RECALL_ON_OPEN, 0, BELOW_UNREADABLE},
      {LOOK_ASKED, ATTR_DIRECTORY | ATTR_REPARSE_POINT | ATTR_RECALL_ON_DATA_ACCESS, 0,
       BELOW_UNREADABLE},
      // No tag told: opened as itself, and its handle tells the tag.
      {LOOK_ASKED, ATTR_DIRECTORY | ATTR_REPARSE_POINT, 0, BELOW_OK},
      {LOOK_NONE, 0, 0, BELOW_UNREADABLE},
  };
  for (const row &r : rows)
    EXPECT_EQ(r.verdict, below_before_open(r.how, r.attrs, r.tag))
        << r.how << " " << std::hex << r.attrs << " " << r.tag;
}

TEST_F(DirsSub, EmptySubIsTheHomeReply) {
  std::string body = sub_body("");
  EXPECT_EQ(std::string::npos, body.find("\"sub\""));
  // Home's own two entries; no folder below it was opened as the listed one.
  EXPECT_EQ("2", field(body, "count"));
  EXPECT_EQ("\"C:\\\\Users\\\\u\\\\Music\"", field(body, "path"));
  EXPECT_EQ(0, fake.below_opens);
}

TEST_F(DirsSub, Refusals) {
  struct sub_refusal {
    std::string sub;
    const char *root;
    std::string body;
  } cases[] = {
      {"../../etc", "home", "\"sub_invalid\"," + allowed + ",\"requested\":\"../../etc\"}\n"},
      {"Music/../..", "home", "\"sub_invalid\"," + allowed + ",\"requested\":\"Music/../..\"}\n"},
      {"..", "home", "\"sub_invalid\"," + allowed + ",\"requested\":\"..\"}\n"},
      {"/Music", "home", "\"sub_invalid\"," + allowed + ",\"requested\":\"/Music\"}\n"},
      {"Music//Rock", "home", "\"sub_invalid\"," + allowed + ",\"requested\":\"Music//Rock\"}\n"},
      {"Music\\Rock", "home", "\"sub_invalid\"," + allowed + ",\"requested\":\"Music\\\\Rock\"}\n"},
      {"C:\\Windows", "home", "\"sub_invalid\"," + allowed + ",\"requested\":\"C:\\\\Windows\"}\n"},
      {std::string("Music\0x", 7), "home", "\"sub_invalid\"," + allowed + ",\"requested\":\"Music\"}\n"},
      {std::string(MAX_SUB_BYTES + 1, 'x'), "home",
       "\"sub_too_long\"," + allowed + ",\"requested\":\"" + std::string(MAX_SUB_BYTES + 1, 'x') + "\"}\n"},
      {"Nope", "home", "\"sub_not_found\"," + allowed + ",\"requested\":\"Nope\"}\n"},
      {"Music/Nope/x", "home", "\"sub_not_found\"," + allowed + ",\"requested\":\"Music/Nope/x\"}\n"},
      {"file.txt", "home", "\"sub_not_folder\"," + allowed + ",\"requested\":\"file.txt\"}\n"},
      {"Music/link", "home", "\"sub_link\"," + allowed + ",\"requested\":\"Music/link\"}\n"},
      {"Music/link/x", "home", "\"sub_link\"," + allowed + ",\"requested\":\"Music/link/x\"}\n"},
      {"Music/mnt/", "home", "\"sub_mount\"," + allowed + ",\"requested\":\"Music/mnt\"}\n"},
      {"Music/locked", "home", "\"sub_unreadable\"," + allowed + ",\"requested\":\"Music/locked\"}\n"},
      {"Music/junction", "home", "\"sub_link\"," + allowed + ",\"requested\":\"Music/junction\"}\n"},
      {"Music/wine-link/x", "home", "\"sub_link\"," + allowed + ",\"requested\":\"Music/wine-link/x\"}\n"},
      {"Music/cloud", "home", "\"sub_unreadable\"," + allowed + ",\"requested\":\"Music/cloud\"}\n"},
      // The root is settled first: its refusals stay as they are.
      {"..", "workspace",
       "\"root_unavailable\"," + allowed +
           ",\"requested\":\"workspace\",\"message\":\"this root does not exist on this node\"}\n"},
      {"..", "Home", "\"root_not_allowed\"," + allowed + ",\"requested\":\"Home\"}\n"},
      {"Music", "", "\"missing_root\"," + allowed + "}\n"},
  };
  for (const sub_refusal &c : cases) {
    EXPECT_EQ("{\"ok\":false,\"error\":" + c.body, sub_body(c.sub, c.root)) << c.sub.substr(0, 40);
  }
  // A malformed sub is refused before anything is opened or asked; one
  // that cannot be opened is refused before the walk begins (the home's
  // volume was asked, as for any listing).
  EXPECT_EQ(10, fake.below_opens);
  EXPECT_EQ(0, fake.readahead_begins);
  EXPECT_EQ(10, fake.probes);
}

TEST_F(DirsSub, MalformedBeforeMissingHome) {
  fake.home = nullptr;
  EXPECT_EQ("{\"ok\":false,\"error\":\"sub_invalid\"," + allowed + ",\"requested\":\"..\"}\n",
            sub_body(".."));
  EXPECT_EQ("{\"ok\":false,\"error\":\"root_unavailable\"," + allowed +
                ",\"requested\":\"home\",\"message\":\"this root does not exist on this node\"}\n",
            sub_body("Music"));
}

TEST_F(DirsSub, DepthCountsFromTheListedFolder) {
  // top/l1/.../l9 listed from top: as DepthLimit lists l1/... from home.
  uint64_t expected = add_depth_chain(fake_add(-1, "top", 0, 1));
  std::string body = sub_body("top");
  EXPECT_EQ((std::vector<listed>{{"l1", expected, true}}), entries_of(body));
  EXPECT_EQ("false", field(body, "truncated"));
}

TEST_F(DirsSub, LimitsInsideTheListedFolder) {
  // 513 files: 512 listed, truncated.
  fake_add_bulk(fake_add(-1, "many", 0, 1), MAX_DIR_ENTRIES + 1);
  std::string body = sub_body("many");
  EXPECT_EQ("512", field(body, "count"));
  EXPECT_EQ("true", field(body, "truncated"));
  // The entry count starts at the listed folder: a folder of 119999 files
  // and one more file beside it is 120001 entries, and trips the limit
  // (the entries beside home's other folders never count).
  fake_reset();
  fake.home = "C:\\u";
  int box = fake_add(-1, "box", 0, 1);
  fake_add_bulk(fake_add(box, "big", 0, 1), MAX_SCAN_ENTRIES - 2);
  fake_add(box, "after", 5, 0);
  fake_add_bulk(fake_add(-1, "other", 0, 1), 1000);
  body = sub_body("box");
  EXPECT_EQ("false", field(body, "truncated"));
  EXPECT_EQ((std::vector<listed>{{"big", MAX_SCAN_ENTRIES - 2, true}, {"after", 5, false}}),
            entries_of(body));
  fake_add(box, "one-more", 1, 0);
  body = sub_body("box");
  EXPECT_EQ("true", field(body, "truncated"));
}

}  // namespace

TEST_F(Dirs, HealthyWalkHasNoReason) {
  fake_add(-1, "a", 10, 0);
  std::string body = dirs_body("home");
  EXPECT_EQ(std::string::npos, body.find("truncated_reason"));
  EXPECT_EQ(0, fake.walk_threads);
  EXPECT_EQ(0, fake.abandoned);
}

// A walk that hangs at folder "b": the request gives up on it once it has
// gone WALK_STALL_MS without progress, and replies with the entries summed
// until then; the folder being walked is left out.
TEST_F(Dirs, WalkThatStallsIsGivenUp) {
  fake_add(-1, "a", 10, 0);
  int d = fake_add(-1, "d", 0, 1);
  fake_add(d, "x", 3, 0);
  int b = fake_add(-1, "b", 0, 1);
  fake_add(b, "y", 1, 0);
  fake_add(-1, "c", 5, 0);
  fake.hang_node = b + 1;
  std::string body = dirs_body("home");
  EXPECT_EQ(1, fake.walk_threads);
  EXPECT_EQ(1, fake.abandoned);
  EXPECT_EQ((std::vector<listed>{{"a", 10, false}, {"d", 3, true}}), entries_of(body));
  EXPECT_EQ("2", field(body, "count"));
  EXPECT_NE(std::string::npos,
            body.find("\"truncated\":true,\"truncated_reason\":\"stalled\",\"max_depth\":8,"));
  EXPECT_GE(std::stoll(field(body, "scan_ms")), WALK_STALL_MS);
  EXPECT_LT(std::stoll(field(body, "scan_ms")), WALK_STALL_MS + 500);
}

// While an earlier request's walk of the same home is stuck (its mark is
// held), the reply comes at once: nothing is opened, nothing listed.
TEST_F(Dirs, WalkStuckSinceAnEarlierRequest) {
  fake_add(-1, "a", 10, 0);
  fake.walk_stuck = 1;
  std::string body = dirs_body("home");
  EXPECT_EQ(0, fake.dir_opens);
  EXPECT_EQ(0, fake.readahead_begins);
  EXPECT_EQ(0, fake.abandoned);
  EXPECT_EQ(7u, fake.last_dev);
  EXPECT_STREQ("C:\\Users\\u", fake.last_walk_path);
  EXPECT_EQ(
      "{\"ok\":true,\"action\":\"dirs\",\"plugin\":\"plugin_disks\","
      "\"platform\":\"windows\",\"root_kind\":\"home\",\"root\":\"C:\\\\Users\\\\u\","
      "\"root_label\":\"$HOME\",\"root_total_bytes\":1000,\"root_used_bytes\":600,"
      "\"root_free_bytes\":400,\"root_pct\":66.7,\"count\":0,\"truncated\":true,"
      "\"truncated_reason\":\"stalled\",\"max_depth\":8,\"max_scan_entries\":120000,"
      "\"scan_ms\":0,\"utc\":\"2025-01-02T03:04:05Z\",\"entries\":[]}\n",
      body);
}

// The home's volume still stuck since an earlier request: zero usage at
// once, without asking it.
TEST_F(Dirs, RootVolumeStuckSinceAnEarlierRequest) {
  fake_add(-1, "a", 10, 0);
  fake.root_space_stuck = 1;
  std::string body = dirs_body("home");
  EXPECT_EQ(0, fake.probes);
  EXPECT_EQ("0", field(body, "root_total_bytes"));
  EXPECT_EQ((std::vector<listed>{{"a", 10, false}}), entries_of(body));
}
