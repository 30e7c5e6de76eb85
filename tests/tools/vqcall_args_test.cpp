// Command line and request bodies of vqcall: the JSON types sent for each
// command and the checks made before anything is sent.
#include <gtest/gtest.h>
#include <rapidjson/document.h>

#include <string>
#include <vector>

#include "tools/vqcall/command_line.h"
#include "tools/vqcall/http_post.h"
#include "tools/vqcall/request_body.h"

namespace vqcall {
namespace {

Invocation Parse(std::vector<const char*> words, EnvDefaults env = {}) {
  words.insert(words.begin(), "vqcall");
  return ParseCommandLine(static_cast<int>(words.size()), words.data(), env);
}

rapidjson::Document Body(std::vector<const char*> words) {
  rapidjson::Document doc;
  const std::string body = BuildRequestBody(Parse(std::move(words)));
  doc.Parse(body.c_str(), body.size());
  EXPECT_FALSE(doc.HasParseError()) << body;
  return doc;
}

TEST(VqcallArgs, OptionsEnvironmentAndNegativeNumbers) {
  Invocation inv = Parse({"query", "demo", "SELECT 1", "-1"});
  EXPECT_EQ(inv.command, Command::kQuery);
  EXPECT_EQ(inv.args, (std::vector<std::string>{"demo", "SELECT 1", "-1"}));
  EXPECT_EQ(inv.url, kDefaultUrl);
  EXPECT_FALSE(inv.json);

  // The environment gives defaults; options win over it, wherever they stand.
  inv = Parse({"open", "demo"}, {"http://h:1/a", "envtoken"});
  EXPECT_EQ(inv.url, "http://h:1/a");
  EXPECT_EQ(inv.token, "envtoken");
  inv = Parse({"open", "demo", "--url", "http://x:2/b", "--token=t2", "--json", "--timeout", "0.5"},
              {"http://h:1/a", "envtoken"});
  EXPECT_EQ(inv.url, "http://x:2/b");
  EXPECT_EQ(inv.token, "t2");
  EXPECT_TRUE(inv.json);
  EXPECT_DOUBLE_EQ(inv.timeout_seconds, 0.5);
  EXPECT_TRUE(Parse({"--help"}).help);

  EXPECT_THROW(Parse({}), UsageError);
  EXPECT_THROW(Parse({"select", "demo"}), UsageError);
  EXPECT_THROW(Parse({"--bogus", "open", "demo"}), UsageError);
  EXPECT_THROW(Parse({"--timeout", "soon", "open", "demo"}), UsageError);
  EXPECT_THROW(Parse({"--timeout", "-3", "open", "demo"}), UsageError);
  EXPECT_THROW(Parse({"--token", "a\r\nX-Evil: 1", "open", "demo"}), UsageError);
}

TEST(VqcallArgs, BodiesCarryTheTypesTheServiceExpects) {
  auto doc = Body({"query", "demo", "SELECT \"x\""});
  EXPECT_STREQ(doc["M"].GetString(), "query");
  EXPECT_STREQ(doc["P2"].GetString(), "SELECT \"x\"");
  ASSERT_TRUE(doc["P3"].IsInt());
  EXPECT_EQ(doc["P3"].GetInt(), -1);
  EXPECT_EQ(Body({"query", "demo", "S", "-2147483648"})["P3"].GetInt(), -2147483647 - 1);

  doc = Body({"extr", "abcdef", "2"});
  ASSERT_TRUE(doc["P2"].IsUint());
  EXPECT_EQ(doc["P2"].GetUint(), 2u);
  EXPECT_FALSE(doc.HasMember("P3"));  // absent, so the service takes the rest
  EXPECT_EQ(Body({"extr", "abc", "0", "4294967295"})["P3"].GetUint(), 4294967295u);

  doc = Body({"elem", "a,b", ",", "1"});
  EXPECT_STREQ(doc["P2"].GetString(), ",");
  EXPECT_TRUE(doc["P3"].IsUint());

  doc = Body({"querydbg", "demo", "SELECT 1"});
  EXPECT_FALSE(doc.HasMember("P3"));
  doc = Body({"open", "démo"});
  EXPECT_STREQ(doc["P1"].GetString(), "démo");

  EXPECT_EQ(BuildRequestBody(Parse({"raw", "{\"M\": \"zz\"}"})), "{\"M\": \"zz\"}");
}

TEST(VqcallArgs, BadArgumentsAreRefusedLocally) {
  const std::vector<std::vector<const char*>> bad = {
      {"open"},
      {"open", "a", "b"},
      {"query", "demo"},
      {"query", "demo", "S", "2147483648"},
      {"query", "demo", "S", "1.5"},
      {"query", "demo", "S", "12abc"},
      {"query", "demo", "S", ""},
      {"querydbg", "demo", "S", "1"},
      {"extr", "abc", "-1"},
      {"extr", "abc", "0", "4294967296"},
      {"extr", "abc"},
      {"elem", "a,b", ",,", "1"},
      {"elem", "a,b", "", "1"},
      {"elem", "a,b", ",", "2147483648"},
      {"elem", "a,b", ","},
      {"open", "\xff\xfe"},
      {"raw", "{\"M\":"},
      {"raw", "{} {}"},
  };
  for (const auto& words : bad) {
    std::string shown;
    for (const char* w : words) shown += std::string(w) + " ";
    EXPECT_THROW(BuildRequestBody(Parse(words)), UsageError) << shown;
  }
  try {
    BuildRequestBody(Parse({"query", "demo", "S", "x"}));
    FAIL();
  } catch (const UsageError& e) {
    EXPECT_NE(std::string(e.what()).find("RECORD"), std::string::npos) << e.what();
  }
}

TEST(VqcallArgs, Urls) {
  Url u = ParseUrl("http://127.0.0.1:7400/ZIDozeve");
  EXPECT_EQ(u.host, "127.0.0.1");
  EXPECT_EQ(u.port, "7400");
  EXPECT_EQ(u.target, "/ZIDozeve");
  u = ParseUrl("http://example.test");
  EXPECT_EQ(u.port, "80");
  EXPECT_EQ(u.target, "/ZIDozeve");
  EXPECT_EQ(ParseUrl("http://127.0.0.1:7400/").target, "/ZIDozeve");
  EXPECT_EQ(ParseUrl("http://127.0.0.1:7400/other").target, "/other");
  u = ParseUrl("http://[::1]:81/x?y=1");
  EXPECT_EQ(u.host, "::1");
  EXPECT_EQ(u.port, "81");
  EXPECT_EQ(u.target, "/x?y=1");
  for (const char* bad : {"https://h/x", "127.0.0.1:7400/x", "http://:80/x", "http://h:0/x",
                          "http://h:70000/x", "http://h:8a/x", "http://[::1/x", "http://u@h/x",
                          "http://h/a b"}) {
    EXPECT_THROW(ParseUrl(bad), UsageError) << bad;
  }
}

}  // namespace
}  // namespace vqcall
