#include <gtest/gtest.h>

#include <string>

#include "front/query.h"

namespace {

struct query_case {
  const char *qs;
  size_t cap;
  int found;
  std::string value;  // as callers read it: up to the first NUL
};

const query_case query_cases[] = {
    {"action=abc", 64, 1, "abc"},
    {"a=1&action=x%41+y", 64, 1, "xA y"},
    {"action=", 64, 1, ""},
    {"action=&a=1", 64, 1, ""},
    {"action", 64, 0, ""},
    {"action&a=1", 64, 0, ""},
    {"xaction=1", 64, 0, ""},
    {"action2=1", 64, 0, ""},
    {"ACTION=1", 64, 0, ""},
    {"action=a&action=b", 64, 1, "a"},
    {"action=&action=b", 64, 1, ""},
    {"&&action=x", 64, 1, "x"},
    {"a=1&", 64, 0, ""},
    {"action=a%26b", 64, 1, "a&b"},
    {"action=a=b", 64, 1, "a=b"},
    {"action=a;b", 64, 1, "a;b"},
    {"action=%zz", 64, 1, "%zz"},
    {"action=100%", 64, 1, "100%"},
    {"action=%4", 64, 1, "%4"},
    {"action=%%41", 64, 1, "%A"},
    {"action=%2b", 64, 1, "+"},
    {"action=%2B", 64, 1, "+"},
    {"action=%e9", 64, 1, "\xe9"},
    {"action=ab%00cd", 64, 1, "ab"},
    {"action=abcdef", 4, 1, "abc"},
    {"action=ab%41", 4, 1, "ab%"},
    {"action=ab", 2, 1, "a"},
    {"", 64, 0, ""},
};

TEST(GetQueryVal, Cases) {
  for (const query_case &c : query_cases) {
    char buf[64];
    memset(buf, 'z', sizeof buf);
    int found = get_query_val(c.qs, "action", buf, c.cap);
    EXPECT_EQ(c.found, found) << c.qs;
    EXPECT_EQ(c.value, std::string(buf)) << c.qs;
    EXPECT_LT(strlen(buf), c.cap) << c.qs;
  }
}

TEST(GetQueryVal, NullQueryGivesEmpty) {
  char buf[8] = "junk";
  EXPECT_EQ(0, get_query_val(nullptr, "action", buf, sizeof buf));
  EXPECT_STREQ("", buf);
}

TEST(GetQueryVal, CutCountsRawBytes) {
  // 70 encoded 'x' (%78) are cut to 63 raw bytes: 21 escapes.
  std::string qs = "action=";
  for (int i = 0; i < 70; i++) qs += "%78";
  char buf[64];
  ASSERT_EQ(1, get_query_val(qs.c_str(), "action", buf, sizeof buf));
  EXPECT_EQ(std::string(21, 'x'), buf);
}

}  // namespace
