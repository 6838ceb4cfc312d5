#include <gtest/gtest.h>

#include <string>

#include "capture.h"
#include "json/writer.h"
#include "storage/fake.h"

namespace {

std::string json_of(const char *s) {
  return capture_reply([s] { json_str(s); });
}

struct json_case {
  std::string in;
  std::string out;
};

TEST(JsonStr, EveryByteClass) {
  const json_case cases[] = {
      {"a\"b\\c", "\"a\\\"b\\\\c\""},
      {"\t\n\r", "\"\\t\\n\\r\""},
      {"\x01", "\"\\u0001\""},
      {"\x08\x0c", "\"\\u0008\\u000c\""},
      {"\x1b", "\"\\u001b\""},
      {"\x1f", "\"\\u001f\""},
      {" /~", "\" /~\""},
      {"\x7f", "\"\x7f\""},
      {"\xc3\xa9", "\"\xc3\xa9\""},
      {"", "\"\""},
      {"C:\\", "\"C:\\\\\""},
  };
  for (const json_case &c : cases) EXPECT_EQ(c.out, json_of(c.in.c_str())) << c.in;
  EXPECT_EQ("\"\"", json_of(nullptr));
}

// Valid UTF-8 passes unchanged; each byte that is not part of a
// well-formed sequence becomes U+FFFD (EF BF BD).
TEST(JsonStr, AlwaysValidUtf8) {
  const std::string r = "\xef\xbf\xbd";
  const json_case cases[] = {
      {"M\xc3\xbasica", "\"M\xc3\xbasica\""},               // two bytes
      {"\xe2\x82\xac", "\"\xe2\x82\xac\""},                  // three
      {"\xf0\x9f\x98\x80", "\"\xf0\x9f\x98\x80\""},          // four
      {"\xef\xbf\xbd", "\"\xef\xbf\xbd\""},                  // U+FFFD itself
      {"\xf4\x8f\xbf\xbf", "\"\xf4\x8f\xbf\xbf\""},          // U+10FFFF
      {"\xff", "\"" + r + "\""},                            // never in UTF-8
      {"T\xe9l\xe9", "\"T" + r + "l" + r + "\""},          // code page 1252
      {"\x80", "\"" + r + "\""},                            // stray continuation
      {"\xc3", "\"" + r + "\""},                            // cut at the end
      {"\xe2\x82" "A", "\"" + r + r + "A\""},                 // cut before a letter
      {"\xc0\xaf", "\"" + r + r + "\""},                   // overlong "/"
      {"\xe0\x80\xaf", "\"" + r + r + r + "\""},            // overlong, three bytes
      {"\xed\xa0\x80", "\"" + r + r + r + "\""},            // a surrogate
      {"\xf4\x90\x80\x80", "\"" + r + r + r + r + "\""},     // above U+10FFFF
      {"\xc3\xa9\xff\x01", "\"\xc3\xa9" + r + "\\u0001\""},  // mixed with escapes
  };
  for (const json_case &c : cases) EXPECT_EQ(c.out, json_of(c.in.c_str())) << c.in;
}

TEST(JsonStr, AllBytesRoundTrip) {
  // Every byte 0x01..0xFF in turn: control bytes escaped, ASCII unchanged,
  // and no byte from 0x80 up begins a sequence with the byte after it.
  std::string in;
  for (int b = 1; b < 256; b++) in += (char)b;
  std::string out = json_of(in.c_str());
  std::string expected = "\"";
  for (int b = 1; b < 256; b++) {
    char esc[8];
    if (b == '\t') expected += "\\t";
    else if (b == '\n') expected += "\\n";
    else if (b == '\r') expected += "\\r";
    else if (b == '"') expected += "\\\"";
    else if (b == '\\') expected += "\\\\";
    else if (b < 0x20) snprintf(esc, sizeof esc, "\\u%04x", b), expected += esc;
    else if (b >= 0x80) expected += "\xef\xbf\xbd";
    else expected += (char)b;
  }
  expected += "\"";
  EXPECT_EQ(expected, out);
}

TEST(JsonHeader, Is107BytesWithoutStatus) {
  std::string h = capture_reply([] { json_header(); });
  EXPECT_EQ(107u, h.size());
  EXPECT_EQ(
      "Content-Type: application/json; charset=utf-8\r\n"
      "Cache-Control: no-store\r\n"
      "X-Content-Type-Options: nosniff\r\n\r\n",
      h);
}

TEST(CopyStr, Cases) {
  char buf[4];
  copy_str(buf, sizeof buf, "abcdef");
  EXPECT_STREQ("abc", buf);
  copy_str(buf, sizeof buf, "abc");
  EXPECT_STREQ("abc", buf);
  copy_str(buf, sizeof buf, "ab");
  EXPECT_STREQ("ab", buf);
  copy_str(buf, sizeof buf, nullptr);
  EXPECT_STREQ("", buf);
  char one[1] = {'x'};
  copy_str(one, 1, "abc");
  EXPECT_EQ('\0', one[0]);
}

struct pct_case {
  uint64_t n, d;
  const char *text;
};

TEST(PctOf, Cases) {
  const pct_case cases[] = {
      {600, 900, "66.7"}, {1, 3, "33.3"},   {7, 0, "0.0"},
      {300, 200, "100.0"}, {0, 5, "0.0"},  {1, 2000, "0.1"},
      {1, 1000000, "0.0"}, {999, 1000, "99.9"}, {9995, 10000, "100.0"},
      {UINT64_MAX, UINT64_MAX, "100.0"},
  };
  for (const pct_case &c : cases) {
    char text[16];
    snprintf(text, sizeof text, "%.1f", pct_of(c.n, c.d));
    EXPECT_STREQ(c.text, text) << c.n << "/" << c.d;
  }
}

TEST(Stamp, FormatsUtc) {
  fake_reset();
  char buf[STAMP_CAP];
  format_stamp(1735787045, buf);
  EXPECT_STREQ("2025-01-02T03:04:05Z", buf);
  format_stamp(0, buf);
  EXPECT_STREQ("1970-01-01T00:00:00Z", buf);
  make_stamp(buf);
  EXPECT_STREQ("2025-01-02T03:04:05Z", buf);
}

TEST(Stamp, FallsBackWhenTimeCannotBeConverted) {
  fake_reset();
  fake.gmtime_fails = 1;
  char buf[STAMP_CAP];
  memset(buf, 'x', sizeof buf);
  make_stamp(buf);
  EXPECT_STREQ("1970-01-01T00:00:00Z", buf);
}

}  // namespace
