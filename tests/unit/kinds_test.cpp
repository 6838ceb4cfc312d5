// The type a name tells, the age band a time falls in, and the ranking of
// a table of types into the reply's rows.
#include <gtest/gtest.h>

#include <stdint.h>

#include <string.h>

#include <string>

#include "walk/ages.h"
#include "walk/types.h"

namespace {

// name in a buffer as a listing hands names out.
struct name_buf {
  char b[NAME_MAX_BYTES + 1] = {};
  explicit name_buf(const std::string &name) { memcpy(b, name.c_str(), name.size() + 1); }
};

// The type of name as the reply writes it: the extension, "" for none,
// "(odd)" for one that is no type.
// Both roads: the table's, and the plain one it takes for the names it
// does not read itself, must agree.
std::string type_of(const std::string &name) {
  static type_table *t = new type_table();
  int row = type_row_of(t, name_buf(name).b);
  type_key k;
  int plain = type_key_of(name_buf(name).b, name.size(), &k);
  std::string via_table = row == TYPE_NONE ? "" : row == TYPE_ODD ? "(odd)" : "";
  if (row < TYPE_SLOTS) {
    char text[TYPE_EXT_MAX + 1];
    type_text(&t->slot[row].key, text);
    via_table = text;
  }
  std::string via_plain = plain == TYPE_NONE ? "" : plain == TYPE_ODD ? "(odd)" : "";
  if (!plain) {
    char text[TYPE_EXT_MAX + 1];
    type_text(&k, text);
    via_plain = text;
  }
  EXPECT_EQ(via_table, via_plain) << name;
  return via_table;
}

TEST(TypeOfName, TheExtensionRule) {
  struct row {
    std::string name;
    const char *type;
  } rows[] = {
      {"README", ""},                       // no dot
      {".bashrc", ""},                      // a leading dot alone
      {"..bashrc", "bashrc"},               // a dot after the first byte
      {".config.bak", "bak"},               // a leading dot and another
      {"notes.", ""},                       // a trailing dot
      {"...", ""},                          // dots alone
      {"a..", ""},
      {"archive.tar.gz", "gz"},             // several dots: the last
      {"photo.JPG", "jpg"},                 // upper case: lowered
      {"Film.Mp4", "mp4"},
      {"x.@Z[`", "@z[`"},                   // only A to Z are lowered
      {"\xc3\x89T\xc3\x89.\xc3\x89T\xc3\x89", "\xc3\x89t\xc3\x89"},  // UTF-8 kept, ASCII lowered
      {"caf\xe9.txt", "txt"},               // a name not UTF-8, its extension whole
      {"photo.jp\xe9", "(odd)"},            // an extension not UTF-8: no type
      {"x.\xed\xa0\x80", "(odd)"},          // a surrogate's form
      {"x.\xc3", "(odd)"},                  // a sequence cut short
      {"x.abcdefghijklmnop", "abcdefghijklmnop"},  // 16 bytes: the longest
      {"x.abcdefghijklmnopq", "(odd)"},     // 17 bytes: too long
      {"com.example.some-long-settings-name", "(odd)"},
      {std::string(700, 'n') + ".iso", "iso"},     // a long name
      {std::string(700, 'n'), ""},                 // long, no dot
      {"." + std::string(40, 'q'), ""},            // long, a leading dot alone
      {"x." + std::string(40, 'q'), "(odd)"},      // long, its extension too
      {"a.b.abcdefghijklmnopqrstuvwxyz", "(odd)"},
      {"x.1", "1"},
      {"ab.c", "c"},                        // short names: read in one word
      {".a", ""},
      {"a.", ""},
      {"xy", ""},
      {"x", ""},
      {".", ""},
      {"", ""},
      {"12345678.abcdefgh", "abcdefgh"},    // 8 to 16 bytes: read byte by byte
      {"a.bcdefghi", "bcdefghi"},
      {".bcdefghij", ""},                   // the only dot begins the name
      {"n.ABCDEFGHIJKLMNOP", "abcdefghijklmnop"},
      {"n.\xc3\x89\xc3\x89\xc3\x89\xc3\x89X", "\xc3\x89\xc3\x89\xc3\x89\xc3\x89x"},
      {"n.\xc3\x89\xc3\x89\xc3\x89\xc3\x89\xe9", "(odd)"},
      {"a.b" + std::string(20, 'z'), "(odd)"},   // a dot far before the end
      {"ab" + std::string(20, 'z'), ""},
      {"back\\slash.TXT", "txt"},           // a name's bytes, never a path
  };
  for (const row &r : rows) EXPECT_EQ(r.type, type_of(r.name)) << r.name;
}

TEST(AgeBand, EachEdgeTheFutureAndNone) {
  const int64_t now = 1735787045, day = 86400;
  struct row {
    int has;
    int64_t mtime;
    int band;
  } rows[] = {
      {1, now, AGE_DAY},
      {1, now + 1, AGE_DAY},                  // the future
      {1, INT64_MAX, AGE_DAY},
      {1, now - day + 1, AGE_DAY},
      {1, now - day, AGE_WEEK},               // a whole day: no longer under one
      {1, now - 7 * day + 1, AGE_WEEK},
      {1, now - 7 * day, AGE_MONTH},
      {1, now - 30 * day + 1, AGE_MONTH},
      {1, now - 30 * day, AGE_YEAR},
      {1, now - 365 * day + 1, AGE_YEAR},
      {1, now - 365 * day, AGE_OLDER},
      {1, 0, AGE_OLDER},
      {1, INT64_MIN, AGE_OLDER},              // no overflow however far back
      {0, now, AGE_UNKNOWN},                  // no time told
      {0, 0, AGE_UNKNOWN},
  };
  for (const row &r : rows)
    EXPECT_EQ(r.band, age_band(now, r.has, r.mtime)) << r.has << " " << r.mtime;
  EXPECT_STREQ("day", age_names[AGE_DAY]);
  EXPECT_STREQ("unknown", age_names[AGE_UNKNOWN]);
}

// Counts one file of name in t.
void count(type_table *t, const char *name, uint64_t bytes, uint64_t disk) {
  file_sum *s = &t->slot[type_row_of(t, name_buf(name).b)].sum;
  s->files++;
  s->bytes += bytes;
  s->disk_bytes += disk;
}

std::string text_of(const type_table *t, const type_row &r) {
  if (r.row == TYPE_ROWS) return "(others)";
  if (r.row == TYPE_NONE) return "";
  if (r.row == TYPE_ODD) return "(odd)";
  char text[TYPE_EXT_MAX + 1];
  type_text(&t->slot[r.row].key, text);
  return text;
}

TEST(TypeRank, LargestOnDiskThenSizeThenTypeThenOthers) {
  type_table *t = new type_table();
  count(t, "a.iso", 10, 4096);
  count(t, "b.ISO", 10, 4096);  // the same type
  count(t, "c.mkv", 30, 4096);
  count(t, "d.zip", 20, 8192);
  count(t, "README", 5, 8192);  // no extension: first among equals
  count(t, "e.ZZZ", 5, 8192);
  count(t, "x.abcdefghijklmnopqrstuvwxyz", 1, 100);  // no type: the others
  type_row rows[TYPES_SHOWN + 1];
  int n = type_rank(t, 4, rows);
  ASSERT_EQ(5, n);
  const char *want[] = {"iso", "zip", "", "zzz", "(others)"};
  for (int i = 0; i < n; i++) EXPECT_EQ(want[i], text_of(t, rows[i])) << i;
  EXPECT_EQ(2u, rows[0].sum.files);
  EXPECT_EQ(20u, rows[0].sum.bytes);
  // The others: mkv and the odd one.
  EXPECT_EQ(2u, rows[4].sum.files);
  EXPECT_EQ(31u, rows[4].sum.bytes);
  EXPECT_EQ(4196u, rows[4].sum.disk_bytes);
  for (int i = 0; i < n; i++) EXPECT_TRUE(rows[i].exact) << i;
  // Every type shown: the others' row holds the one that is no type.
  ASSERT_EQ(6, type_rank(t, TYPES_SHOWN, rows));
  EXPECT_EQ("mkv", text_of(t, rows[4]));
  EXPECT_EQ("(others)", text_of(t, rows[5]));
  EXPECT_EQ(1u, rows[5].sum.files);
  delete t;
}

// More types than the table holds: the excess counts in the others' row,
// the rows still add up, and a row an uncounted type could outrank says so.
TEST(TypeRank, ATableFullCountsTheRestAsOthersMarkedInexact) {
  type_table *t = new type_table();
  count(t, "big.vmdk", 1, 1000000);
  for (int i = 0; i < TYPE_TABLE_MAX - 1; i++)
    count(t, ("f.t" + std::to_string(i)).c_str(), 1, 10);
  EXPECT_EQ((uint32_t)TYPE_TABLE_MAX, t->used);
  // Past the table: each of these is a type never told apart.
  EXPECT_EQ(TYPE_PAST, type_row_of(t, name_buf("late.newtype").b));
  count(t, "late.newtype", 7, 500);
  count(t, "later.other", 7, 500);
  // A type in the table still counts in its own row; no extension too.
  EXPECT_NE(TYPE_PAST, type_row_of(t, name_buf("again.VMDK").b));
  count(t, "NOEXT", 1, 2000);
  type_row rows[TYPES_SHOWN + 1];
  int n = type_rank(t, TYPES_SHOWN, rows);
  ASSERT_EQ(TYPES_SHOWN + 1, n);
  EXPECT_EQ("vmdk", text_of(t, rows[0]));
  EXPECT_TRUE(rows[0].exact);  // nothing uncounted takes as much
  EXPECT_EQ("", text_of(t, rows[1]));
  EXPECT_TRUE(rows[1].exact);  // 2000 on disk against 1000 uncounted
  EXPECT_FALSE(rows[2].exact);  // 10 on disk: an uncounted type may be larger
  EXPECT_FALSE(rows[n - 1].exact);
  file_sum all = {0, 0, 0};
  for (int i = 0; i < n; i++) file_sum_add(&all, &rows[i].sum);
  EXPECT_EQ((uint64_t)TYPE_TABLE_MAX + 3, all.files);
  EXPECT_EQ(1000000u + (TYPE_TABLE_MAX - 1) * 10u + 1000u + 2000u, all.disk_bytes);
  delete t;
}

TEST(TypeRank, AnEmptyTableHasNoRows) {
  type_table *t = new type_table();
  type_row rows[TYPES_SHOWN + 1];
  EXPECT_EQ(0, type_rank(t, TYPES_SHOWN, rows));
  delete t;
}

}  // namespace
