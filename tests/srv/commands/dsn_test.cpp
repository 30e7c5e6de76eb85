// What a client may write as P1 of "open", "query" and "querydbg", end to
// end: with VQ_DSNS set, only a listed data source name reaches the driver
// manager. Everything else is answered as a failed connect, makes no file
// and leaves the server serving.
#include <algorithm>
#include <cctype>
#include <filesystem>
#include <fstream>
#include <memory>
#include <sstream>
#include <string>
#include <vector>

#include <gtest/gtest.h>

#include "tests/srv/commands/test_data.h"
#include "tests/support/vqsrv_process.h"
#include "tests/support/vqsrv_requests.h"
#include "tests/support/odbc_env.h"

namespace vqtest {
namespace {

namespace fs = std::filesystem;

const std::string kRefused = "Error code = 80004005 (Unspecified error) [vqsrv] Data source name refused: ";

class DsnTest : public ::testing::Test {
 protected:
  static void SetUpTestSuite() {
    listed_ = std::make_unique<SqliteSource>();
    unlisted_ = std::make_unique<SqliteSource>();
    // Blanks around the items do not count; "nowhere" is listed but no DSN.
    server_ = std::make_unique<VqsrvProcess>(listed_->OdbcIni(), 1,
                                             std::vector<std::string>{"VQ_DSNS= " + listed_->Dsn() + " , nowhere"});
  }
  static void TearDownTestSuite() {
    server_.reset();
    unlisted_.reset();
    listed_.reset();
  }

  static std::string Query(const std::string& p1) {
    const auto doc = server_->Call(QueryRequest(p1, "SELECT x, y FROM pairs ORDER BY x", -1));
    return doc.IsString() ? std::string(doc.GetString(), doc.GetStringLength()) : "<no string>";
  }
  static std::string Text(const rapidjson::Value& v) {
    return v.IsString() ? std::string(v.GetString(), v.GetStringLength()) : "<not a string>";
  }
  static std::string TraceFile() {
    std::ifstream in(server_->TracePath());
    std::stringstream text;
    text << in.rdbuf();
    return text.str();
  }
  static long Refusals() {
    const std::string metrics = server_->Get("/metrics").body;
    const std::string key = "vqsrv_errors_total{kind=\"dsn_refused\",code=\"0x80004005\"} ";
    const size_t at = metrics.find(key);
    return at == std::string::npos ? 0 : std::stol(metrics.substr(at + key.size()));
  }
  // The good request after each refusal.
  static void ExpectServing() { EXPECT_EQ(Query(listed_->Dsn()), "a|b|c|d"); }

  static inline std::unique_ptr<SqliteSource> listed_;
  static inline std::unique_ptr<SqliteSource> unlisted_;
  static inline std::unique_ptr<VqsrvProcess> server_;
};

struct Vector {
  std::string what;
  std::string p1;
  std::string rule;  // the end of the refusal's description
};

// Each vector against each command: the command's connect-failure reply with
// the rule, the error in the level-1 trace, no file made, and the next good
// request answered.
TEST_F(DsnTest, RefusedNamesGetTheConnectFailureReplyAndTouchNothing) {
  const std::string made = TempDir() + "/dsn_test_made_" + listed_->Dsn() + ".db";
  const std::string dsn_file = server_->WorkDir() + "/DSN=";
  // U+013B and U+013D: the driver manager cuts them to ';' and '='.
  const std::vector<Vector> vectors = {
      {"attribute", listed_->Dsn() + ";Database=" + made, "the name contains ';' (VQ_DSN_ATTRIBUTES allows no attributes)"},
      {"beyond ASCII", listed_->Dsn() + "\xC4\xBB" "Database" "\xC4\xBD" + made,
       "the name contains a character beyond ASCII"},
      {"empty", "", "the name is empty"},
      {"brace", "{" + listed_->Dsn() + "}", "the name contains '{'"},
      {"bracket", listed_->Dsn() + "]", "the name contains ']'"},
      {"control", listed_->Dsn() + "\x01", "the name contains a control character"},
      {"blank", listed_->Dsn() + " ", "the name starts or ends with a blank"},
      {"33 characters", std::string(33, 'a'), "the name is longer than 32 characters"},
      {"not listed", unlisted_->Dsn(), "\"" + unlisted_->Dsn() + "\" is not in VQ_DSNS"},
  };
  const long before = Refusals();
  for (const Vector& v : vectors) {
    SCOPED_TRACE(v.what);
    EXPECT_EQ(server_->Post(OpenRequest(v.p1)).body, R"({"Status":false})");
    const auto open_trace = server_->LastRequestTrace();
    EXPECT_NE(std::find(open_trace.begin(), open_trace.end(),
                        TraceLine{1, "\tDescription = [vqsrv] Data source name refused: " + v.rule}),
              open_trace.end());
    ExpectServing();

    const std::string text = kRefused + v.rule + " (Source=ADODB.Recordset)";
    EXPECT_EQ(Query(v.p1), text);
    EXPECT_EQ(server_->LastRequestTrace().back(), (TraceLine{1, text}));
    ExpectServing();

    const auto dbg = server_->Call(QueryDbgRequest(v.p1, "SELECT x FROM pairs"));
    ASSERT_TRUE(dbg.IsObject());
    EXPECT_FALSE(dbg.HasMember("Results"));
    EXPECT_FALSE(dbg["Status"].GetBool());
    EXPECT_EQ(Text(dbg["Errmsg"]), text);
    EXPECT_EQ(server_->LastRequestTrace().back(), (TraceLine{1, text}));
    ExpectServing();
  }
  EXPECT_FALSE(fs::exists(made));
  EXPECT_FALSE(fs::exists(dsn_file));
  EXPECT_EQ(Refusals() - before, static_cast<long>(3 * vectors.size()));
}

TEST_F(DsnTest, ListedNamesWorkAsBeforeInAnyLetterCase) {
  EXPECT_EQ(server_->Post(OpenRequest(listed_->Dsn())).body, R"({"Status":true})");
  std::string upper = listed_->Dsn();
  for (char& c : upper) c = static_cast<char>(std::toupper(static_cast<unsigned char>(c)));
  EXPECT_EQ(Query(upper), "a|b|c|d");
  // Listed, but no such DSN: the driver manager's own answer.
  const std::string missing = Query("nowhere");
  EXPECT_NE(missing.find("Data source name not found"), std::string::npos) << missing;
}

TEST_F(DsnTest, PasswordsInARefusedNameStayOutOfTheTrace) {
  const std::string p1 = listed_->Dsn() + ";UID=someone;PWD=hunter2-secret";
  EXPECT_EQ(Query(p1).rfind(kRefused, 0), 0u);
  EXPECT_EQ(server_->Post(OpenRequest(listed_->Dsn() + ";Password={hunter2;secret}")).body, R"({"Status":false})");
  const std::string trace = TraceFile();
  EXPECT_EQ(trace.find("hunter2"), std::string::npos) << trace;
  EXPECT_NE(trace.find("DSN:DSN=" + listed_->Dsn() + ";UID=someone;PWD=*** SQL "), std::string::npos) << trace;
  EXPECT_NE(trace.find(" open DSN=" + listed_->Dsn() + ";Password=***"), std::string::npos) << trace;
}

// Attributes the operator allows reach the driver whole and take effect,
// however long the connection string grows.
TEST(DsnAttributesTest, AllowedAttributesReachTheDriverWhole) {
  const SqliteSource source;
  const std::string other = source.MakeDatabase(
      "CREATE TABLE pairs (x TEXT, y TEXT); INSERT INTO pairs VALUES ('other', 'db');");
  const VqsrvProcess server(source.OdbcIni(), 0, {"VQ_DSN_ATTRIBUTES=Comment,Database"});
  const std::string p1 = source.Dsn() + ";Comment=" + std::string(300, 'c') + ";Database=" + other;
  const auto doc = server.Call(QueryRequest(p1, "SELECT x, y FROM pairs ORDER BY x", -1));
  ASSERT_TRUE(doc.IsString());
  EXPECT_EQ(std::string(doc.GetString(), doc.GetStringLength()), "other|db");
  const auto refused = server.Call(QueryRequest(source.Dsn() + ";Timeout=1", "SELECT 1", -1));
  ASSERT_TRUE(refused.IsString());
  EXPECT_EQ(std::string(refused.GetString()),
            kRefused + "the attribute TIMEOUT is not in VQ_DSN_ATTRIBUTES (Source=ADODB.Recordset)");
}

}  // namespace
}  // namespace vqtest
