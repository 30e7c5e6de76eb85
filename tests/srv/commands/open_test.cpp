// "open" end to end against a SQLite data source.
#include <string>

#include "tests/srv/commands/suite.h"

namespace vqtest {
namespace {

using OpenTest = ServerSuite<0>;

TEST_F(OpenTest, StatusTellsWhetherTheSourceOpens) {
  EXPECT_EQ(OpenBody(Dsn()), R"({"Status":true})");
  // Only the status reaches the client: no error text.
  EXPECT_EQ(OpenBody("no_such_dsn_here"), R"({"Status":false})");
  // "DSN=" alone: the driver manager decides (here it may fall back on a
  // default driver); the reply still holds the one status and nothing else.
  const std::string empty = OpenBody("");
  EXPECT_TRUE(empty == R"({"Status":true})" || empty == R"({"Status":false})") << empty;
  // Opening leaves nothing behind: the next request opens anew.
  EXPECT_EQ(OpenBody(Dsn()), R"({"Status":true})");
}

TEST_F(OpenTest, AMissingParameterIsTheFrameworksError) {
  const HttpAnswer reply = Server().Post(R"({"M":"open"})");
  EXPECT_EQ(reply.status, 400u) << reply.body;
  EXPECT_NE(reply.body.find("ZR_EException"), std::string::npos) << reply.body;
}

}  // namespace
}  // namespace vqtest
