// The dashboard document as write_page produces it: header block, shape,
// the direct-open line, ASCII only, size.
#include <gtest/gtest.h>
#include <stdio.h>
#include <unistd.h>

#include <string>

#include "page/page.h"

namespace {

// Runs write_page with standard output pointed at a temporary file and
// returns what it wrote.
std::string page_bytes(int embedded) {
  fflush(stdout);
  FILE *tmp = tmpfile();
  if (!tmp) return "tmpfile failed";
  int saved = dup(fileno(stdout));
  dup2(fileno(tmp), fileno(stdout));
  write_page(embedded);
  fflush(stdout);
  dup2(saved, fileno(stdout));
  close(saved);
  std::string out;
  rewind(tmp);
  char buf[4096];
  size_t n;
  while ((n = fread(buf, 1, sizeof buf, tmp)) > 0) out.append(buf, n);
  fclose(tmp);
  return out;
}

const char kHeader[] =
    "Content-Type: text/html; charset=utf-8\r\n"
    "Cache-Control: no-store\r\n"
    "X-Content-Type-Options: nosniff\r\n"
    "\r\n";
const std::string kDirect =
    "<div class=\"sub\" style=\"margin-bottom:14px\">Opened directly from the node API.</div>";

size_t count_of(const std::string &s, const std::string &what) {
  size_t n = 0;
  for (size_t at = s.find(what); at != std::string::npos; at = s.find(what, at + 1)) n++;
  return n;
}

TEST(Page, StartsWithTheHeaderBlockAndTheDoctype) {
  for (int embedded : {0, 1}) {
    std::string page = page_bytes(embedded);
    ASSERT_GT(page.size(), sizeof kHeader);
    EXPECT_EQ(page.compare(0, sizeof kHeader - 1, kHeader), 0);
    EXPECT_EQ(page.compare(sizeof kHeader - 1, 16, "<!DOCTYPE html>\n"), 0);
    // One header block only: no other CR anywhere.
    EXPECT_EQ(count_of(page, "\r"), 4u);
    EXPECT_EQ(page.find("Status"), std::string::npos);
  }
}

TEST(Page, EndsWithTheHtmlEndTagAndOneLineFeed) {
  for (int embedded : {0, 1}) {
    std::string page = page_bytes(embedded);
    const std::string tail = "})();\n</script></body></html>\n";
    ASSERT_GE(page.size(), tail.size());
    EXPECT_EQ(page.compare(page.size() - tail.size(), tail.size(), tail), 0);
    EXPECT_EQ(count_of(page, "</html>"), 1u);
  }
}

TEST(Page, DirectOpenLineOnlyWhenNotEmbedded) {
  std::string direct = page_bytes(0);
  std::string embedded = page_bytes(1);
  EXPECT_EQ(count_of(direct, kDirect), 1u);
  EXPECT_EQ(count_of(embedded, kDirect), 0u);
  EXPECT_EQ(count_of(embedded, "Opened directly"), 0u);
  // The line (with its own line break) is the only difference, and it
  // stands between the About card and the client script.
  size_t at = direct.find(kDirect + "\n");
  ASSERT_NE(at, std::string::npos);
  EXPECT_TRUE(direct.substr(0, at) + direct.substr(at + kDirect.size() + 1) == embedded);
  EXPECT_EQ(direct.rfind("entries.</p></div>\n", at) + 19, at);
  EXPECT_EQ(direct.compare(at + kDirect.size() + 1, 9, "<script>\n"), 0);
}

TEST(Page, AnyNonZeroFlagIsEmbedded) {
  EXPECT_TRUE(page_bytes(7) == page_bytes(1));
}

TEST(Page, SameBytesOnEveryRun) {
  EXPECT_TRUE(page_bytes(0) == page_bytes(0));
  EXPECT_TRUE(page_bytes(1) == page_bytes(1));
}

TEST(Page, PureAsciiWithLineFeedsOnly) {
  std::string page = page_bytes(0);
  size_t bad = 0;
  for (size_t i = sizeof kHeader - 1; i < page.size(); i++) {
    unsigned char c = (unsigned char)page[i];
    if (c >= 0x80 || (c < 0x20 && c != '\n')) bad++;
  }
  EXPECT_EQ(bad, 0u);
}

// One fixed text of a known size: the folder map and the narrow-screen
// rows took it past 55 KB, the comparison with earlier looks past 71 KB,
// the drives that need attention past 73 KB; it stays under 75 KB, and a
// page that grew or shrank much more has lost or doubled a piece.
TEST(Page, UnderSeventyFiveKilobytes) {
  std::string page = page_bytes(0);
  EXPECT_GT(page.size(), 60000u);
  EXPECT_LT(page.size(), 75000u);
}

// The About card names what the two builds call, and no build that does
// not exist.
TEST(Page, AboutCardNamesTheCallsOfBothBuilds) {
  std::string page = page_bytes(0);
  for (const char *name : {"/proc/self/mountinfo", "statvfs", "statx", "GetLogicalDriveStringsW", "GetDriveTypeW",
                           "GetDiskFreeSpaceExW", "GetVolumeInformationW"}) {
    EXPECT_EQ(count_of(page, std::string("<code>") + name + "</code>"), 1u) << name;
  }
  EXPECT_EQ(page.find("macOS"), std::string::npos);
  EXPECT_EQ(page.find("getmntinfo"), std::string::npos);
  EXPECT_EQ(page.find("DriveStringsA"), std::string::npos);
}

// A password given in the page's address (?pwd=) must not travel on in
// the Referer of the requests the browser makes by itself (its icon).
TEST(Page, SendsNoReferrer) {
  for (int embedded = 0; embedded <= 1; embedded++)
    EXPECT_NE(page_bytes(embedded).find(
                  "<meta name=\"referrer\" content=\"no-referrer\">"),
              std::string::npos);
}

TEST(Page, ThreeScriptsAndOneStyleElement) {
  std::string page = page_bytes(0);
  EXPECT_EQ(count_of(page, "<script>"), 3u);
  EXPECT_EQ(count_of(page, "</script>"), 3u);
  EXPECT_EQ(count_of(page, "<style>"), 1u);
  EXPECT_EQ(count_of(page, "</style>"), 1u);
  // In the stated order: first-paint script, style, bridge, body, client script.
  size_t style = page.find("<style>");
  size_t head_end = page.find("</head>");
  size_t body = page.find("<body>");
  EXPECT_LT(page.find("<title>disks</title><script>"), style);
  EXPECT_LT(style, head_end);
  EXPECT_EQ(page.find("</style></head><script>"), page.find("</style>"));
  EXPECT_LT(head_end, body);
  EXPECT_NE(page.find("</script>\n<body><div class=\"wrap\">"), std::string::npos);
  EXPECT_NE(page.find("<script>\n(function(){\n"), std::string::npos);
}

TEST(Page, EveryIdOnce) {
  std::string page = page_bytes(0);
  for (const char *id : {"pPlatform", "pState", "segRate", "btnRefresh", "kCount", "kTotal", "kUsed",
                         "kFree", "kFull", "nodeLine", "mounts", "mountEmpty", "segRoot", "dirNote",
                         "rows", "dirEmpty", "largest", "lgNote", "lgPartial", "lgRows", "lgMore", "lgEmpty",
                         "mapWrap", "dirMap", "mapTip", "mapHint", "ofMeasure", "memGroup", "memSum",
                         "memMounts", "cmpSel", "cmpFile", "cmpIn", "cmpSave", "cmpMsg", "cmpGone", "cmpGoneHd",
                         "cmpList"}) {
    EXPECT_EQ(count_of(page, std::string("id=\"") + id + "\""), 1u) << id;
  }
  EXPECT_EQ(count_of(page, "id=\""), 38u);
}

}  // namespace
