// The console's files as built into the binary, and the names it offers.
#include "srv/console/console.h"

#include <fstream>
#include <sstream>
#include <string>

#include <gtest/gtest.h>
#include <rapidjson/document.h>

#include "srv/dsn_policy.h"

namespace {

std::string SourceFile(const std::string& name) {
  std::ifstream in(std::string(VQ_SOURCE_DIR) + "/srv/console/" + name, std::ios::binary);
  std::stringstream text;
  text << in.rdbuf();
  return text.str();
}

TEST(Console, BuiltInFilesAreTheSourcesByteForByte) {
  ASSERT_EQ(kVQ_ConsoleFiles_count, 3u);
  size_t total = 0;
  for (size_t i = 0; i < kVQ_ConsoleFiles_count; ++i) {
    const VQ_EmbeddedFile& f = kVQ_ConsoleFiles[i];
    const std::string source = SourceFile(f.name);
    ASSERT_FALSE(source.empty()) << f.name;
    EXPECT_EQ(std::string(f.content), source) << f.name;
    EXPECT_EQ(f.content.data()[f.content.size()], '\0');  // usable as a C text too
    total += f.content.size();
  }
  EXPECT_LT(total, 40u * 1024);  // the page's whole weight
}

TEST(Console, DsnNamesAsJsonInOrder) {
  EXPECT_EQ(VQ_ConsoleDsnsJson(VQ_TDsnPolicy(nullptr, nullptr)), R"({"limited":false,"names":[]})");
  // Quotes and backslashes are allowed in a name; the JSON must stay whole.
  const VQ_TDsnPolicy policy(R"(zeta,al"pha,back\slash,b)", nullptr);
  const std::string json = VQ_ConsoleDsnsJson(policy);
  rapidjson::Document d;
  d.Parse(json.c_str(), json.size());
  ASSERT_FALSE(d.HasParseError()) << json;
  EXPECT_TRUE(d["limited"].GetBool());
  const auto& names = d["names"].GetArray();
  ASSERT_EQ(names.Size(), 4u);
  EXPECT_STREQ(names[0].GetString(), "zeta");
  EXPECT_STREQ(names[1].GetString(), "al\"pha");
  EXPECT_STREQ(names[2].GetString(), "back\\slash");
  EXPECT_STREQ(names[3].GetString(), "b");
}

}  // namespace
