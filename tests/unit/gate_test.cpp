#include <gtest/gtest.h>

#include <string>

#include "capture.h"
#include "front/gate.h"

namespace {

struct gate_case {
  const char *name;
  const char *node_pwd;
  const char *header;
  const char *auth;
  const char *qs;
  int admits;
};

const gate_case gate_cases[] = {
    {"open node", nullptr, nullptr, nullptr, nullptr, 1},
    {"empty node password admits anything", "", "wrong", nullptr, "pwd=x", 1},
    {"no credentials", "s3cret", nullptr, nullptr, nullptr, 0},
    {"header", "s3cret", "s3cret", nullptr, nullptr, 1},
    {"header differs in case", "s3cret", "S3cret", nullptr, nullptr, 0},
    {"header with a longer value", "s3cret", "s3cret2", nullptr, nullptr, 0},
    {"header prefix", "s3cret", "s3cre", nullptr, nullptr, 0},
    {"wrong header, right pwd", "s3cret", "nope", nullptr, "pwd=s3cret", 1},
    {"bearer", "s3cret", nullptr, "Bearer s3cret", nullptr, 1},
    {"bearer, two spaces", "s3cret", nullptr, "Bearer  s3cret", nullptr, 1},
    {"bearer, leading spaces", "s3cret", nullptr, "   Bearer s3cret", nullptr, 1},
    {"bearer lower case", "s3cret", nullptr, "bearer s3cret", nullptr, 0},
    {"bearer, tab", "s3cret", nullptr, "Bearer\ts3cret", nullptr, 0},
    {"bearer, trailing space", "s3cret", nullptr, "Bearer s3cret ", nullptr, 0},
    {"leading tab", "s3cret", nullptr, "\tBearer s3cret", nullptr, 0},
    {"basic scheme", "s3cret", nullptr, "Basic s3cret", nullptr, 0},
    {"bare password as authorization", "s3cret", nullptr, "s3cret", nullptr, 0},
    {"pwd", "s3cret", nullptr, nullptr, "action=info&pwd=s3cret", 1},
    {"pwd with %20", "a b", nullptr, nullptr, "pwd=a%20b", 1},
    {"pwd with +", "a b", nullptr, nullptr, "pwd=a+b", 1},
    {"header is not decoded", "a b", "a%20b", nullptr, nullptr, 0},
    {"header with a raw space", "a b", "a b", nullptr, nullptr, 1},
    {"empty pwd", "s3cret", nullptr, nullptr, "pwd=", 0},
    {"encoded & + %", "a&b+c%d", nullptr, nullptr, "pwd=a%26b%2Bc%25d", 1},
    {"raw & ends the value", "a&b", nullptr, nullptr, "pwd=a&b", 0},
    {"first pwd decides", "s3cret", nullptr, nullptr, "pwd=x&pwd=s3cret", 0},
    {"pwd is case-sensitive in name", "s3cret", nullptr, nullptr, "PWD=s3cret", 0},
};

TEST(Gate, Cases) {
  for (const gate_case &c : gate_cases)
    EXPECT_EQ(c.admits, gate_admits(c.node_pwd, c.header, c.auth, c.qs)) << c.name;
}

TEST(Gate, PwdCutTo255RawBytes) {
  std::string pwd(255, 'p');
  std::string qs = "pwd=" + pwd + "tail";
  EXPECT_EQ(1, gate_admits(pwd.c_str(), nullptr, nullptr, qs.c_str()));
  std::string longer = pwd + "t";
  EXPECT_EQ(0, gate_admits(longer.c_str(), nullptr, nullptr, qs.c_str()));
  // The same long password still passes by header and by bearer token.
  EXPECT_EQ(1, gate_admits(longer.c_str(), longer.c_str(), nullptr, nullptr));
  std::string bearer = "Bearer " + longer;
  EXPECT_EQ(1, gate_admits(longer.c_str(), nullptr, bearer.c_str(), nullptr));
}

TEST(Gate, RefusalIsTheFixed178Bytes) {
  std::string out = capture_reply([] { write_gate_refusal(); });
  EXPECT_EQ(178u, out.size());
  EXPECT_EQ(
      "Status: 401 Unauthorized\r\n"
      "Content-Type: application/json; charset=utf-8\r\n"
      "Cache-Control: no-store\r\n"
      "X-Content-Type-Options: nosniff\r\n"
      "\r\n"
      "{\"ok\":false,\"error\":\"invalid node password\"}\n",
      out);
}

}  // namespace
