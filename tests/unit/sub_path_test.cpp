#include <gtest/gtest.h>

#include <string>

#include "front/query.h"
#include "walk/sub_path.h"
#include "plugin.h"

namespace {

struct sub_case {
  std::string val;   // the decoded value, zero bytes included
  int result;
  const char *norm;  // the normal form when SUB_OK
};

const sub_case sub_cases[] = {
    {"Music", SUB_OK, "Music"},
    {"Music/Rock", SUB_OK, "Music/Rock"},
    {"Music/Rock/", SUB_OK, "Music/Rock"},
    {"a b/.hidden/..x/x..", SUB_OK, "a b/.hidden/..x/x.."},
    {"...", SUB_OK, "..."},
    // Trailing dots and spaces are part of a name, on every platform: the
    // folder of exactly that name is listed, or none.
    {"x.", SUB_OK, "x."},
    {"x ", SUB_OK, "x "},
    {"x./y ", SUB_OK, "x./y "},
    {"..../ ", SUB_OK, "..../ "},
    {"x./", SUB_OK, "x."},
    {"M\xc3\xbasica/\xe6\x97\xa5", SUB_OK, "M\xc3\xbasica/\xe6\x97\xa5"},
    {"tab\there", SUB_OK, "tab\there"},
    {"/", SUB_INVALID, ""},
    {"/etc", SUB_INVALID, ""},
    {"//", SUB_INVALID, ""},
    {"a//b", SUB_INVALID, ""},
    {"a//", SUB_INVALID, ""},
    {".", SUB_INVALID, ""},
    {"..", SUB_INVALID, ""},
    {"./a", SUB_INVALID, ""},
    {"a/.", SUB_INVALID, ""},
    {"a/./b", SUB_INVALID, ""},
    {"../../etc", SUB_INVALID, ""},
    {"Music/../..", SUB_INVALID, ""},
    {"a/..", SUB_INVALID, ""},
    {"a/../", SUB_INVALID, ""},
    {"a\\b", SUB_INVALID, ""},
    {"..\\..", SUB_INVALID, ""},
    {"C:", SUB_INVALID, ""},
    {"C:\\Windows", SUB_INVALID, ""},
    {"c:/x", SUB_INVALID, ""},
    {"a:b", SUB_INVALID, ""},
    {"file.txt:stream", SUB_INVALID, ""},
    {std::string("a\0b", 3), SUB_INVALID, ""},
    {std::string("\0", 1), SUB_INVALID, ""},
    {std::string("a\0", 2), SUB_INVALID, ""},
    {std::string(MAX_SUB_BYTES, 'x'), SUB_OK, nullptr},
    {std::string(MAX_SUB_BYTES, 'x') + "/", SUB_OK, nullptr},
    {std::string(MAX_SUB_BYTES + 1, 'x'), SUB_TOO_LONG, ""},
    {std::string(MAX_SUB_BYTES + 1, 'x') + "/", SUB_TOO_LONG, ""},
    {std::string(MAX_SUB_BYTES + 5, '/'), SUB_TOO_LONG, ""},
};

TEST(CheckSub, Table) {
  for (const sub_case &c : sub_cases) {
    char norm[MAX_SUB_BYTES + 1];
    memset(norm, 'z', sizeof norm);
    EXPECT_EQ(c.result, check_sub(c.val.data(), c.val.size(), norm, sizeof norm))
        << c.val.substr(0, 40);
    if (c.norm)
      EXPECT_STREQ(c.norm, norm) << c.val.substr(0, 40);
    else
      EXPECT_EQ(std::string(MAX_SUB_BYTES, 'x'), norm);
  }
}

TEST(GetQueryValLen, CountsZeroBytes) {
  char buf[32];
  size_t len = 99;
  ASSERT_EQ(1, get_query_val_len("sub=a%00b&x=1", "sub", buf, sizeof buf, &len));
  EXPECT_EQ(3u, len);
  EXPECT_STREQ("a", buf);
  ASSERT_EQ(0, get_query_val_len("x=1", "sub", buf, sizeof buf, &len));
  EXPECT_EQ(0u, len);
  ASSERT_EQ(1, get_query_val_len("sub=Music%2FRock+x", "sub", buf, sizeof buf, &len));
  EXPECT_EQ(12u, len);
  EXPECT_STREQ("Music/Rock x", buf);
}

// The reader's buffer of the dirs action holds 3 * MAX_SUB_BYTES + 4 raw
// bytes: a value cut there always decodes to more than the limit, even
// after a trailing '/' is dropped.
TEST(CheckSub, CutValueIsTooLong) {
  std::string qs = "sub=";
  for (int i = 0; i < MAX_SUB_BYTES; i++) qs += "%41";
  qs += "/more";
  char raw[3 * MAX_SUB_BYTES + 5];
  size_t len;
  ASSERT_EQ(1, get_query_val_len(qs.c_str(), "sub", raw, sizeof raw, &len));
  char norm[MAX_SUB_BYTES + 1];
  EXPECT_EQ(SUB_TOO_LONG, check_sub(raw, len, norm, sizeof norm));
}

}  // namespace
