// The detail reply of dirs over the fake platform: one table of trees,
// each with the fields its reply must hold. Every row is also asked
// without detail, and that reply must be the detail reply less its
// added fields, byte for byte.
#include <gtest/gtest.h>

#include <stdint.h>

#include <algorithm>
#include <functional>
#include <regex>
#include <string>
#include <vector>

#include "capture.h"
#include "front/dispatch.h"
#include "json/actions.h"
#include "walk/walk.h"
#include "walk/children.h"
#include "walk/largest.h"
#include "walk/types.h"
#include "plugin.h"
#include "storage/fake.h"

namespace {

const char *const stamp = "2025-01-02T03:04:05Z";
const int64_t now = 1735787045;  // the stamp's time
const int64_t day = 86400;

std::string dirs_reply(int detail) {
  return body_of(capture_reply(
      [detail] { action_dirs("home", "", 0, stamp, detail, now); }));
}

// A file node with what it takes on disk and its time.
int add_file(int parent, const char *name, uint64_t size, uint64_t disk,
             int64_t mtime = 0, int has_mtime = 0) {
  int n = fake_add(parent, name, size, 0);
  fake.nodes[n].disk_size = disk;
  fake.nodes[n].mtime = mtime;
  fake.nodes[n].has_mtime = has_mtime;
  return n;
}

// A hard-linked file: links names of one file (dev, id).
int add_link(int parent, const char *name, uint64_t size, uint64_t disk,
             uint64_t dev, uint64_t id, uint32_t links) {
  int n = add_file(parent, name, size, disk);
  fake.nodes[n].dev_id = dev;
  fake.nodes[n].file_id = id;
  fake.nodes[n].links = links;
  return n;
}

// Where the JSON object or array that opens at text[at] ends (one past
// its close), strings skipped; npos when it does not.
size_t end_of(const std::string &text, size_t at) {
  int depth = 0;
  bool in_str = false;
  for (size_t i = at; i < text.size(); i++) {
    char c = text[i];
    if (in_str) {
      if (c == '\\') i++;
      else if (c == '"') in_str = false;
    } else if (c == '"') {
      in_str = true;
    } else if (c == '{' || c == '[') {
      depth++;
    } else if ((c == '}' || c == ']') && --depth == 0) {
      return i + 1;
    }
  }
  return std::string::npos;
}

// The elements of the array value of key in text (none when absent).
std::vector<std::string> items_of(const std::string &text,
                                  const std::string &key) {
  std::vector<std::string> out;
  size_t at = text.find("\"" + key + "\":[");
  if (at == std::string::npos) return out;
  at = text.find('[', at) + 1;
  while (at < text.size() && text[at] != ']') {
    size_t end = end_of(text, at);
    if (end == std::string::npos) break;
    out.push_back(text.substr(at, end - at));
    at = text[end] == ',' ? end + 1 : end;
  }
  return out;
}

// The object of a reply that where names: "" the reply itself, "e:NAME"
// the listed entry NAME, "l:N" the Nth of the largest files, "c:NAME:N"
// the Nth child of the listed entry NAME, "t:N" and "a:N" the Nth row of
// types and of ages.
std::string object_of(const std::string &body, const std::string &where) {
  if (where.empty()) return body;
  if (where[0] == 'l' || where[0] == 't' || where[0] == 'a') {
    std::vector<std::string> l = items_of(
        body, where[0] == 'l' ? "largest" : where[0] == 't' ? "types" : "ages");
    size_t n = (size_t)std::stoi(where.substr(2));
    return n < l.size() ? l[n] : "";
  }
  size_t colon = where.find(':', 2);
  std::string name = where.substr(2, colon == std::string::npos ? colon : colon - 2);
  // The entries' array ends before "largest": its children are inside.
  std::string entries = body.substr(0, body.find(",\"largest\":["));
  for (const std::string &e : items_of(entries, "entries")) {
    if (e.rfind("{\"name\":\"" + name + "\",", 0) != 0) continue;
    if (where[0] == 'e') return e;
    std::vector<std::string> c = items_of(e, "children");
    size_t n = (size_t)std::stoi(where.substr(colon + 1));
    return n < c.size() ? c[n] : "";
  }
  return "";
}

// The raw JSON value of key in text ("" when absent).
std::string value_of(const std::string &text, const std::string &key) {
  std::string k = "\"" + key + "\":";
  size_t at = text.find(k);
  if (at == std::string::npos) return "";
  at += k.size();
  size_t end;
  if (text[at] == '"')
    end = text.find('"', at + 1) + 1;
  else if (text[at] == '[')
    end = text.find(']', at) + 1;
  else
    end = text.find_first_of(",}", at);
  return text.substr(at, end - at);
}

// The detail reply less every field detail adds.
std::string without_detail(const std::string &body) {
  static const std::regex added(
      ",\"folder_bytes\":[0-9]+,\"folder_disk_bytes\":[0-9]+,\"folder_items\":"
      "[0-9]+,\"folder_partial\":(null|\"[a-z_]+\")"
      "|,\"disk_bytes\":[0-9]+"
      "|,\"items\":[0-9]+,\"modified\":(null|\"[-0-9T:Z]+\"),\"partial\":(null|\"[a-z_]+\")"
      "|,\"children\":\\[[^\\]]*\\]"
      "|,\"largest\":\\[.*\\],\"largest_partial\":(null|\"[a-z_]+\")"
      "|,\"files\":[0-9]+,\"files_bytes\":[0-9]+,\"files_disk_bytes\":[0-9]+,"
      "\"files_partial\":(null|\"[a-z_]+\"),\"types\":\\[.*\\],\"ages\":\\[.*\\]");
  return std::regex_replace(body, added, "");
}

// The figures (files, bytes, disk_bytes) of each row of a "types" or
// "ages" array.
std::vector<std::vector<uint64_t>> rows_of(const std::string &array) {
  std::vector<std::vector<uint64_t>> out;
  static const std::regex row("\"files\":([0-9]+),\"bytes\":([0-9]+),\"disk_bytes\":([0-9]+)");
  for (std::sregex_iterator i(array.begin(), array.end(), row), e; i != e; ++i)
    out.push_back({std::stoull((*i)[1]), std::stoull((*i)[2]), std::stoull((*i)[3])});
  return out;
}

uint64_t sat_add(uint64_t a, uint64_t b) { return a + b < a ? UINT64_MAX : a + b; }

// What every detail reply's types and ages hold, whatever the tree: rows
// that add up to the files' totals, the six bands in order, at most 12
// types and then the others, and totals that agree with the folder's.
void expect_kinds_add_up(const std::string &body) {
  std::vector<uint64_t> files = {std::stoull(value_of(body, "files")),
                                 std::stoull(value_of(body, "files_bytes")),
                                 std::stoull(value_of(body, "files_disk_bytes"))};
  std::string types = value_of(body, "types"), ages = value_of(body, "ages");
  for (const std::string *array : {&types, &ages}) {
    std::vector<uint64_t> sum = {0, 0, 0};
    for (const auto &r : rows_of(*array))
      for (int k = 0; k < 3; k++) sum[k] = sat_add(sum[k], r[k]);
    EXPECT_EQ(files, sum) << *array;
  }
  static const std::regex bands(
      R"(\[\{"age":"day",[^}]*\},\{"age":"week",[^}]*\},\{"age":"month",[^}]*\},)"
      R"(\{"age":"year",[^}]*\},\{"age":"older",[^}]*\},\{"age":"unknown",[^}]*\}\])");
  EXPECT_TRUE(std::regex_match(ages, bands)) << ages;
  std::vector<std::vector<uint64_t>> t = rows_of(types);
  EXPECT_LE(t.size(), 13u);
  size_t others = types.find("{\"type\":null");
  EXPECT_TRUE(others == std::string::npos || others == types.rfind("{\"type\":")) << types;
  EXPECT_EQ(value_of(body, "folder_partial"), value_of(body, "files_partial"));
  if (value_of(body, "folder_partial") != "\"stalled\"") {
    EXPECT_EQ(value_of(body, "folder_bytes"), value_of(body, "files_bytes"));
    EXPECT_LE(files[0], std::stoull(value_of(body, "folder_items")));
    EXPECT_LE(files[2], std::stoull(value_of(body, "folder_disk_bytes")));
  }
}

// A value of "" asks that the object where is absent; "-" that it has
// no key.
struct expect {
  const char *where;
  const char *key;
  std::string value;
};

struct detail_case {
  const char *name;
  std::function<void()> build;
  std::vector<expect> expects;
};

// A failing row is named by what it shows.
void PrintTo(const detail_case &c, std::ostream *os) { *os << c.name; }

const std::string top = "";
const std::string u64_max = "18446744073709551615";

std::vector<detail_case> cases() {
  return {
      {"cloud files: online-only takes nothing, pinned what it holds",
       [] {
         int online = add_file(-1, "online.txt", 1000, 0);
         fake.nodes[online].recall_on_data_access = 1;
         fake.nodes[online].offline = 1;
         add_file(-1, "pinned.txt", 1000, 1024);
       },
       {{"e:online.txt", "disk_bytes", "0"},
        {"e:online.txt", "bytes", "1000"},
        {"e:online.txt", "partial", "null"},
        {"e:pinned.txt", "disk_bytes", "1024"},
        {"l:0", "name", "\"pinned.txt\""},
        {"l:1", "name", "\"online.txt\""},
        {"l:1", "disk_bytes", "0"},
        {"", "folder_bytes", "2000"},
        {"", "folder_disk_bytes", "1024"},
        {"", "folder_partial", "null"}}},
      {"sparse and compressed files take less than their size",
       [] {
         add_file(-1, "sparse.img", 10485760, 4096);
         add_file(-1, "packed.log", 8000, 2048);
         add_file(-1, "plain.bin", 5000, 8192);
       },
       {{"e:sparse.img", "disk_bytes", "4096"},
        {"e:packed.log", "disk_bytes", "2048"},
        {"l:0", "name", "\"plain.bin\""},
        {"l:1", "name", "\"sparse.img\""},
        {"l:2", "name", "\"packed.log\""},
        {"", "folder_bytes", "10498760"},
        {"", "folder_disk_bytes", "14336"},
        {"", "folder_items", "3"}}},
      {"a hard-linked file counts once, across folders, by device and id",
       [] {
         int a = fake_add(-1, "a", 0, 1);
         int b = fake_add(-1, "b", 0, 1);
         int c = fake_add(-1, "c", 0, 1);
         add_link(a, "x", 4000, 4096, 1, 77, 2);
         add_link(b, "y", 4000, 4096, 1, 77, 2);
         add_link(c, "z", 4000, 4096, 2, 77, 2);  // another device
       },
       {{"e:a", "disk_bytes", "4096"},
        {"e:b", "disk_bytes", "0"},
        {"e:b", "bytes", "4000"},
        {"e:c", "disk_bytes", "4096"},
        {"", "folder_bytes", "12000"},
        {"", "folder_disk_bytes", "8192"},
        // The list shows the file once, under its first name, marked;
        // the other device's is another file.
        {"l:0", "path", R"("C:\\Users\\u\\a\\x")"},
        {"l:0", "folder", "\"a\""},
        {"l:0", "links", "2"},
        {"l:1", "disk_bytes", "4096"},
        {"l:1", "folder", "\"c\""},
        {"l:2", "name", ""}}},
      {"links not told (Windows): a file id met twice counts once; no id, each",
       [] {
         int a = fake_add(-1, "a", 0, 1);
         int b = fake_add(-1, "b", 0, 1);
         add_link(a, "x", 4000, 4096, 5, 91, 0);
         add_link(b, "y", 4000, 4096, 5, 91, 0);
         add_link(b, "n1", 100, 512, 5, 0, 0);
         add_link(b, "n2", 100, 512, 5, 0, 0);
       },
       {{"e:a", "disk_bytes", "4096"},
        {"e:b", "disk_bytes", "1024"},
        {"", "folder_disk_bytes", "5120"},
        {"l:0", "links", "null"},
        {"l:0", "name", "\"x\""},
        {"l:1", "name", "\"n1\""},
        {"l:2", "name", "\"n2\""}}},
      {"a walk cut by the entry cap says so everywhere",
       [] {
         int a = fake_add(-1, "a", 0, 1);
         fake_add_bulk(a, MAX_SCAN_ENTRIES);
         fake_add(-1, "z", 5, 0);
       },
       {{"e:a", "partial", "\"entry_cap\""},
        {"e:a", "items", "119999"},
        // Equal children, ranked by their names' bytes.
        {"c:a:0", "name", "\"f0\""},
        {"c:a:6", "name", "\"f100000\""},
        {"c:a:7", "name", "\"f100001\""},
        {"c:a:8", "name", ""},
        {"e:a", "bytes", "119999"},
        {"e:z", "name", ""},
        {"", "truncated", "true"},
        {"", "count", "1"},
        {"", "folder_items", "120000"},
        {"", "folder_partial", "\"entry_cap\""},
        {"", "largest_partial", "\"entry_cap\""},
        {"", "files", "119999"},
        {"", "files_partial", "\"entry_cap\""},
        {"t:0", "type", "\"\""},
        {"a:5", "files", "119999"}}},
      {"the depth limit: partial where the walk met a folder past it, empty or not",
       [] {
         // l1/l2/.../l9, a file in each: l9's is past the limit.
         int p = fake_add(-1, "l1", 0, 1);
         add_file(p, "f", 1, 0);
         for (int level = 2; level <= 9; level++) {
           p = fake_add(p, ("l" + std::to_string(level)).c_str(), 0, 1);
           add_file(p, "f", 1, 0);
         }
         // m1/.../m9 with m9 empty: past the limit all the same, never
         // listed.
         p = fake_add(-1, "m1", 0, 1);
         for (int level = 2; level <= 9; level++)
           p = fake_add(p, ("m" + std::to_string(level)).c_str(), 0, 1);
         // n1/.../n8: no folder past the limit, whole.
         p = fake_add(-1, "n1", 0, 1);
         for (int level = 2; level <= 8; level++)
           p = fake_add(p, ("n" + std::to_string(level)).c_str(), 0, 1);
         add_file(p, "f", 1, 0);
       },
       {{"e:l1", "partial", "\"depth\""},
        {"e:l1", "bytes", "8"},
        {"e:l1", "items", "16"},
        {"e:m1", "partial", "\"depth\""},
        {"e:m1", "items", "8"},
        {"e:n1", "partial", "null"},
        {"e:n1", "items", "8"},
        {"", "truncated", "false"},
        {"", "folder_partial", "\"depth\""},
        {"", "largest_partial", "\"depth\""}}},
      {"a folder that cannot be listed, and a cloud folder not entered",
       [] {
         int locked = fake_add(-1, "locked", 0, 1);
         add_file(locked, "secret", 100, 100);
         fake.nodes[locked].unlistable = 1;
         int open = fake_add(-1, "open", 0, 1);
         add_file(fake_add(open, "inner", 0, 1), "f", 7, 8);
         int od = fake_add(-1, "od", 0, 1);
         fake.nodes[od].recall_on_open = 1;
         add_file(od, "remote", 50, 50);
       },
       {{"e:locked", "partial", "\"unreadable\""},
        {"e:locked", "items", "0"},
        {"e:open", "partial", "null"},
        {"e:open", "items", "2"},
        {"e:open", "disk_bytes", "8"},
        {"e:od", "partial", "\"cloud\""},
        {"e:od", "bytes", "0"},
        {"", "folder_partial", "\"unreadable\""},
        {"l:0", "folder", "\"open/inner\""},
        {"l:1", "name", ""}}},
      {"a symbolic link with two names counts once, in the entry named first",
       [] {
         int a = fake_add(-1, "a", 0, 1);
         int b = fake_add(-1, "b", 0, 1);
         fake.nodes[add_link(b, "s2", 300, 4096, 1, 77, 2)].is_link = 1;
         fake.nodes[add_link(a, "s", 300, 4096, 1, 77, 2)].is_link = 1;
         add_file(a, "f", 5, 8);
       },
       {{"e:a", "disk_bytes", "4104"},
        {"e:b", "disk_bytes", "0"},
        {"e:a", "items", "1"},
        {"e:a", "children", R"([{"name":"f","bytes":5,"disk_bytes":8,"is_dir":false}])"},
        {"", "folder_disk_bytes", "4104"},
        {"", "folder_items", "3"}}},
      {"a symbolic link directly in the folder holds its file for the folder",
       [] {
         int a = fake_add(-1, "a", 0, 1);
         fake.nodes[add_link(a, "s", 300, 4096, 1, 77, 3)].is_link = 1;
         fake.nodes[add_link(-1, "0top", 300, 4096, 1, 77, 3)].is_link = 1;
         int b = fake_add(-1, "b", 0, 1);
         fake.nodes[add_link(b, "s3", 300, 4096, 1, 77, 3)].is_link = 1;
       },
       {{"e:a", "disk_bytes", "0"},
        {"e:b", "disk_bytes", "0"},
        {"", "folder_disk_bytes", "4096"},
        {"", "folder_items", "2"}}},
      {"children keep their own figures once their entry's sums saturate",
       [] {
         int e = fake_add(-1, "E", 0, 1);
         for (const char *n : {"c1", "c2", "c3"})
           add_file(e, n, INT64_MAX, INT64_MAX);
       },
       {{"e:E", "bytes", "18446744073709551615"},
        {"e:E", "disk_bytes", "18446744073709551615"},
        {"e:E", "children",
         R"([{"name":"c1","bytes":9223372036854775807,"disk_bytes":9223372036854775807,"is_dir":false},)"
         R"({"name":"c2","bytes":9223372036854775807,"disk_bytes":9223372036854775807,"is_dir":false},)"
         R"({"name":"c3","bytes":9223372036854775807,"disk_bytes":9223372036854775807,"is_dir":false}])"}}},
      {"a stalled walk counts a linked file once among its finished entries",
       [] {
         int b = fake_add(-1, "b", 0, 1);
         add_link(b, "f2", 100, 100, 1, 5, 2);
         int a = fake_add(-1, "a", 0, 1);
         add_link(fake_add(a, "in", 0, 1), "f", 100, 100, 1, 5, 2);
         int c = fake_add(-1, "c", 0, 1);
         add_file(c, "y", 1, 1);
         fake.hang_node = c + 1;
       },
       {{"e:a", "disk_bytes", "100"},
        {"e:a", "children", R"([{"name":"in","bytes":100,"disk_bytes":100,"is_dir":true}])"},
        {"e:b", "disk_bytes", "0"},
        {"e:b", "children", R"([{"name":"f2","bytes":100,"disk_bytes":0,"is_dir":false}])"},
        {"e:c", "name", ""},
        {"", "folder_disk_bytes", "100"},
        {"", "folder_partial", "\"stalled\""}}},
      {"a stalled walk: the finished entries, totals marked, no list",
       [] {
         add_file(-1, "a", 10, 12);
         int d = fake_add(-1, "d", 0, 1);
         add_file(d, "x", 3, 4);
         int b = fake_add(-1, "b", 0, 1);
         add_file(b, "y", 1, 1);
         add_file(-1, "c", 5, 5);
         fake.hang_node = b + 1;
       },
       {{"e:a", "partial", "null"},
        {"e:a", "children", "-"},
        {"e:d", "disk_bytes", "4"},
        {"e:d", "children", R"([{"name":"x","bytes":3,"disk_bytes":4,"is_dir":false}])"},
        {"e:b", "name", ""},
        {"", "folder_bytes", "13"},
        {"", "folder_disk_bytes", "16"},
        {"", "folder_items", "3"},
        {"", "folder_partial", "\"stalled\""},
        {"", "largest", "[]"},
        {"", "largest_partial", "\"stalled\""},
        {"", "files", "0"},
        {"", "files_partial", "\"stalled\""},
        {"", "types", "[]"},
        {"a:0", "files", "0"},
        {"a:5", "age", "\"unknown\""},
        {"a:5", "files", "0"}}},
      {"times: clamped to 1970..9999, the latest beneath a folder",
       [] {
         add_file(-1, "old", 1, 1, -86400 * 365, 1);
         add_file(-1, "far", 1, 1, 400000000000LL, 1);
         add_file(-1, "leap", 1, 1, 951782400, 1);
         add_file(-1, "none", 1, 1);
         int t = fake_add(-1, "t", 0, 1);
         fake.nodes[t].mtime = 100;
         fake.nodes[t].has_mtime = 1;
         add_file(t, "inner", 1, 1, 50, 1);
         int e = fake_add(-1, "e", 0, 1);
         add_file(e, "inner", 1, 1, INT64_MIN, 1);
       },
       {{"e:old", "modified", "\"1970-01-01T00:00:00Z\""},
        {"e:far", "modified", "\"9999-12-31T23:59:59Z\""},
        {"e:leap", "modified", "\"2000-02-29T00:00:00Z\""},
        {"e:none", "modified", "null"},
        {"e:t", "modified", "\"1970-01-01T00:01:40Z\""},
        {"e:e", "modified", "\"1970-01-01T00:00:00Z\""},
        {"", "utc", "\"2025-01-02T03:04:05Z\""}}},
      {"sums saturate at 2^64 - 1, never wrap",
       [] {
         int s = fake_add(-1, "s", 0, 1);
         add_file(s, "big1", UINT64_MAX - 5, UINT64_MAX - 5);
         add_file(s, "big2", UINT64_MAX - 5, UINT64_MAX - 5);
         add_file(-1, "big3", UINT64_MAX, UINT64_MAX);
       },
       {{"e:s", "bytes", u64_max},
        {"e:s", "disk_bytes", u64_max},
        {"e:big3", "bytes", u64_max},
        {"", "folder_bytes", u64_max},
        {"", "folder_disk_bytes", u64_max},
        {"l:0", "name", "\"big3\""}}},
      {"the largest: 50, by disk, then size, then path bytes",
       [] {
         // Sixty equal files, added last name first: the first fifty
         // names are kept once y and z take the first two places.
         char name[8];
         for (int i = 59; i >= 0; i--) {
           snprintf(name, sizeof name, "f%02d", i);
           add_file(-1, name, 100, 4096);
         }
         add_file(-1, "z", 200, 4096);
         add_file(-1, "y", 1, 8192);
         int f = fake_add(-1, "f", 0, 1);
         // "f\x" sorts before "f00": names are compared one by one, and
         // "f" is the start of "f00" (byte for byte '\' > '0').
         add_file(f, "x", 100, 4096);
       },
       {{"l:0", "name", "\"y\""},
        {"l:1", "name", "\"z\""},
        {"l:2", "name", "\"x\""},
        {"l:2", "folder", "\"f\""},
        {"l:3", "name", "\"f00\""},
        {"l:4", "name", "\"f01\""},
        {"l:49", "name", "\"f46\""},
        {"l:50", "name", ""},
        {"e:f", "items", "1"}}},
      {"largest children: a folder's 8 by disk, then size, then name",
       [] {
         int m = fake_add(-1, "media", 0, 1);
         // Added in no order of theirs: the ranking sorts them.
         int clips = fake_add(m, "clips", 0, 1);
         fake.nodes[clips].disk_size = 4096;  // the folder's own
         add_file(clips, "a", 5000, 8192);
         add_file(clips, "b", 5000, 8192);
         add_file(m, "sparse.img", 1ull << 30, 4096);
         add_file(m, "tie-b", 700, 7 * 4096);
         for (int i = 1; i <= 9; i++)
           add_file(m, ("f" + std::to_string(i)).c_str(), (uint64_t)i * 100,
                    (uint64_t)i * 4096);
         add_file(m, "tie-a", 700, 7 * 4096);
         add_file(m, "g", 750, 7 * 4096);
         add_file(-1, "top.txt", 5, 8);
       },
       {{"c:media:0", "name", "\"f9\""},
        {"c:media:0", "disk_bytes", "36864"},
        {"c:media:0", "bytes", "900"},
        {"c:media:0", "is_dir", "false"},
        {"c:media:1", "name", "\"f8\""},
        {"c:media:2", "name", "\"g\""},
        {"c:media:3", "name", "\"f7\""},
        {"c:media:4", "name", "\"tie-a\""},
        {"c:media:5", "name", "\"tie-b\""},
        {"c:media:6", "name", "\"f6\""},
        // A folder child: what lies beneath it and its own blocks.
        {"c:media:7", "name", "\"clips\""},
        {"c:media:7", "bytes", "10000"},
        {"c:media:7", "disk_bytes", "20480"},
        {"c:media:7", "is_dir", "true"},
        {"c:media:8", "name", ""},
        {"e:media", "items", "16"},
        {"e:top.txt", "children", "-"}}},
      {"children's names share 1 KiB: one that does not fit ends the list",
       [] {
         int p = fake_add(-1, "long", 0, 1);
         add_file(p, std::string(500, 'a').c_str(), 3000, 3000);
         add_file(p, std::string(500, 'b').c_str(), 2000, 2000);
         add_file(p, std::string(500, 'c').c_str(), 1000, 1000);
         add_file(p, "s", 10, 10);
         // The longest name a listing gives, and a short one, fit.
         int q = fake_add(-1, "longest", 0, 1);
         add_file(q, std::string(NAME_MAX_BYTES, 'x').c_str(), 2, 2);
         add_file(q, "y", 1, 1);
       },
       {{"c:long:0", "name", "\"" + std::string(500, 'a') + "\""},
        {"c:long:1", "name", "\"" + std::string(500, 'b') + "\""},
        {"c:long:2", "name", ""},
        {"e:long", "items", "4"},
        {"c:longest:0", "name", "\"" + std::string(NAME_MAX_BYTES, 'x') + "\""},
        {"c:longest:1", "name", "\"y\""}}},
      {"children of links and of folders not walked: a later name adds 0; none",
       [] {
         int a = fake_add(-1, "a", 0, 1);
         add_link(a, "x", 4000, 4096, 1, 77, 2);
         add_link(a, "y", 4000, 4096, 1, 77, 2);
         add_file(a, "z", 10, 512);
         int od = fake_add(a, "od", 0, 1);
         fake.nodes[od].recall_on_open = 1;
         add_file(od, "remote", 50, 50);
         int locked = fake_add(-1, "locked", 0, 1);
         add_file(locked, "secret", 100, 100);
         fake.nodes[locked].unlistable = 1;
         int cloud = fake_add(-1, "cloud", 0, 1);
         fake.nodes[cloud].recall_on_open = 1;
         add_file(cloud, "remote", 50, 50);
         fake_add(-1, "empty", 0, 1);
       },
       {{"e:a", "children",
         R"([{"name":"x","bytes":4000,"disk_bytes":4096,"is_dir":false},)"
         R"({"name":"z","bytes":10,"disk_bytes":512,"is_dir":false},)"
         R"({"name":"y","bytes":4000,"disk_bytes":0,"is_dir":false},)"
         R"({"name":"od","bytes":0,"disk_bytes":0,"is_dir":true}])"},
        {"e:a", "disk_bytes", "4608"},
        {"e:locked", "children", "[]"},
        {"e:cloud", "children", "[]"},
        {"e:empty", "children", "[]"}}},
      {"past the 512 listed: the folder's totals count every entry",
       [] {
         char name[8];
         for (int i = 0; i < 600; i++) {
           snprintf(name, sizeof name, "n%03d", i);
           add_file(-1, name, 1, 10);
         }
       },
       {{"", "count", "512"},
        {"", "truncated", "true"},
        {"", "folder_bytes", "600"},
        {"", "folder_disk_bytes", "6000"},
        {"", "folder_items", "600"},
        {"", "folder_partial", "null"},
        {"", "largest_partial", "null"}}},
      {"a listing that breaks off: its folder is unreadable, in the entry and the totals",
       [] {
         int broken = fake_add(-1, "broken", 0, 1);
         add_file(broken, "a", 10, 12);
         add_file(broken, "b", 20, 24);
         fake.nodes[broken].list_fails = 1;
         fake.nodes[broken].list_fails_after = 1;
         // l1/.../l9, l9 one level past the depth limit: never listed,
         // so its broken listing is never met.
         int p = fake_add(-1, "l1", 0, 1);
         for (int level = 2; level <= 9; level++)
           p = fake_add(p, ("l" + std::to_string(level)).c_str(), 0, 1);
         fake.nodes[p].list_fails = 1;
         add_file(-1, "whole", 5, 8);
       },
       {{"e:broken", "partial", "\"unreadable\""},
        {"e:broken", "bytes", "10"},
        {"e:broken", "items", "1"},
        {"e:l1", "partial", "\"depth\""},
        {"e:whole", "partial", "null"},
        {"", "truncated", "false"},
        {"", "folder_partial", "\"unreadable\""},
        {"", "largest_partial", "\"unreadable\""}}},
      {"the listed folder's own listing breaks off: its totals are unreadable",
       [] {
         add_file(-1, "a", 10, 12);
         add_file(-1, "b", 20, 24);
         add_file(-1, "c", 30, 36);
         fake.root_list_fails = 1;
         fake.root_list_fails_after = 2;
       },
       {{"", "count", "2"},
        {"e:a", "partial", "null"},
        {"e:c", "name", ""},
        {"", "folder_bytes", "30"},
        {"", "folder_partial", "\"unreadable\""},
        {"", "largest_partial", "\"unreadable\""}}},
      {"a file that cannot be looked at: unreadable, and not among the largest",
       [] {
         int shut = fake_add(-1, "shut", 0, 1);
         fake.nodes[add_file(shut, "x", 0, 0)].unreadable = 1;
         add_file(shut, "seen", 3, 4);
         fake.nodes[add_file(-1, "y", 0, 0)].unreadable = 1;
       },
       {{"e:shut", "partial", "\"unreadable\""},
        {"e:shut", "items", "2"},
        {"e:shut", "disk_bytes", "4"},
        {"e:y", "partial", "\"unreadable\""},
        {"e:y", "items", "1"},
        {"e:y", "disk_bytes", "0"},
        {"e:y", "modified", "null"},
        {"", "folder_items", "4"},
        {"", "folder_partial", "\"unreadable\""},
        {"l:0", "name", "\"seen\""},
        {"l:1", "name", ""},
        {"", "files", "1"},
        {"", "files_partial", "\"unreadable\""},
        {"t:0", "type", "\"\""},
        {"t:0", "files", "1"},
        {"t:1", "type", ""}}},
      {"a link takes its own blocks, never its target's, and is no entry",
       [] {
         int ln = fake_add(-1, "ln", 0, 1);
         add_file(ln, "f", 100, 4096);
         int to_f = add_file(ln, "to-f", 0, 4096);
         fake.nodes[to_f].is_link = 1;
         // As Windows lists them: a symbolic link to a folder, a junction.
         int sym = fake_add(ln, "to-dir", 0, 1);
         fake.nodes[sym].is_reparse = 1;
         fake.nodes[sym].reparse_tag = 0xA000000Cu;
         fake.nodes[sym].disk_size = 512;
         add_file(sym, "inside", 7000, 8192);
         int top_link = add_file(-1, "top-link", 0, 4096);
         fake.nodes[top_link].is_link = 1;
         // A mount point takes nothing here: it is another volume's.
         int mnt = fake_add(ln, "mnt", 0, 1);
         fake.nodes[mnt].is_mount = 1;
         fake.nodes[mnt].disk_size = 4096;
       },
       {{"e:ln", "bytes", "100"},
        {"e:ln", "disk_bytes", "8704"},
        {"e:ln", "items", "1"},
        {"e:ln", "partial", "null"},
        {"e:top-link", "name", ""},
        {"", "count", "1"},
        {"", "folder_disk_bytes", "12800"},
        {"", "folder_items", "2"},
        {"l:0", "name", "\"f\""},
        {"l:1", "name", ""}}},
      {"a file shared by sibling entries is theirs whose name comes first",
       [] {
         // Walked first: zz, holding a name of Media's 3 MB file.
         int zz = fake_add(-1, "zz", 0, 1);
         add_link(zz, "copy", 3000000, 3002368, 1, 50, 2);
         add_file(zz, "own", 10, 4096);
         int media = fake_add(-1, "Media", 0, 1);
         add_link(media, "film", 3000000, 3002368, 1, 50, 2);
         // Three entries, the one that comes first walked last; and a file
         // of the walk's first entry that is also an entry itself.
         int c = fake_add(-1, "c", 0, 1);
         add_link(c, "x", 100, 512, 1, 60, 4);
         add_link(c, "shared", 200, 1024, 1, 70, 2);
         int b = fake_add(-1, "b", 0, 1);
         add_link(b, "x", 100, 512, 1, 60, 4);
         int a = fake_add(-1, "a", 0, 1);
         add_link(a, "x", 100, 512, 1, 60, 4);
         add_link(a, "x2", 100, 512, 1, 60, 4);
         add_link(-1, "Shared", 200, 1024, 1, 70, 2);
       },
       {{"e:Media", "disk_bytes", "3002368"},
        {"e:zz", "disk_bytes", "4096"},
        {"e:zz", "bytes", "3000010"},
        {"e:a", "disk_bytes", "512"},
        {"e:b", "disk_bytes", "0"},
        {"e:c", "disk_bytes", "0"},
        {"e:Shared", "disk_bytes", "1024"},
        // The children that gave a file up say so too, ranked again.
        {"e:zz", "children",
         R"([{"name":"own","bytes":10,"disk_bytes":4096,"is_dir":false},)"
         R"({"name":"copy","bytes":3000000,"disk_bytes":0,"is_dir":false}])"},
        {"e:Media", "children", R"([{"name":"film","bytes":3000000,"disk_bytes":3002368,"is_dir":false}])"},
        {"e:c", "children",
         R"([{"name":"shared","bytes":200,"disk_bytes":0,"is_dir":false},)"
         R"({"name":"x","bytes":100,"disk_bytes":0,"is_dir":false}])"},
        {"e:b", "children", R"([{"name":"x","bytes":100,"disk_bytes":0,"is_dir":false}])"},
        {"e:a", "children",
         R"([{"name":"x","bytes":100,"disk_bytes":512,"is_dir":false},)"
         R"({"name":"x2","bytes":100,"disk_bytes":0,"is_dir":false}])"},
        {"", "folder_disk_bytes", "3008000"},
        {"", "folder_partial", "null"}}},
      {"a file shared with an entry past the 512 listed goes there when its name comes first",
       [] {
         int m = fake_add(-1, "m", 0, 1);
         add_link(m, "f", 1000, 4096, 1, 80, 2);
         add_file(m, "g", 1, 512);
         char name[8];
         for (int i = 0; i < 511; i++) {
           snprintf(name, sizeof name, "n%03d", i);
           add_file(-1, name, 1, 10);
         }
         int a = fake_add(-1, "a", 0, 1);  // the 513th: not listed
         add_link(a, "f", 1000, 4096, 1, 80, 2);
         int z = fake_add(-1, "z", 0, 1);  // neither, and after m
         add_link(z, "f", 1000, 4096, 1, 80, 2);
       },
       {{"", "count", "512"},
        {"e:m", "disk_bytes", "512"},
        {"e:a", "name", ""},
        {"", "folder_disk_bytes", "9718"},
        {"", "folder_partial", "null"}}},
      {"Windows ids without link counts: a shared file is theirs whose name comes first",
       [] {
         int late = fake_add(-1, "late", 0, 1);
         add_link(late, "x", 4000, 4096, 5, 91, 0);
         int early = fake_add(-1, "early", 0, 1);
         add_link(early, "y", 4000, 4096, 5, 91, 0);
       },
       {{"e:early", "disk_bytes", "4096"},
        {"e:late", "disk_bytes", "0"},
        {"", "folder_disk_bytes", "4096"},
        {"l:0", "name", "\"y\""},
        {"l:0", "folder", "\"early\""},
        {"l:1", "name", ""}}},
      {"the largest: one row per file, under the name that ranks first",
       [] {
         // 60 names of one 20 MB file, then the one 10 MB file whose
         // deletion frees space: both listed, each once.
         int z = fake_add(-1, "z", 0, 1);
         char name[8];
         for (int i = 59; i >= 0; i--) {
           snprintf(name, sizeof name, "n%02d", i);
           add_link(z, name, 20000000, 20004864, 3, 99, 61);
         }
         add_link(-1, "y", 20000000, 20004864, 3, 99, 61);
         add_file(-1, "unique", 10000000, 10002432);
       },
       {{"l:0", "name", "\"y\""},
        {"l:0", "folder", "\"\""},
        {"l:0", "links", "61"},
        {"l:0", "disk_bytes", "20004864"},
        {"l:1", "name", "\"unique\""},
        {"l:2", "name", ""},
        {"e:y", "disk_bytes", "20004864"},
        {"e:z", "disk_bytes", "0"}}},
      {"ties: paths compared name by name, and a name keeps its separator's byte",
       [] {
         add_file(fake_add(-1, "a", 0, 1), "x", 5, 8);
         add_file(-1, "a0", 5, 8);
         // A name holding a backslash, as Wine hands out a Unix name.
         add_file(fake_add(-1, "odd", 0, 1), "back\\slash", 5, 8);
         add_file(fake_add(-1, "in\\side", 0, 1), "f", 5, 8);
       },
       {{"l:0", "name", "\"x\""},
        {"l:0", "folder", "\"a\""},
        {"l:1", "name", "\"a0\""},
        {"l:2", "name", "\"f\""},
        {"l:2", "folder", "\"in\\\\side\""},
        {"l:3", "name", "\"back\\\\slash\""},
        {"l:3", "folder", "\"odd\""},
        {"l:3", "path", R"("C:\\Users\\u\\odd\\back\\slash")"}}},
      {"types and ages: rows by extension and band, largest on disk first",
       [] {
         add_file(-1, "film.MKV", 5000000, 5001216, now - 400 * day, 1);
         int m = fake_add(-1, "music", 0, 1);
         add_file(m, "a.flac", 3000000, 3002368, now - 10 * day, 1);
         add_file(m, "b.FLAC", 1000000, 1003520, now - 2 * day, 1);
         add_file(m, ".bashrc", 100, 4096, now + 3600, 1);  // the future
         add_file(m, "README", 200, 4096);                   // no time told
         add_file(-1, "notes.txt", 10, 4096, now - 100 * day, 1);
         add_file(-1, "x.some_long_suffix_name", 1, 4096, now - day, 1);
       },
       {{"", "types",
         R"([{"type":"mkv","files":1,"bytes":5000000,"disk_bytes":5001216,"exact":true},)"
         R"({"type":"flac","files":2,"bytes":4000000,"disk_bytes":4005888,"exact":true},)"
         R"({"type":"","files":2,"bytes":300,"disk_bytes":8192,"exact":true},)"
         R"({"type":"txt","files":1,"bytes":10,"disk_bytes":4096,"exact":true},)"
         R"({"type":null,"files":1,"bytes":1,"disk_bytes":4096,"exact":true}])"},
        {"", "ages",
         R"([{"age":"day","files":1,"bytes":100,"disk_bytes":4096},)"
         R"({"age":"week","files":2,"bytes":1000001,"disk_bytes":1007616},)"
         R"({"age":"month","files":1,"bytes":3000000,"disk_bytes":3002368},)"
         R"({"age":"year","files":1,"bytes":10,"disk_bytes":4096},)"
         R"({"age":"older","files":1,"bytes":5000000,"disk_bytes":5001216},)"
         R"({"age":"unknown","files":1,"bytes":200,"disk_bytes":4096}])"},
        {"", "files", "7"},
        {"", "files_bytes", "9000311"},
        {"", "files_disk_bytes", "9023488"},
        {"", "files_partial", "null"}}},
      {"more than 12 types: the 12 largest on disk, then one row for the others",
       [] {
         char name[8];
         for (int i = 0; i < 14; i++) {
           snprintf(name, sizeof name, "f.t%02d", i);
           add_file(-1, name, 1, 512 * (uint64_t)(i + 1), now, 1);
         }
       },
       {{"t:0", "type", "\"t13\""},
        {"t:11", "type", "\"t02\""},
        {"t:12", "type", "null"},
        {"t:12", "files", "2"},
        {"t:12", "disk_bytes", "1536"},
        {"t:12", "exact", "true"},
        {"t:13", "type", ""},
        {"a:0", "files", "14"}}},
      {"more types than the table holds: the rows add up, the unsure ones say so",
       [] {
         add_file(-1, "big.iso", 1000000, 1000000, now, 1);
         char name[16];
         for (int i = 0; i < TYPE_TABLE_MAX + 76; i++) {
           snprintf(name, sizeof name, "f.x%04d", i);
           add_file(-1, name, 1, 100, now, 1);
         }
       },
       {{"t:0", "type", "\"iso\""},
        {"t:0", "exact", "true"},
        {"t:1", "type", "\"x0000\""},
        {"t:1", "exact", "false"},  // 77 types past the table take more
        {"t:12", "type", "null"},
        {"t:12", "files", std::to_string(TYPE_TABLE_MAX + 77 - 12)},
        {"t:12", "exact", "false"},
        {"", "files", std::to_string(TYPE_TABLE_MAX + 77)}}},
      {"a linked file: its disk in the rows of the name its entry counts, once",
       [] {
         // Walked first: b's name. a's comes first, and takes the file.
         int b = fake_add(-1, "b", 0, 1);
         int clip = add_link(b, "clip.mp4", 4000, 4096, 1, 77, 2);
         int a = fake_add(-1, "a", 0, 1);
         int copy = add_link(a, "clip.mov", 4000, 4096, 1, 77, 2);
         for (int n : {clip, copy}) {
           fake.nodes[n].mtime = now - 2 * day;
           fake.nodes[n].has_mtime = 1;
         }
         // Two names in one entry: the type that comes first, whatever
         // order the walk meets them in.
         int c = fake_add(-1, "c", 0, 1);
         add_link(c, "z.zip", 100, 512, 1, 78, 2);
         add_link(c, "y.bin", 100, 512, 1, 78, 2);
       },
       {{"t:0", "type", "\"mov\""},
        {"t:0", "disk_bytes", "4096"},
        {"t:1", "type", "\"bin\""},
        {"t:1", "disk_bytes", "512"},
        {"t:2", "type", "\"mp4\""},
        {"t:2", "files", "1"},
        {"t:2", "bytes", "4000"},
        {"t:2", "disk_bytes", "0"},
        {"t:3", "type", "\"zip\""},
        {"t:3", "disk_bytes", "0"},
        {"a:1", "files", "2"},
        {"a:1", "disk_bytes", "4096"},
        {"a:5", "files", "2"},
        {"a:5", "disk_bytes", "512"},
        {"", "files_disk_bytes", "4608"},
        {"", "folder_disk_bytes", "4608"}}},
      {"a folder that cannot be read: the rows say at least",
       [] {
         int locked = fake_add(-1, "locked", 0, 1);
         add_file(locked, "secret.doc", 100, 100, now, 1);
         fake.nodes[locked].unlistable = 1;
         add_file(-1, "seen.doc", 5, 8, now, 1);
       },
       {{"", "files_partial", "\"unreadable\""},
        {"", "types", R"([{"type":"doc","files":1,"bytes":5,"disk_bytes":8,"exact":true}])"}}},
  };
}

class Detail : public ::testing::TestWithParam<detail_case> {
 protected:
  void SetUp() override { reset(); }
  void TearDown() override { EXPECT_EQ(0, fake.open_handles); }
  static void reset() {
    fake_reset();
    fake.home = "C:\\Users\\u";
    fake.root_space = {1000000, 400000, 300000, 0, 0, 0, 0};
  }
};

TEST_P(Detail, Fields) {
  const detail_case &c = GetParam();
  c.build();
  std::string detailed = dirs_reply(1);
  expect_kinds_add_up(detailed);
  for (const expect &e : c.expects) {
    std::string obj = object_of(detailed, e.where);
    if (e.value.empty())
      EXPECT_EQ("", obj) << e.where << " is not in " << detailed;
    else if (e.value == "-")
      EXPECT_EQ("", value_of(obj, e.key)) << e.where << " has " << e.key;
    else
      EXPECT_EQ(e.value, value_of(obj, e.key))
          << e.where << " " << e.key << " in " << detailed;
  }
  // The same tree without detail: today's reply, to the byte, but for the
  // time taken (a stalled walk's depends on when its thread met the hang).
  reset();
  c.build();
  static const std::regex scan_ms("\"scan_ms\":[0-9]+");
  EXPECT_EQ(std::regex_replace(dirs_reply(0), scan_ms, "\"scan_ms\":T"),
            std::regex_replace(without_detail(detailed), scan_ms, "\"scan_ms\":T"));
}

std::string case_name(const ::testing::TestParamInfo<detail_case> &info) {
  std::string n;
  for (const char *p = info.param.name; *p && *p != ':'; p++)
    n += isalnum((unsigned char)*p) ? *p : '_';
  return n + "_" + std::to_string(info.index);
}

INSTANTIATE_TEST_SUITE_P(Trees, Detail, ::testing::ValuesIn(cases()), case_name);

// Only the exact value "1" asks for detail.
TEST(DetailParameter, OnlyTheValueOne) {
  struct row {
    const char *qs;
    bool detailed;
  } rows[] = {
      {"action=dirs&root=home&detail=1", true},
      {"action=dirs&root=home&detail=%31", true},
      {"detail=1&action=dirs&root=home", true},
      {"action=dirs&root=home", false},
      {"action=dirs&root=home&detail=", false},
      {"action=dirs&root=home&detail=0", false},
      {"action=dirs&root=home&detail=11", false},
      {"action=dirs&root=home&detail=1%00", false},
      {"action=dirs&root=home&detail=%31%31%31%31", false},
      {"action=dirs&root=home&detail=true", false},
      {"action=dirs&root=home&Detail=1", false},
  };
  for (const row &r : rows) {
    fake_reset();
    fake.home = "C:\\Users\\u";
    add_file(-1, "a", 1, 1);
    std::string body =
        body_of(capture_reply([&r] { EXPECT_EQ(0, mode_json(r.qs)); }));
    EXPECT_EQ(r.detailed, body.find("\"folder_bytes\":") != std::string::npos)
        << r.qs;
  }
}

// The heap against a plain sort of the same files, offered in a scrambled
// order with many equal sizes, so that paths decide many places.
TEST(Largest, KeepsTheFirstFiftyInRankOrder) {
  largest_list *l = new largest_list();
  std::vector<std::string> all;
  std::vector<std::pair<uint64_t, uint64_t>> sizes;
  dir_item item = {};
  const uint16_t ends[] = {1};  // "d"
  for (int i = 0; i < 300; i++) {
    snprintf(item.name, sizeof item.name, "n%03d", (i * 37) % 300);
    item.size = (uint64_t)((i * 7) % 23);
    uint64_t disk = (uint64_t)((i * 13) % 7);
    item.disk_size = disk;
    largest_offer(l, "d", 1, ends, 1, &item);
    char key[64];
    // disk and size descending, then the path: one sortable string.
    snprintf(key, sizeof key, "%020llu %020llu ",
             (unsigned long long)(UINT64_MAX - disk),
             (unsigned long long)(UINT64_MAX - item.size));
    all.push_back(key + std::string("d\\") + item.name);
  }
  std::sort(all.begin(), all.end());
  largest_sort(l);
  ASSERT_EQ(LARGEST_MAX, l->n);
  for (int i = 0; i < l->n; i++) {
    const largest_file *f = &l->files[l->order[i]];
    EXPECT_EQ(all[i].substr(42), f->rel) << i;
  }
  delete l;
}

// The ranking against a plain sort of the same children, offered in a
// scrambled order with many equal sizes, so that names decide places.
TEST(Children, KeepsTheFirstEightInRankOrder) {
  children_rank *r = new children_rank();
  entry_children *kept = new entry_children();
  children_begin(r);
  std::vector<std::string> all;
  for (int i = 0; i < 200; i++) {
    char name[16];
    snprintf(name, sizeof name, "n%03d", (i * 37) % 200);
    uint64_t bytes = (uint64_t)((i * 7) % 5), disk = (uint64_t)((i * 13) % 3);
    children_offer(r, name, i % 2, bytes, disk, (uint32_t)i);
    char key[64];
    snprintf(key, sizeof key, "%020llu %020llu %d ",
             (unsigned long long)(UINT64_MAX - disk),
             (unsigned long long)(UINT64_MAX - bytes), i % 2);
    all.push_back(key + std::string(name));
  }
  std::sort(all.begin(), all.end(), [](const std::string &a, const std::string &b) {
    // Ranked by disk, size, then name: the flag is no part of the order.
    return a.substr(0, 42) + a.substr(44) < b.substr(0, 42) + b.substr(44);
  });
  children_keep(r, kept);
  ASSERT_EQ(CHILDREN_MAX, kept->n);
  for (int i = 0; i < kept->n; i++) {
    const entry_child *c = &kept->c[i];
    char key[64];
    snprintf(key, sizeof key, "%020llu %020llu %d ",
             (unsigned long long)(UINT64_MAX - c->disk_bytes),
             (unsigned long long)(UINT64_MAX - c->bytes), c->is_dir);
    EXPECT_EQ(all[i], key + std::string(kept->names + c->name_at)) << i;
  }
  // A new ranking starts empty.
  children_begin(r);
  children_keep(r, kept);
  EXPECT_EQ(0, kept->n);
  delete kept;
  delete r;
}

}  // namespace
