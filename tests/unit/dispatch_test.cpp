#include <gtest/gtest.h>

#include <stdlib.h>

#include <string>

#include "capture.h"
#include "front/dispatch.h"
#include "json/actions.h"
#include "storage/fake.h"

namespace {

std::string reply_for(const char *qs) {
  return capture_reply([qs] { EXPECT_EQ(0, mode_json(qs)); });
}

const char info_body[] =
    "{\"ok\":true,\"action\":\"info\",\"plugin\":\"plugin_disks\",\"version\":"
    "\"1.0.2\",\"platform\":\"windows\",\"pid\":4242,\"utc\":"
    "\"2025-01-02T03:04:05Z\",\"node_auth\":%s,\"supported\":[\"mounts\","
    "\"dirs\",\"info\"],\"zero_network\":true,\"allowed_roots\":[\"workspace\","
    "\"home\"],\"max_depth\":8,\"max_scan_entries\":120000}\n";

std::string info_with(const char *node_auth) {
  char buf[512];
  snprintf(buf, sizeof buf, info_body, node_auth);
  return buf;
}

std::string refusal(const std::string &requested_json) {
  return "{\"ok\":false,\"error\":\"unknown_action\",\"supported\":[\"mounts\","
         "\"dirs\",\"info\"],\"requested\":" +
         requested_json + "}\n";
}

class Dispatch : public ::testing::Test {
 protected:
  void SetUp() override {
    fake_reset();
    unsetenv("ZEM_PASSWORD");
  }
};

TEST_F(Dispatch, InfoReply) {
  std::string out = reply_for("action=info");
  EXPECT_EQ(107u, out.find("{"));
  EXPECT_EQ(info_with("false"), body_of(out));
}

TEST_F(Dispatch, InfoVariants) {
  const char *same[] = {"action=info&root=elsewhere", "action=%69nfo",
                        "action=info%00x", "x=1&action=info&embed=1"};
  for (const char *qs : same) EXPECT_EQ(info_with("false"), body_of(reply_for(qs))) << qs;
}

TEST_F(Dispatch, NodeAuthFollowsThePassword) {
  setenv("ZEM_PASSWORD", "", 1);
  EXPECT_EQ(info_with("false"), body_of(reply_for("action=info")));
  setenv("ZEM_PASSWORD", "pw", 1);
  EXPECT_EQ(info_with("true"), body_of(reply_for("action=info")));
  unsetenv("ZEM_PASSWORD");
}

struct unknown_case {
  const char *qs;
  std::string requested_json;
};

TEST_F(Dispatch, UnknownActionsAreRefusedAndEchoed) {
  const unknown_case cases[] = {
      {"action=INFO", "\"INFO\""},
      {"action=Mounts", "\"Mounts\""},
      {"action=a%22b", "\"a\\\"b\""},
      {"action=%01", "\"\\u0001\""},
      {"action=x+y", "\"x y\""},
      {"action=xxxxxxxxxxxxxxxxxxxxxxxxxxxxxxxxxxxxxxxxxxxxxxxxxxxxxxxxxxxxxxxxxxxxxx",
       "\"" + std::string(63, 'x') + "\""},
  };
  for (const unknown_case &c : cases) {
    fake.listings = 0;
    std::string out = reply_for(c.qs);
    EXPECT_EQ(refusal(c.requested_json), body_of(out)) << c.qs;
    EXPECT_EQ(0, fake.listings) << "no storage is queried";
  }
}

TEST_F(Dispatch, EmptyActionMeansMounts) {
  const char *qs[] = {"format=json", "action=", "action=&action=info"};
  for (const char *q : qs) {
    std::string body = body_of(reply_for(q));
    EXPECT_EQ(0u, body.find("{\"ok\":true,\"action\":\"mounts\"")) << q;
  }
}

TEST_F(Dispatch, DirsGetsTheRoot) {
  std::string body = body_of(reply_for("action=dirs&root=Home"));
  EXPECT_EQ(
      "{\"ok\":false,\"error\":\"root_not_allowed\",\"allowed_roots\":"
      "[\"workspace\",\"home\"],\"requested\":\"Home\"}\n",
      body);
}

}  // namespace
