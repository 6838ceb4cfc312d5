// A whole request over the in-memory storage platform: the password gate,
// routing, then the JSON API or the page, with everything written to
// standard output captured.
//
// Input, lines split at LF (a missing line is an empty value):
//   0  settings: [0] hex digit, which of the four values below are set
//      (1 node password, 2 X-Zem-Password, 4 Authorization, 8 query
//      string); [1] the home folder (digit, see homes[]); [2] the drives
//      (digit, see add_drives); [3] failure switches (hex digit, see
//      apply_failures); [4] [5] and [6] [7] generated files, how many
//      and where (hex digits, see add_bulk)
//   1  ZEM_PASSWORD   2  X-Zem-Password   3  Authorization
//   4  QUERY_STRING
//   5… the home folder's tree, four bytes and a name per entry (see
//      build_tree)
//
// Properties of every reply: one header block of "Name: value" lines each
// ended by CR LF, an empty line, and one body ending in LF; the 401 reply
// is exactly its fixed bytes; the route matches the query string; a JSON
// body is exactly one object followed by one LF, with "ok" first; the
// numbers and fields of each action hold what the request and the
// platform say they must (the folder sizes against a walk of the tree made
// here, from the home folder or the folder sub names below it); every
// listing handle is closed; the page is the same bytes for
// every request with the same embedding.

#include <ctype.h>
#include <fcntl.h>
#include <stdint.h>
#include <stdio.h>
#include <stdlib.h>
#include <string.h>
#include <sys/mman.h>
#include <unistd.h>

#include <algorithm>
#include <string>
#include <vector>

#include "check.h"
#include "front/gate.h"
#include "front/query.h"
#include "front/route.h"
#include "front/dispatch.h"
#include "json/actions.h"
#include "metrics/metrics.h"
#include "reply/bytes.h"
#include "page/page.h"
#include "storage/fake.h"

namespace {

int reply_fd = -1;

std::string take_reply() {
  fflush(stdout);
  off_t n = lseek(reply_fd, 0, SEEK_CUR);
  std::string out((size_t)n, '\0');
  if (n > 0 && pread(reply_fd, &out[0], (size_t)n, 0) != n) abort();
  return out;
}

void clear_reply() {
  fflush(stdout);
  if (ftruncate(reply_fd, 0) != 0 || lseek(reply_fd, 0, SEEK_SET) != 0) abort();
}

const char *const homes[] = {
    "C:\\Users\\x",
    "\\\\server\\share\\x",  // no drive letter: no volume usage
    "",                      // empty: the home root is unavailable
    nullptr,                 // unset
    "D:\\",                  // ends with the separator
    nullptr,                 // 6: a path near the 1024-byte limit (below)
    "Z:\\d\xe9j\xe0 \"q\"\\\x01",
    nullptr,                 // 7: one byte past the limit: refused (below)
};

// Names the tree builder picks from, besides names taken from the input.
const char *const stock_names[] = {
    ".", "..", "", ".hidden", "a", "B", "ab", "a\"b\\c", "tab\tcr\rlf\n",
    "\xc3\xa9t\xc3\xa9", "\xff\xfe", "\x7f", "Program Files",
};

std::string long_home() {
  std::string h = "C:\\";
  while (h.size() < 1000) h += "deep\\";
  h.resize(1000);
  return h;
}

void add_drives(int sel) {
  static const char *const roots[] = {"C:\\", "D:\\", "E:\\", "\"q\\\xe9:\\"};
  static const uint64_t totals[] = {1000, 0, 5ull << 40, 1000};
  int n = sel % 5;
  for (int i = 0; i < n && i < 4; i++) {
    uint64_t total = totals[(i + sel) % 4];
    fake_drive *d = fake_add_drive(DRIVE_LETTERS, roots[i], roots[i], total,
                                   total / 3 + (sel & 1) * total, total / 4);
    if (sel >= 5 && i == 1) d->row.drive_type = DRIVE_TYPE_NO_ROOT_DIR;
    if (sel >= 7 && i == 2) d->space_fails = 1;
    if (sel >= 8 && i == 0) d->fs_name_fails = 1;
    // What detail=1 tells: a read-only volume, a dirty one, a clean one.
    if (sel & 1) d->space.readonly = i == 2;
    d->has_errors = i < 2;
    d->errors.has_dirty = i < 2;
    d->errors.dirty = i == 0 && (sel & 2);
  }
}

void apply_failures(int bits) {
  fake.gmtime_fails = bits & 1;
  fake.root_unlistable = (bits >> 1) & 1;
  fake.volume_fails = (bits >> 2) & 1;
  fake.root_space_fails = (bits >> 3) & 1;
}

// Generated 1-byte files, counted near the listing and scan limits, inside
// the folder chosen by where (0: the home folder; else a node).
void add_bulk(int count_sel, int where) {
  static const int counts[] = {0,     1,      511,    512,    513,
                               60000, 119487, 119488, 119999, 120000,
                               120001, 40000, 200,    1000,   7, 3};
  if (!count_sel || fake.n_bulk >= 8) return;
  int parent = where ? (where - 1) % (fake.n_nodes + 1) - 1 : -1;
  fake_add_bulk(parent, counts[count_sel]);
}

// Each entry: parent selector, flags, size selector, name selector, then
// for a name taken from the input, its bytes up to '/'.
void build_tree(const std::string &t) {
  size_t i = 0;
  while (i + 4 <= t.size() && fake.n_nodes < 160) {
    unsigned char ps = (unsigned char)t[i], fl = (unsigned char)t[i + 1];
    unsigned char ss = (unsigned char)t[i + 2], ns = (unsigned char)t[i + 3];
    i += 4;
    int parent = (int)(ps % (unsigned)(fake.n_nodes + 1)) - 1;
    std::string name;
    if (ns < 0x80) {
      name = stock_names[ns % (sizeof stock_names / sizeof *stock_names)];
    } else {
      size_t end = t.find('/', i);
      if (end == std::string::npos) end = t.size();
      name = t.substr(i, end - i);
      i = end + 1;
      name = name.c_str();
      if (ns & 0x40) {  // long names: up to the 765-byte limit
        std::string base = name.empty() ? "n" : name;
        while (name.size() < NAME_MAX_BYTES) name += base;
        name.resize(NAME_MAX_BYTES - (ns & 0x1f));
      }
    }
    uint64_t size = ss < 200 ? ss : ((uint64_t)(ss - 199) << 32) + ss;
    int node = fake_add(parent, name.c_str(), size, fl & 1);
    fake.nodes[node].is_link = (fl >> 1) & 1 && (fl & 0x30) == 0x30;
    fake.nodes[node].unlistable = (fl >> 2) & 1 && (fl & 0xc0) == 0xc0;
    // Reparse points: no valid tag, a symbolic link, a cloud file, a
    // deduplicated file; and folders whose listing is not on this machine.
    static const uint32_t tags[] = {0, 0xA000000C, 0x9000001A, 0x80000013};
    if ((fl & 0x38) == 0x08) {
      fake.nodes[node].is_reparse = 1;
      fake.nodes[node].reparse_tag = tags[fl >> 6];
    }
    fake.nodes[node].recall_on_open = (fl & 0x3a) == 0x18;
    fake.nodes[node].recall_on_data_access = (fl & 0x3a) == 0x1a;
    // What the detail reply reads, from the same bytes: less or as much on
    // disk, times far outside 1970..9999 too, and hard-link groups by a
    // few shared ids.
    fake.nodes[node].disk_size = (ss & 1) ? size : size / 2;
    fake.nodes[node].has_mtime = ns & 1;
    fake.nodes[node].mtime = (int64_t)(signed char)ss * 4000000000LL;
    fake.nodes[node].links = (fl & 0x30) == 0x10 ? 2 : 1;
    fake.nodes[node].dev_id = 1;
    fake.nodes[node].file_id = ss % 4 + 1;
  }
}

// ---- the folder walk, made again from the rules ----------------------

bool skipped(const fake_node &n) {
  bool link = n.is_link || (n.is_reparse && (n.reparse_tag == 0 ||
                                             (n.reparse_tag & 0x20000000)));
  return !n.name[0] || strcmp(n.name, ".") == 0 || strcmp(n.name, "..") == 0 ||
         link;
}

// The folder a listing opens for the entry called name inside folder:
// the first node of that name there. -2 when it cannot be listed.
int open_folder(int folder, const char *name) {
  for (int i = 0; i < fake.n_nodes; i++)
    if (fake.nodes[i].parent == folder && strcmp(fake.nodes[i].name, name) == 0)
      return fake.nodes[i].is_dir && !fake.nodes[i].unlistable ? i : -2;
  return -2;
}

int bulk_in(int folder) {
  for (int i = 0; i < fake.n_bulk; i++)
    if (fake.bulk_parent[i] == folder) return fake.bulk_count[i];
  return 0;
}

const uint64_t scan_limit = 120000;
uint64_t scanned;
bool truncated;

// A folder's countable entries in listing order: its nodes, then its
// generated 1-byte files. fn returns false to stop.
template <class F>
void each_entry(int folder, F fn) {
  for (int i = 0; i < fake.n_nodes; i++) {
    const fake_node &n = fake.nodes[i];
    bool enters = !n.recall_on_open && !n.recall_on_data_access;
    if (n.parent == folder && !skipped(n) &&
        !fn(n.name, n.size, n.is_dir != 0, enters))
      return;
  }
  char name[16];
  for (int i = 0, n = bulk_in(folder); i < n; i++) {
    snprintf(name, sizeof name, "f%d", i);
    if (!fn(name, 1, false, true)) return;
  }
}

uint64_t walk(int folder, int depth) {
  if (depth > 8 || truncated || folder < 0) return 0;
  uint64_t sum = 0;
  each_entry(folder, [&](const char *name, uint64_t size, bool is_dir,
                         bool enters) {
    if (++scanned > scan_limit) {
      truncated = true;
      return false;
    }
    if (!is_dir) {
      sum += size;
    } else {
      if (enters) sum += walk(open_folder(folder, name), depth + 1);
    }
    return true;
  });
  return sum;
}

struct entry {
  uint64_t bytes;
  std::string name, path;
  bool is_dir;
  bool operator<(const entry &o) const {
    if (bytes != o.bytes) return bytes > o.bytes;
    if (name != o.name) return name < o.name;
    if (path != o.path) return path < o.path;
    return is_dir < o.is_dir;
  }
};

// The listing of folder (-1: the root) whose path is listed.
std::vector<entry> expected_entries(const std::string &listed, int folder) {
  std::vector<entry> out;
  scanned = 0;
  truncated = false;
  if (fake.root_unlistable) return out;
  each_entry(folder, [&](const char *name, uint64_t size, bool is_dir,
                         bool enters) {
    if (out.size() >= 512 || ++scanned > scan_limit) {
      truncated = true;
      return false;
    }
    entry e;
    // Names and paths are whole, whatever their length.
    e.name = check::utf8_model(name);
    e.path = check::utf8_model(listed + "\\" + name);
    e.is_dir = is_dir;
    e.bytes = !is_dir ? size : enters ? walk(open_folder(folder, name), 1) : 0;
    out.push_back(e);
    return true;
  });
  return out;
}

// The sub parameter as the rules read it: absent or empty (given false),
// or its normal form (a trailing '/' dropped), or the refusal its form gets.
struct sub_model {
  bool given = false;
  std::string norm;
  std::string refusal;  // "sub_invalid", "sub_too_long", or empty
};

sub_model model_sub(const char *qs) {
  sub_model m;
  char raw[3 * 1024 + 5];
  size_t len = 0;
  get_query_val_len(qs, "sub", raw, sizeof raw, &len);
  if (!len) return m;
  m.given = true;
  std::string v(raw, len);
  if (v.size() > 1 && v.back() == '/') v.pop_back();
  if (v.size() > 1024) {
    m.refusal = "sub_too_long";
    return m;
  }
  size_t start = 0;
  for (;;) {
    size_t end = v.find('/', start);
    std::string name = v.substr(start, end == std::string::npos ? std::string::npos : end - start);
    if (name.empty() || name == "." || name == ".." ||
        name.find_first_of(std::string("\\:\0", 3)) != std::string::npos) {
      m.refusal = "sub_invalid";
      return m;
    }
    if (end == std::string::npos) break;
    start = end + 1;
  }
  m.norm = v;
  return m;
}

// The folder that the normal form norm names below the root, following
// the first node of each name, or -2 with the refusal it gets.
int below_folder(const std::string &norm, std::string *refusal) {
  int folder = -1;
  size_t start = 0;
  for (;;) {
    size_t end = norm.find('/', start);
    std::string name = norm.substr(start, end == std::string::npos ? std::string::npos : end - start);
    int found = -1;
    for (int i = 0; i < fake.n_nodes && found < 0; i++)
      if (fake.nodes[i].parent == folder && name == fake.nodes[i].name) found = i;
    const fake_node *n = found >= 0 ? &fake.nodes[found] : nullptr;
    bool link = n && (n->is_link || (n->is_reparse && (n->reparse_tag == 0 ||
                                                        (n->reparse_tag & 0x20000000))));
    bool remote = n && (n->recall_on_open || n->recall_on_data_access);
    *refusal = !n ? "sub_not_found" : link ? "sub_link" : n->is_mount ? "sub_mount"
               : !n->is_dir ? "sub_not_folder" : n->unlistable || remote ? "sub_unreadable" : "";
    if (!refusal->empty()) return -2;
    folder = found;
    if (end == std::string::npos) return folder;
    start = end + 1;
  }
}

std::string pct_text(uint64_t n, uint64_t d) {
  double p = d ? (double)n * 100.0 / (double)d : 0.0;
  if (p > 100.0) p = 100.0;
  char buf[32];
  snprintf(buf, sizeof buf, "%.1f", p);
  return buf;
}

uint64_t num(const check::jvalue *v) {
  PROP(v && v->kind == check::jvalue::NUM && check::is_uint_text(v->text),
       "not a plain unsigned number: %s", v ? v->text.c_str() : "(missing)");
  return strtoull(v->text.c_str(), nullptr, 10);
}

const std::string &str(const check::jvalue *v) {
  PROP(v && v->kind == check::jvalue::STR, "string expected");
  return v->text;
}

bool boolean(const check::jvalue *v) {
  PROP(v && v->kind == check::jvalue::BOOL, "boolean expected");
  return v->b;
}

void check_pct(const check::jvalue *v) {
  PROP(v && v->kind == check::jvalue::NUM && check::is_pct_text(v->text),
       "bad percentage %s", v ? v->text.c_str() : "(missing)");
}

void check_keys(const check::jvalue &o, const std::vector<const char *> &keys) {
  PROP(o.members.size() == keys.size(), "%zu keys, expected %zu",
       o.members.size(), keys.size());
  for (size_t i = 0; i < keys.size(); i++)
    PROP(o.members[i].first == keys[i], "key %zu is %s, expected %s", i,
         o.members[i].first.c_str(), keys[i]);
}

bool wants_detail(const char *qs);

// The detail fields of one drive letter, against what the fake volume
// told: read-only only as a volume (reason mount), the dirty bit where
// told, no count, and attention exactly for errors recorded.
// s as a reply writes it: each byte that begins no well-formed UTF-8
// sequence as U+FFFD.
std::string repaired(const char *s) {
  std::string out;
  for (const unsigned char *p = (const unsigned char *)s; *p;) {
    int len = *p < 0x80 ? 1 : utf8_seq_len(p);
    if (len) {
      out.append((const char *)p, (size_t)len);
      p += len;
    } else {
      out += "\xEF\xBF\xBD";
      p++;
    }
  }
  return out;
}

void check_drive_health(const check::jvalue &m) {
  const fake_drive *d = nullptr;
  int same = 0;  // drives whose mounts the reply writes alike
  for (int i = 0; i < fake.n_drives; i++)
    if (repaired(fake.drives[i].row.mount) == str(m.get("mount"))) {
      d = &fake.drives[i];
      same++;
    }
  PROP(d != nullptr, "a drive the platform does not have");
  if (same > 1) return;  // which one it is cannot be told from the reply
  PROP(m.get("readonly")->kind == check::jvalue::BOOL &&
           boolean(m.get("readonly")) == (d->space.readonly != 0),
       "readonly");
  const check::jvalue *why = m.get("readonly_reason");
  PROP(d->space.readonly ? why->kind == check::jvalue::STR && why->text == "mount"
                         : why->kind == check::jvalue::NUL,
       "readonly_reason");
  const check::jvalue *rec = m.get("errors_recorded");
  if (d->has_errors)
    PROP(rec->kind == check::jvalue::BOOL && boolean(rec) == (d->errors.dirty != 0), "errors_recorded");
  else
    PROP(rec->kind == check::jvalue::NUL, "errors_recorded without an answer");
  PROP(m.get("error_count")->kind == check::jvalue::NUL, "an error count on a drive letter");
  PROP(m.get("last_error")->kind == check::jvalue::NUL, "an error time on a drive letter");
  PROP(m.get("attention")->kind == check::jvalue::BOOL &&
           boolean(m.get("attention")) == (d->has_errors && d->errors.dirty),
       "attention");
}

void check_mounts(const check::jvalue &o, bool detail) {
  check_keys(o, {"ok", "action", "plugin", "version", "platform", "pid",
                 "count", "utc", "zero_network", "mounts"});
  const check::jvalue *list = o.get("mounts");
  PROP(list->kind == check::jvalue::ARR, "mounts is not an array");
  PROP(num(o.get("count")) == list->items.size(), "count %s for %zu drives",
       o.get("count")->text.c_str(), list->items.size());
  int usable = 0;
  for (int i = 0; i < fake.n_drives; i++)
    if (fake.drives[i].row.drive_type != DRIVE_TYPE_NO_ROOT_DIR &&
        !fake.drives[i].space_fails)
      usable++;
  PROP((size_t)usable == list->items.size(), "%zu drives listed, %d usable",
       list->items.size(), usable);
  for (size_t i = 0; i < list->items.size(); i++) {
    const check::jvalue &m = list->items[i];
    if (detail) {
      check_keys(m, {"device", "fstype", "mount", "total_bytes", "used_bytes",
                     "free_bytes", "avail_bytes", "pct", "inodes_total",
                     "inodes_used", "inodes_pct", "has_inodes", "readonly",
                     "readonly_reason", "errors_recorded", "error_count",
                     "last_error", "attention"});
      check_drive_health(m);
    } else {
      check_keys(m, {"device", "fstype", "mount", "total_bytes", "used_bytes",
                     "free_bytes", "avail_bytes", "pct", "inodes_total",
                     "inodes_used", "inodes_pct", "has_inodes"});
    }
    uint64_t total = num(m.get("total_bytes")), used = num(m.get("used_bytes"));
    uint64_t free_b = num(m.get("free_bytes")), avail = num(m.get("avail_bytes"));
    PROP(used == (total >= free_b ? total - free_b : 0), "used_bytes wrong");
    check_pct(m.get("pct"));
    PROP(m.get("pct")->text == pct_text(used, used + avail), "pct %s",
         m.get("pct")->text.c_str());
    check_pct(m.get("inodes_pct"));
    PROP(!str(m.get("fstype")).empty(), "empty fstype");
    if (i) {
      const check::jvalue &p = list->items[i - 1];
      uint64_t pt = num(p.get("total_bytes"));
      PROP(pt > total || (pt == total && str(p.get("mount")) <= str(m.get("mount"))),
           "drives out of order at %zu", i);
    }
  }
}

// Whether the query string asks for the detail reply: detail=1 exactly.
bool wants_detail(const char *qs) {
  char v[8];
  size_t len = 0;
  get_query_val_len(qs, "detail", v, sizeof v, &len);
  return len == 1 && v[0] == '1';
}

bool is_reason(const check::jvalue *v) {
  if (v->kind == check::jvalue::NUL) return true;
  static const char *const reasons[] = {"depth", "entry_cap", "unreadable", "cloud", "stalled"};
  for (const char *r : reasons)
    if (v->kind == check::jvalue::STR && v->text == r) return true;
  return false;
}

bool is_stamp_or_null(const check::jvalue *v) {
  if (v->kind == check::jvalue::NUL) return true;
  if (v->kind != check::jvalue::STR || v->text.size() != 20) return false;
  static const char form[] = "dddd-dd-ddTdd:dd:ddZ";
  for (size_t i = 0; i < 20; i++)
    if (form[i] == 'd' ? !isdigit((unsigned char)v->text[i]) : v->text[i] != form[i]) return false;
  return v->text >= "1970-01-01T00:00:00Z" && v->text <= "9999-12-31T23:59:59Z";
}

// A folder entry's children: at most 8, ranked by what they take on disk,
// then their size, then their names' bytes, their names within the 1 KiB
// room, and within the folder's totals (no sum wraps).
void check_children(const check::jvalue &e) {
  const check::jvalue *kids = e.get("children");
  PROP(kids && kids->kind == check::jvalue::ARR && kids->items.size() <= 8, "children");
  uint64_t bytes = 0, disk = 0;
  size_t room = 0;
  for (size_t i = 0; i < kids->items.size(); i++) {
    const check::jvalue &c = kids->items[i];
    check_keys(c, {"name", "bytes", "disk_bytes", "is_dir"});
    uint64_t b = num(c.get("bytes")), d = num(c.get("disk_bytes"));
    bytes = bytes + b < bytes ? UINT64_MAX : bytes + b;
    disk = disk + d < disk ? UINT64_MAX : disk + d;
    const std::string &name = str(c.get("name"));
    PROP(!name.empty(), "a child without a name");
    // A name the reply repairs (U+FFFD) may be longer than the bytes kept.
    if (name.find("\xef\xbf\xbd") == std::string::npos) room += name.size() + 1;
    if (i) {
      const check::jvalue &p = kids->items[i - 1];
      uint64_t pd = num(p.get("disk_bytes")), pb = num(p.get("bytes"));
      PROP(pd > d || (pd == d && (pb > b || (pb == b && (str(p.get("name")) <= name ||
                                                          name.find("\xef\xbf\xbd") != std::string::npos)))),
           "children out of order at %zu", i);
    }
  }
  PROP(room <= 1024, "children's names take %zu bytes", room);
  PROP(bytes <= num(e.get("bytes")), "children larger than their folder");
  PROP(disk <= num(e.get("disk_bytes")), "children take more than their folder");
}

// The names of a largest file's path below home: its folder's, split at
// '/' (no name holds one), and its own, whatever bytes they hold (the
// fake platform's separator among them).
std::vector<std::string> names_of(const check::jvalue &f) {
  std::vector<std::string> names;
  const std::string &folder = str(f.get("folder"));
  for (size_t at = 0; !folder.empty();) {
    size_t slash = folder.find('/', at);
    names.push_back(folder.substr(at, slash == std::string::npos ? slash : slash - at));
    if (slash == std::string::npos) break;
    at = slash + 1;
  }
  names.push_back(str(f.get("name")));
  return names;
}

uint64_t add_sat(uint64_t a, uint64_t b) { return a + b < a ? UINT64_MAX : a + b; }

// A row's three figures, added into sum (saturating, as the walk does).
void add_row(const check::jvalue &r, uint64_t *sum) {
  const char *keys[] = {"files", "bytes", "disk_bytes"};
  for (int k = 0; k < 3; k++) sum[k] = add_sat(sum[k], num(r.get(keys[k])));
}

// Whether t is a type as the extension rule makes them: 1 to 16 bytes of
// UTF-8 (repaired text never holds U+FFFD here: such an extension is no
// type), no dot, no capital A to Z; or "" for none.
bool is_type_text(const std::string &t) {
  if (t.size() > 16 || check::utf8_model(t) != t || t.find("\xef\xbf\xbd") != std::string::npos)
    return false;
  for (char c : t)
    if (c == '.' || (c >= 'A' && c <= 'Z') || c == '\0') return false;
  return true;
}

// The files by type and by age: rows that add up to the files' totals,
// which agree with the folder's; the six bands in order; at most twelve
// distinct types ranked by disk, size and bytes, then one row of the
// others; an unsure row only where the others are.
void check_kinds(const check::jvalue &o) {
  uint64_t files[3] = {num(o.get("files")), num(o.get("files_bytes")), num(o.get("files_disk_bytes"))};
  PROP(is_reason(o.get("files_partial")) && o.get("files_partial")->text == o.get("folder_partial")->text &&
           o.get("files_partial")->kind == o.get("folder_partial")->kind,
       "files_partial differs from folder_partial");
  bool stalled = o.get("folder_partial")->kind == check::jvalue::STR && o.get("folder_partial")->text == "stalled";
  if (!stalled) {
    PROP(files[1] == num(o.get("folder_bytes")), "files_bytes %llu, folder_bytes %llu",
         (unsigned long long)files[1], (unsigned long long)num(o.get("folder_bytes")));
    PROP(files[0] <= num(o.get("folder_items")), "more files than items");
    PROP(files[2] <= num(o.get("folder_disk_bytes")), "files take more than the folder");
  }
  const check::jvalue *ages = o.get("ages");
  PROP(ages->kind == check::jvalue::ARR && ages->items.size() == 6, "ages: six bands");
  static const char *const bands[] = {"day", "week", "month", "year", "older", "unknown"};
  uint64_t sum[3] = {0, 0, 0};
  for (size_t i = 0; i < 6; i++) {
    check_keys(ages->items[i], {"age", "files", "bytes", "disk_bytes"});
    PROP(str(ages->items[i].get("age")) == bands[i], "band %zu is %s", i, str(ages->items[i].get("age")).c_str());
    add_row(ages->items[i], sum);
  }
  PROP(sum[0] == files[0] && sum[1] == files[1] && sum[2] == files[2], "the bands do not add up to the files");
  const check::jvalue *types = o.get("types");
  PROP(types->kind == check::jvalue::ARR && types->items.size() <= 13, "types: at most 13 rows");
  uint64_t tsum[3] = {0, 0, 0};
  bool any_unsure = false;
  std::vector<std::string> seen;
  for (size_t i = 0; i < types->items.size(); i++) {
    const check::jvalue &r = types->items[i];
    check_keys(r, {"type", "files", "bytes", "disk_bytes", "exact"});
    add_row(r, tsum);
    PROP(num(r.get("files")) > 0, "a type row without a file");
    any_unsure |= !boolean(r.get("exact"));
    if (r.get("type")->kind == check::jvalue::NUL) {
      PROP(i + 1 == types->items.size(), "the others' row is not last");
      continue;
    }
    const std::string &t = str(r.get("type"));
    PROP(is_type_text(t), "type %s is no extension", t.c_str());
    PROP(std::find(seen.begin(), seen.end(), t) == seen.end(), "type %s twice", t.c_str());
    seen.push_back(t);
    if (i) {
      const check::jvalue &p = types->items[i - 1];
      uint64_t pd = num(p.get("disk_bytes")), d = num(r.get("disk_bytes"));
      uint64_t pb = num(p.get("bytes")), b = num(r.get("bytes"));
      PROP(pd > d || (pd == d && (pb > b || (pb == b && str(p.get("type")) < t))), "types out of order at %zu", i);
    }
  }
  PROP(seen.size() <= 12, "%zu types before the others", seen.size());
  PROP(tsum[0] == files[0] && tsum[1] == files[1] && tsum[2] == files[2], "the types do not add up to the files");
  // The fake trees hold far fewer than 1024 types.
  PROP(!any_unsure, "a row marked unsure");
}

// The detail reply's own fields: totals that hold the listed entries,
// reasons and stamps of their forms, and the largest files in rank order.
void check_detail(const check::jvalue &o, const std::string &listed) {
  const check::jvalue *list = o.get("entries");
  uint64_t bytes = 0, items = 0;
  for (const check::jvalue &e : list->items) {
    uint64_t b = num(e.get("bytes"));
    bytes = bytes + b < bytes ? UINT64_MAX : bytes + b;
    uint64_t n = num(e.get("items"));
    PROP(boolean(e.get("is_dir")) || n == 1, "a file with items %llu", (unsigned long long)n);
    items += boolean(e.get("is_dir")) ? n + 1 : 1;
    PROP(is_reason(e.get("partial")), "entry partial");
    PROP(is_stamp_or_null(e.get("modified")), "entry modified");
    if (boolean(e.get("is_dir"))) check_children(e);
  }
  check_kinds(o);
  PROP(num(o.get("folder_bytes")) >= bytes, "folder_bytes below its entries'");
  PROP(num(o.get("folder_items")) >= items, "folder_items below its entries'");
  PROP(is_reason(o.get("folder_partial")), "folder_partial");
  PROP(o.get("largest_partial")->text == o.get("folder_partial")->text &&
           o.get("largest_partial")->kind == o.get("folder_partial")->kind,
       "largest_partial differs from folder_partial");
  const check::jvalue *largest = o.get("largest");
  PROP(largest->kind == check::jvalue::ARR && largest->items.size() <= 50, "largest");
  for (size_t i = 0; i < largest->items.size(); i++) {
    const check::jvalue &f = largest->items[i];
    check_keys(f, {"name", "folder", "path", "bytes", "disk_bytes", "modified", "links"});
    PROP(is_stamp_or_null(f.get("modified")), "largest modified");
    const std::string &path = str(f.get("path"));
    const std::string prefix = check::utf8_model(listed + "\\");
    PROP(path.compare(0, prefix.size(), prefix) == 0,
         "a largest file outside the listed folder: %s", path.c_str());
    if (i) {
      const check::jvalue &p = largest->items[i - 1];
      uint64_t pd = num(p.get("disk_bytes")), d = num(f.get("disk_bytes"));
      uint64_t pb = num(p.get("bytes")), b = num(f.get("bytes"));
      // Path ties go by the names compared one by one, by their own
      // bytes, which U+FFFD may hide. The fake tree may hold one name
      // twice in a folder (no file system does): equal paths then stand
      // in either order.
      PROP(pd > d || (pd == d && (pb > b || (pb == b && (names_of(p) <= names_of(f) ||
                                                          path.find("\xef\xbf\xbd") != std::string::npos ||
                                                          str(p.get("path")).find("\xef\xbf\xbd") != std::string::npos)))),
           "largest out of order at %zu: %s after %s", i, path.c_str(), str(p.get("path")).c_str());
    }
  }
}

void check_dirs(const check::jvalue &o, const std::string &home, const sub_model &sub,
                bool detail) {
  std::vector<const char *> keys = {"ok", "action", "plugin", "platform", "root_kind", "root"};
  if (sub.given) keys.push_back("sub");
  for (const char *k : {"root_label", "root_total_bytes", "root_used_bytes",
                        "root_free_bytes", "root_pct"})
    keys.push_back(k);
  if (detail)
    for (const char *k : {"folder_bytes", "folder_disk_bytes", "folder_items", "folder_partial"})
      keys.push_back(k);
  // A walk given up says so after truncated; the fake's walks never stall
  // here.
  for (const char *k : {"count", "truncated", "max_depth", "max_scan_entries", "scan_ms",
                        "utc", "entries"})
    keys.push_back(k);
  if (detail)
    for (const char *k : {"largest", "largest_partial", "files", "files_bytes", "files_disk_bytes",
                          "files_partial", "types", "ages"})
      keys.push_back(k);
  check_keys(o, keys);
  PROP(!sub.given || sub.refusal.empty(), "a malformed sub was listed");
  PROP(!fake.root_unlistable, "a home folder that cannot be listed was listed, not refused");
  std::string listed = home;
  int folder = -1;
  if (sub.given) {
    PROP(str(o.get("sub")) == check::utf8_model(sub.norm), "sub altered");
    std::string refusal;
    folder = below_folder(sub.norm, &refusal);
    PROP(folder != -2, "a sub the platform refuses (%s) was listed", refusal.c_str());
    std::string native = sub.norm;
    std::replace(native.begin(), native.end(), '/', '\\');
    listed = home + "\\" + native;
  }
  PROP(home.size() <= 1023, "a home path of %zu bytes was listed, not refused", home.size());
  PROP(str(o.get("root")) == check::utf8_model(home), "root path altered");
  // The volume's usage, when the home path names one.
  uint64_t total = 0, used = 0, free_b = 0, avail = 0;
  if (home.size() >= 2 && home[1] == ':' && !fake.volume_fails) {
    std::string vol = home.substr(0, 2) + "\\";
    const fake_drive *d = nullptr;
    for (int i = 0; i < fake.n_drives; i++)
      if (vol == fake.drives[i].row.mount) d = &fake.drives[i];
    const space_info *s = d ? (d->space_fails ? nullptr : &d->space)
                            : (fake.root_space_fails ? nullptr : &fake.root_space);
    if (s) {
      total = s->total;
      free_b = s->free;
      avail = s->avail;
      used = total >= free_b ? total - free_b : 0;
    }
  }
  PROP(num(o.get("root_total_bytes")) == total, "root_total_bytes");
  PROP(num(o.get("root_used_bytes")) == used, "root_used_bytes");
  PROP(num(o.get("root_free_bytes")) == free_b, "root_free_bytes");
  PROP(o.get("root_pct")->text == pct_text(used, used + avail), "root_pct %s",
       o.get("root_pct")->text.c_str());

  const check::jvalue *list = o.get("entries");
  PROP(list->kind == check::jvalue::ARR, "entries is not an array");
  PROP(num(o.get("count")) == list->items.size(), "count differs from entries");
  std::vector<entry> got;
  for (size_t i = 0; i < list->items.size(); i++) {
    const check::jvalue &e = list->items[i];
    if (detail && boolean(e.get("is_dir")))
      check_keys(e, {"name", "path", "bytes", "disk_bytes", "pct", "is_dir", "items",
                     "modified", "partial", "children"});
    else if (detail)
      check_keys(e, {"name", "path", "bytes", "disk_bytes", "pct", "is_dir", "items",
                     "modified", "partial"});
    else
      check_keys(e, {"name", "path", "bytes", "pct", "is_dir"});
    entry x{num(e.get("bytes")), str(e.get("name")), str(e.get("path")),
            boolean(e.get("is_dir"))};
    PROP(e.get("pct")->text == pct_text(x.bytes, total), "entry pct %s",
         e.get("pct")->text.c_str());
    if (!got.empty()) {
      const entry &p = got.back();
      // Ties go by the names' own bytes, which a name with U+FFFD in the
      // reply no longer shows.
      bool replaced = p.name.find("\xef\xbf\xbd") != std::string::npos ||
                      x.name.find("\xef\xbf\xbd") != std::string::npos;
      PROP(p.bytes > x.bytes || (p.bytes == x.bytes && (replaced || p.name <= x.name)),
           "entries out of order at %zu", i);
    }
    got.push_back(x);
  }
  if (detail) check_detail(o, listed);
  std::vector<entry> want = expected_entries(listed, folder);
  PROP(boolean(o.get("truncated")) == truncated, "truncated %d, expected %d",
       (int)boolean(o.get("truncated")), (int)truncated);
  std::sort(got.begin(), got.end());
  std::sort(want.begin(), want.end());
  PROP(got.size() == want.size(), "%zu entries, expected %zu", got.size(),
       want.size());
  for (size_t i = 0; i < got.size(); i++)
    PROP(got[i].bytes == want[i].bytes && got[i].name == want[i].name &&
             got[i].path == want[i].path && got[i].is_dir == want[i].is_dir,
         "entry %s: %llu bytes, expected %s with %llu", got[i].name.c_str(),
         (unsigned long long)got[i].bytes, want[i].name.c_str(),
         (unsigned long long)want[i].bytes);
}

void check_json(const std::string &body, const char *qs, const char *node_pwd,
                const char *home) {
  check::reader r(body.data(), body.size() - 1);
  check::jvalue o;
  PROP(r.whole_value(&o), "JSON body does not parse (%s at byte %zu): %s",
       r.why(), r.at(body.data()), body.c_str());
  PROP(o.kind == check::jvalue::OBJ && !o.members.empty() &&
           o.members[0].first == "ok" && o.members[0].second.kind == check::jvalue::BOOL,
       "\"ok\" is not the first key: %s", body.c_str());
  PROP(body.size() >= 2 && body[body.size() - 2] == '}', "body does not close with }");
  if (!o.members[0].second.b) {
    static const char *const codes[] = {"unknown_action", "missing_root",
                                        "root_not_allowed", "root_unavailable",
                                        "out_of_memory", "sub_invalid", "sub_too_long",
                                        "sub_not_found", "sub_not_folder", "sub_link",
                                        "sub_mount", "sub_unreadable"};
    PROP(o.members.size() >= 2 && o.members[1].first == "error", "refusal without error");
    const std::string &code = str(o.get("error"));
    bool known = false;
    for (const char *c : codes) known |= code == c;
    PROP(known, "unknown error code %s", code.c_str());
    // A dirs request for home: the form of a sub is refused first, then a
    // home folder that cannot be listed, then what the platform finds on
    // the sub's way.
    char action[64], root[32];
    get_query_val(qs, "action", action, sizeof action);
    get_query_val(qs, "root", root, sizeof root);
    sub_model sub = model_sub(qs);
    // The metrics action refuses its listed folder as dirs does.
    bool lists = strcmp(action, "dirs") == 0 || strcmp(action, "metrics") == 0;
    if (lists && strcmp(root, "home") == 0) {
      std::string want = sub.given ? sub.refusal : "";
      if (want.empty() && home && *home && strlen(home) < 1024) {
        if (fake.root_unlistable)
          want = "root_unavailable";
        else if (sub.given)
          below_folder(sub.norm, &want);
      }
      if (!want.empty()) PROP(code == want, "%s, expected %s", code.c_str(), want.c_str());
      if (want == "root_unavailable")
        PROP(str(o.get("message")) == "the home folder cannot be read", "home refused with another message");
    }
    bool of_sub = code.compare(0, 4, "sub_") == 0;
    PROP(!of_sub || (lists && strcmp(root, "home") == 0 && sub.given),
         "%s without a sub to refuse", code.c_str());
    PROP(!o.get("utc") && !o.get("pid") && !o.get("plugin"), "refusal carries a head key");
    if (o.get("requested")) {
      // A byte the reply had to replace comes back as three (U+FFFD).
      std::string req = str(o.get("requested"));
      size_t bytes = req.size();
      for (size_t at = req.find("\xef\xbf\xbd"); at != std::string::npos;
           at = req.find("\xef\xbf\xbd", at + 3))
        bytes -= 2;
      PROP(bytes <= (of_sub ? 3076u : 63u), "requested value longer than its buffer");
    }
    return;
  }
  const std::string &action = str(o.get("action"));
  PROP(str(o.get("utc")) == (fake.gmtime_fails ? "1970-01-01T00:00:00Z"
                                               : "2025-01-02T03:04:05Z"),
       "stamp %s", str(o.get("utc")).c_str());
  PROP(str(o.get("platform")) == "windows", "platform");
  if (action == "info") {
    check_keys(o, {"ok", "action", "plugin", "version", "platform", "pid", "utc",
                   "node_auth", "supported", "zero_network", "allowed_roots",
                   "max_depth", "max_scan_entries"});
    bool auth = node_pwd && *node_pwd;
    PROP(boolean(o.get("node_auth")) == auth, "node_auth");
    PROP(num(o.get("pid")) == 4242, "pid");
  } else if (action == "mounts") {
    check_mounts(o, wants_detail(qs));
  } else {
    PROP(action == "dirs", "action %s", action.c_str());
    PROP(home && *home, "dirs answered without a home folder");
    check_dirs(o, home, model_sub(qs), wants_detail(qs));
  }
}

// A metrics reply (text format 0.0.4): every line a HELP, the TYPE of the
// family it names (a gauge, or a counter for a name ending in _total), or
// a sample of that family; each family once
// and whole; label values valid UTF-8 with only \\, \" and \n escaped; each
// series once; the home families exactly when root or sub is given, with at
// most top entries.
// The entries top= asks for: the whole decoded value, digits only, held to
// 512; 20 for anything else.
size_t model_top(const char *qs) {
  std::vector<char> raw(strlen(qs) + 2);
  size_t len = 0;
  get_query_val_len(qs, "top", raw.data(), raw.size(), &len);
  std::string v(raw.data(), len);
  if (v.empty() || v.find_first_not_of("0123456789") != std::string::npos) return 20;
  size_t first = v.find_first_not_of('0');
  if (first == std::string::npos) return 0;
  if (v.size() - first > 3) return 512;
  return std::min<size_t>(512, std::stoul(v.substr(first)));
}

void check_metrics(const std::string &body, const char *qs) {
  static const char *const known[] = {
      "disks_info", "disks_filesystem_size_bytes", "disks_filesystem_free_bytes",
      "disks_filesystem_avail_bytes", "disks_filesystem_files",
      "disks_filesystem_files_free", "disks_filesystem_readonly",
      "disks_filesystem_forced_readonly", "disks_filesystem_errors_total",
      "disks_filesystem_last_error_timestamp_seconds", "disks_filesystem_device_error", "disks_home_bytes", "disks_home_disk_bytes",
      "disks_home_items", "disks_home_partial", "disks_home_walk_seconds",
      "disks_home_entry_bytes", "disks_home_entry_disk_bytes", "disks_home_age_files",
      "disks_home_age_bytes", "disks_home_age_disk_bytes", "disks_home_type_files",
      "disks_home_type_bytes", "disks_home_type_disk_bytes"};
  std::vector<std::string> families, series;
  std::string family, helped;
  size_t entries = 0, types = 0, bands = 0;
  size_t pos = 0;
  while (pos < body.size()) {
    size_t lf = body.find('\n', pos);
    PROP(lf != std::string::npos, "metrics body does not end with LF");
    std::string line = body.substr(pos, lf - pos);
    pos = lf + 1;
    if (line.compare(0, 7, "# HELP ") == 0) {
      size_t sp = line.find(' ', 7);
      PROP(sp != std::string::npos && sp + 1 < line.size(), "HELP without text: %s", line.c_str());
      helped = line.substr(7, sp - 7);
      continue;
    }
    if (line.compare(0, 7, "# TYPE ") == 0) {
      // Counters end in _total, as the format's conventions ask.
      bool counter = helped.size() > 6 && helped.compare(helped.size() - 6, 6, "_total") == 0;
      PROP(line == "# TYPE " + helped + (counter ? " counter" : " gauge"), "TYPE not after its HELP: %s",
           line.c_str());
      bool ok = false;
      for (const char *k : known) ok |= helped == k;
      PROP(ok, "unknown family %s", helped.c_str());
      for (const std::string &f : families) PROP(f != helped, "family %s twice", helped.c_str());
      families.push_back(helped);
      family = helped;
      continue;
    }
    size_t end = line.find_first_of("{ ");
    PROP(end != std::string::npos && line.substr(0, end) == family && !family.empty(),
         "sample outside its family: %s", line.c_str());
    size_t at = end;
    if (line[at] == '{') {
      at++;
      while (line[at] != '}') {
        size_t eq = line.find("=\"", at);
        PROP(eq != std::string::npos, "label without value: %s", line.c_str());
        at = eq + 2;
        std::string value;
        for (;;) {
          PROP(at < line.size(), "label value not closed: %s", line.c_str());
          char c = line[at++];
          if (c == '"') break;
          if (c == '\\') {
            char e = at < line.size() ? line[at++] : '\0';
            PROP(e == '\\' || e == '"' || e == 'n', "escape \\%c in a label value", e);
            value += e == 'n' ? '\n' : e;
          } else {
            value += c;
          }
        }
        PROP(check::utf8_model(value) == value, "label value not UTF-8: %s", line.c_str());
        PROP(at < line.size() && (line[at] == ',' || line[at] == '}'), "labels: %s", line.c_str());
        if (line[at] == ',') at++;
      }
      at++;
    }
    PROP(at < line.size() && line[at] == ' ', "no value: %s", line.c_str());
    std::string v = line.substr(at + 1);
    bool seconds = family == "disks_home_walk_seconds";
    size_t dot = v.find('.');
    PROP(seconds ? dot != std::string::npos && check::is_uint_text(v.substr(0, dot)) &&
                       v.size() - dot == 4
                 : check::is_uint_text(v),
         "value %s", line.c_str());
    std::string key = line.substr(0, at);
    for (const std::string &k : series) PROP(k != key, "series twice: %s", key.c_str());
    series.push_back(key);
    entries += family == "disks_home_entry_bytes";
    types += family == "disks_home_type_disk_bytes";
    bands += family == "disks_home_age_disk_bytes";
  }
  PROP(!families.empty() && families[0] == "disks_info", "disks_info is not first");
  char root[32];
  get_query_val(qs, "root", root, sizeof root);
  bool home = root[0] || model_sub(qs).given;
  bool has_home = std::find(families.begin(), families.end(), "disks_home_bytes") != families.end();
  PROP(home == has_home, "home families %s", has_home ? "without root or sub" : "missing");
  size_t top = model_top(qs);
  PROP(entries <= top, "%zu entry series, top %zu", entries, top);
  // Bounded whatever the tree: the six bands of a walk that tells them,
  // and at most ten types.
  PROP(types <= 10, "%zu type series", types);
  PROP(bands == (has_home ? 6u : 0u), "%zu band series", bands);
}

std::string page_seen[2];

void check_page(const std::string &body, bool embedded) {
  PROP(body.compare(0, 15, "<!DOCTYPE html>") == 0, "page does not start with a doctype");
  PROP(body.size() >= 8 && body.compare(body.size() - 8, 8, "</html>\n") == 0,
       "page does not end with </html> and LF");
  // No value of the request is ever copied into the page.
  std::string &seen = page_seen[embedded];
  if (seen.empty()) seen = body;
  PROP(seen == body, "the page differs between two requests");
  if (!page_seen[0].empty() && !page_seen[1].empty())
    PROP(page_seen[1].size() < page_seen[0].size(),
         "the embedded page is not shorter than the direct one");
}

}  // namespace

extern "C" int LLVMFuzzerInitialize(int *, char ***) {
  // Standard output goes to an in-memory file for the whole run; libFuzzer
  // itself writes to standard error.
  reply_fd = memfd_create("reply", 0);
  if (reply_fd < 0 || dup2(reply_fd, 1) < 0) abort();
  return 0;
}

extern "C" int LLVMFuzzerTestOneInput(const uint8_t *data, size_t size) {
  std::string in((const char *)data, size);
  std::vector<std::string> lines;
  size_t pos = 0;
  while (lines.size() < 5) {
    size_t nl = in.find('\n', pos);
    if (nl == std::string::npos) {
      lines.push_back(in.substr(std::min(pos, in.size())));
      pos = in.size();
      break;
    }
    lines.push_back(in.substr(pos, nl - pos));
    pos = nl + 1;
  }
  std::string tree = pos < in.size() ? in.substr(pos) : "";
  lines.resize(5);
  for (auto &l : lines) l = l.c_str();

  auto digit = [&](size_t i) -> int {
    if (i >= lines[0].size()) return 0;
    char c = lines[0][i];
    if (c >= '0' && c <= '9') return c - '0';
    if (c >= 'a' && c <= 'f') return c - 'a' + 10;
    return (unsigned char)c % 16;
  };
  int present = digit(0);
  const char *node_pwd = (present & 1) ? lines[1].c_str() : nullptr;
  const char *header = (present & 2) ? lines[2].c_str() : nullptr;
  const char *auth = (present & 4) ? lines[3].c_str() : nullptr;
  const char *qs = (present & 8) ? lines[4].c_str() : nullptr;

  fake_reset();
  static std::string deep = long_home();
  static std::string too_long = "C:\\" + std::string(1021, 'x');
  int home_sel = digit(1) % 8;
  fake.home = home_sel == 5 ? deep.c_str() : home_sel == 7 ? too_long.c_str() : homes[home_sel];
  fake.root_space.total = 1000;
  fake.root_space.free = 400;
  fake.root_space.avail = 300;
  add_drives(digit(2));
  apply_failures(digit(3));
  build_tree(tree);
  add_bulk(digit(4), digit(5));
  add_bulk(digit(6), digit(7));

  // action_info reads the node password from the environment.
  if (node_pwd)
    setenv("ZEM_PASSWORD", node_pwd, 1);
  else
    unsetenv("ZEM_PASSWORD");

  clear_reply();
  bool admitted = gate_admits(node_pwd, header, auth, qs);
  route r = ROUTE_PAGE;
  if (!admitted) {
    write_gate_refusal();
  } else {
    r = route_request(qs);
    if (r == ROUTE_JSON)
      mode_json(qs);
    else
      write_page(r == ROUTE_PAGE_EMBEDDED);
  }
  std::string raw = take_reply();
  if (getenv("REQUEST_FUZZ_SHOW")) fprintf(stderr, "%s\n----\n", raw.c_str());
  PROP(fake.open_handles == 0, "%d folder listings left open", fake.open_handles);

  if (!admitted) {
    static const char refusal[] =
        "Status: 401 Unauthorized\r\n"
        "Content-Type: application/json; charset=utf-8\r\n"
        "Cache-Control: no-store\r\n"
        "X-Content-Type-Options: nosniff\r\n"
        "\r\n"
        "{\"ok\":false,\"error\":\"invalid node password\"}\n";
    PROP(raw == std::string(refusal, sizeof refusal - 1), "401 reply altered");
    return 0;
  }
  check::reply rep;
  std::string bad = check::split_reply(raw, &rep);
  PROP(bad.empty(), "%s: %s", bad.c_str(), raw.substr(0, 400).c_str());
  for (const auto &h : rep.headers)
    PROP(h.compare(0, 7, "Status:") != 0, "a Status line on an admitted request");
  PROP(has_header(rep, "Cache-Control: no-store") &&
           has_header(rep, "X-Content-Type-Options: nosniff"),
       "missing header lines");

  bool want_json = qs && (strstr(qs, "action=") || strstr(qs, "format=json"));
  PROP((r == ROUTE_JSON) == want_json, "routed wrongly: %s", qs ? qs : "(unset)");
  char action[64] = "";
  if (qs) get_query_val(qs, "action", action, sizeof action);
  if (want_json && strcmp(action, "metrics") == 0 &&
      has_header(rep, "Content-Type: text/plain; version=0.0.4; charset=utf-8")) {
    PROP(rep.headers.size() == 3, "metrics reply headers");
    check_metrics(rep.body, qs);
  } else if (want_json) {
    PROP(rep.headers.size() == 3 &&
             has_header(rep, "Content-Type: application/json; charset=utf-8"),
         "JSON reply headers");
    check_json(rep.body, qs, node_pwd, fake.home);
  } else {
    bool embedded = qs && (strstr(qs, "embed=1") || strstr(qs, "embed=true"));
    PROP((r == ROUTE_PAGE_EMBEDDED) == embedded, "embedding wrong: %s",
         qs ? qs : "(unset)");
    PROP(has_header(rep, "Content-Type: text/html; charset=utf-8"), "page content type");
    check_page(rep.body, embedded);
  }
  return 0;
}
