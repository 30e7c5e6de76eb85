// Failure paths no real driver produces, run in-process: fake ADO classes
// take the place of the real ones in the COM class registry, and the
// server's request operation is called directly.
#include <unistd.h>

#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <memory>
#include <string>
#include <vector>

#include <gtest/gtest.h>

#include "platform/ado/ado.h"
#include "platform/com/com.h"
#include "platform/com/comsupp.h"
#include "srv/vq_server.h"
#include "tests/support/fake_ado/classes.h"
#include "tests/support/fake_ado/connection.h"
#include "tests/support/fake_ado/scripted_recordset.h"
#include "tests/support/scratch_dir.h"

namespace {

// How the fakes misbehave in the running test.
struct FakeMode {
  bool state_fails = false;    // Connection.State after a good Open
  bool open_fails = false;     // Connection.Open
  bool errors_fails = false;   // Connection.Errors
};
FakeMode g_mode;

// A Connection that opens anything; the failures g_mode asks for carry
// error information for Connection15 as the real one's do, and its error
// list holds one diagnostic.
class ModeConnection : public fake::FakeConnection {
 public:
  ModeConnection() : FakeConnection(fake::Lifetime::kSelfDeleting) {
    supported = IID_Connection15;
    error_iid = IID_Connection15;
    error_source = u"ADODB.Connection";
    state = adStateOpen;
    if (g_mode.open_fails) FailWith("Open", u"fake open refused");
    if (g_mode.state_fails) FailWith("State", u"fake state unreadable");
    if (g_mode.errors_fails) FailWith("Errors", u"fake errors unreadable");
    errors = Hold(new fake::FakeErrors(fake::Lifetime::kSelfDeleting));
    auto* diagnostic = new fake::FakeError(fake::Lifetime::kSelfDeleting);
    diagnostic->number = E_FAIL;
    diagnostic->description = u"[HY000] fake diagnostic";
    diagnostic->source = u"ADODB.Connection";
    diagnostic->sql_state = u"HY000";
    errors->Add(diagnostic);
  }

 private:
  void FailWith(const char* op, const char16_t* text) {
    fail[op] = E_FAIL;
    fail_text[op] = text;
  }
};

using fake::FailingFactory;
using fake::FakeUnknown;
using fake::MakeObject;

std::unique_ptr<vqtest::ScratchDir> g_dir;
std::string g_trace_path;

class FakeAdoTest : public ::testing::Test {
 protected:
  static void SetUpTestSuite() {
    g_dir = std::make_unique<vqtest::ScratchDir>("vqsrv-fake");
    g_trace_path = g_dir->File("trace.log");
    setenv("ZRM_LISTEN", "127.0.0.1:0", 1);
    setenv("ZRM_DEBUG", "3", 1);
    setenv("ZRM_TRACE", g_trace_path.c_str(), 1);
    AdoRegisterClasses();
    real_connection_ = ComFindClass(CLSID_Connection);
    real_recordset_ = ComFindClass(CLSID_Recordset);
    server_ = new VQ_TServer;
  }
  static void TearDownTestSuite() {
    delete server_;
    server_ = nullptr;
    g_dir.reset();
  }
  void SetUp() override {
    ASSERT_NE(real_connection_, nullptr);
    ASSERT_NE(real_recordset_, nullptr);
    g_mode = FakeMode{};
    std::ofstream(g_trace_path, std::ios::trunc).flush();
  }
  void TearDown() override {
    ComRegisterClass(CLSID_Connection, u"ADODB.Connection", real_connection_);
    ComRegisterClass(CLSID_Recordset, u"ADODB.Recordset", real_recordset_);
  }

  // Texts of the trace records written so far in this test.
  static std::vector<std::string> Trace() {
    std::ifstream in(g_trace_path);
    std::vector<std::string> texts;
    std::string record;
    while (std::getline(in, record)) {
      // "<time> L<level> #<request> <text>"
      size_t cut = record.find(' ');
      for (int i = 0; i < 2 && cut != std::string::npos; ++i) cut = record.find(' ', cut + 1);
      texts.push_back(cut == std::string::npos ? record : record.substr(cut + 1));
    }
    return texts;
  }

  static ZR_TDict Request(const char* command, int p3 = 1) {
    ZR_TDict request;
    request.Add("M", ZR_TAny(command));
    request.Add("P1", ZR_TAny("fake"));
    request.Add("P2", ZR_TAny("SELECT 1"));
    request.Add("P3", ZR_TAny(p3));
    return request;
  }

  // Runs "query" with p3 on a fresh script of two records ('a','b'),
  // ('c','d') and returns the reply text.
  static std::string QueryPairs(int p3) {
    fake::g_script = fake::RecordsetScript{};
    fake::g_script.names = {"x", "y"};
    fake::g_script.rows = {{"a", "b"}, {"c", "d"}};
    ZR_TAny reply;
    server_->HandleRequest(Request("query", p3), reply);
    return reply.AsString() ? reply.AsString()->Utf8() : std::string("<no string>");
  }

  static inline VQ_TServer* server_ = nullptr;
  static inline ComFactory real_connection_ = nullptr;
  static inline ComFactory real_recordset_ = nullptr;
};

TEST_F(FakeAdoTest, OpenWithUnreadableStateRepliesFalseAndTracesBothErrors) {
  ComRegisterClass(CLSID_Connection, u"ADODB.Connection", &MakeObject<ModeConnection>);
  g_mode.state_fails = true;
  ZR_TAny reply;
  server_->HandleRequest(Request("open"), reply);

  const ZR_TDict* dict = reply.AsDict();
  ASSERT_NE(dict, nullptr) << reply.Text();
  // Status was added as true after Open; the handler's false replaces it.
  ASSERT_EQ(dict->Size(), 1u);
  ASSERT_NE(dict->Find("Status"), nullptr);
  ASSERT_NE(dict->Find("Status")->AsBool(), nullptr);
  EXPECT_FALSE(*dict->Find("Status")->AsBool());

  const std::vector<std::string> expected = {
      "Process open",
      " open DSN=fake",
      "Error number: 80004005\t[HY000] fake diagnostic",
      "\tCode = 80004005",
  };
  const auto trace = Trace();
  ASSERT_GE(trace.size(), 7u);
  for (size_t i = 0; i < expected.size(); ++i) EXPECT_EQ(trace[i], expected[i]) << i;
  EXPECT_EQ(trace[4].rfind("\tCode meaning = ", 0), 0u) << trace[4];
  EXPECT_EQ(trace[5], "\tSource = ADODB.Connection");
  EXPECT_EQ(trace[6], "\tDescription = fake state unreadable");
  for (const auto& line : trace) EXPECT_EQ(line.find("Connection state"), std::string::npos);
}

TEST_F(FakeAdoTest, OpenWhoseErrorListingFailsLeavesTheRequestWithoutReply) {
  ComRegisterClass(CLSID_Connection, u"ADODB.Connection", &MakeObject<ModeConnection>);
  g_mode.open_fails = true;
  g_mode.errors_fails = true;
  ZR_TAny reply(ZR_TString("untouched"));
  try {
    server_->HandleRequest(Request("open"), reply);
    ADD_FAILURE() << "the listing's error should leave the request";
  } catch (const _com_error& e) {
    EXPECT_EQ(e.Error(), E_FAIL);
    EXPECT_STREQ(e.Description().Narrow(), "fake errors unreadable");
  }
  ASSERT_NE(reply.AsString(), nullptr);
  EXPECT_EQ(*reply.AsString(), "untouched");
  // The COM error of Open is never traced: the handler ended first.
  for (const auto& line : Trace()) EXPECT_EQ(line.find("\tCode = "), std::string::npos) << line;

  // A good Open behind the same fakes answers true again.
  g_mode = FakeMode{};
  ZR_TAny good;
  server_->HandleRequest(Request("open"), good);
  ASSERT_NE(good.AsDict(), nullptr);
  EXPECT_TRUE(*good.AsDict()->Find("Status")->AsBool());
}

TEST_F(FakeAdoTest, RecordsetWithoutTheInterfaceAnswersThePointerError) {
  ComRegisterClass(CLSID_Recordset, u"ADODB.Recordset", &MakeObject<FakeUnknown>);

  ZR_TAny reply;
  server_->HandleRequest(Request("query"), reply);
  ASSERT_NE(reply.AsString(), nullptr) << reply.Text();
  const std::string text = reply.AsString()->Utf8();
  EXPECT_EQ(text.rfind("Error code = 80004003 (", 0), 0u) << text;
  EXPECT_NE(text.find(") (null) (Source=(null))"), std::string::npos) << text;
  // The error text is traced as it is replied.
  const auto trace = Trace();
  ASSERT_FALSE(trace.empty());
  EXPECT_EQ(trace.back(), text);

  ZR_TAny dbg;
  server_->HandleRequest(Request("querydbg"), dbg);
  const ZR_TDict* dict = dbg.AsDict();
  ASSERT_NE(dict, nullptr) << dbg.Text();
  ASSERT_EQ(dict->Size(), 2u);
  EXPECT_EQ(dict->Entries()[0].key, "Status");
  EXPECT_FALSE(*dict->Entries()[0].value.AsBool());
  EXPECT_EQ(dict->Entries()[1].key, "Errmsg");
  ASSERT_NE(dict->Entries()[1].value.AsString(), nullptr);
  EXPECT_EQ(dict->Entries()[1].value.AsString()->Utf8(), text);
}

TEST_F(FakeAdoTest, RecordsetCreationFailureLeavesTheRequest) {
  ComRegisterClass(CLSID_Recordset, u"ADODB.Recordset", &FailingFactory);
  for (const char* command : {"query", "querydbg"}) {
    ZR_TAny reply(ZR_TString("untouched"));
    try {
      server_->HandleRequest(Request(command), reply);
      ADD_FAILURE() << command << ": the creation error should leave the request";
    } catch (const _com_error& e) {
      EXPECT_EQ(e.Error(), E_OUTOFMEMORY) << command;
    }
    ASSERT_NE(reply.AsString(), nullptr) << command;
    EXPECT_EQ(*reply.AsString(), "untouched") << command;
  }
}

TEST_F(FakeAdoTest, QueryWalkStopsAtTheSelectedRecord) {
  ComRegisterClass(CLSID_Recordset, u"ADODB.Recordset", &MakeObject<fake::ScriptedRecordset>);

  EXPECT_EQ(QueryPairs(2), "c|d");
  EXPECT_EQ(fake::g_script.max_records, 2);
  EXPECT_EQ(fake::g_script.move_next_calls, 1);
  EXPECT_EQ(fake::g_script.close_calls, 1);

  EXPECT_EQ(QueryPairs(1), "a|b");
  EXPECT_EQ(fake::g_script.max_records, 1);
  EXPECT_EQ(fake::g_script.move_next_calls, 0);
  EXPECT_EQ(fake::g_script.close_calls, 1);

  EXPECT_EQ(QueryPairs(-1), "a|b|c|d");
  EXPECT_EQ(fake::g_script.max_records, -1);
  EXPECT_EQ(fake::g_script.move_next_calls, 2);
  EXPECT_EQ(fake::g_script.close_calls, 1);

  for (const int p3 : {0, -5}) {
    EXPECT_EQ(QueryPairs(p3), "") << p3;
    EXPECT_EQ(fake::g_script.max_records, -1) << p3;
    EXPECT_EQ(fake::g_script.close_calls, 1) << p3;
  }
  EXPECT_EQ(QueryPairs(5), "");
  EXPECT_EQ(fake::g_script.max_records, 5);
  EXPECT_EQ(Trace().back(), "End of recordset reached");
}

TEST_F(FakeAdoTest, StatementWithoutRecordSetIsNeitherWalkedNorClosed) {
  ComRegisterClass(CLSID_Recordset, u"ADODB.Recordset", &MakeObject<fake::ScriptedRecordset>);
  fake::g_script = fake::RecordsetScript{};
  fake::g_script.state_after_open = adStateClosed;
  ZR_TAny reply;
  server_->HandleRequest(Request("query", -1), reply);
  ASSERT_NE(reply.AsString(), nullptr) << reply.Text();
  EXPECT_EQ(*reply.AsString(), "");
  EXPECT_EQ(fake::g_script.close_calls, 0);
  EXPECT_EQ(Trace().back(), "record state 0 ");

  ZR_TAny dbg;
  server_->HandleRequest(Request("querydbg"), dbg);
  ASSERT_NE(dbg.AsDict(), nullptr);
  EXPECT_STREQ(dbg.Text(), R"({"Results":[],"Status":true})");
  EXPECT_EQ(fake::g_script.close_calls, 0);
}

TEST_F(FakeAdoTest, QueryDbgKeepsRowsBeyondTheRecordCount) {
  ComRegisterClass(CLSID_Recordset, u"ADODB.Recordset", &MakeObject<fake::ScriptedRecordset>);
  fake::g_script = fake::RecordsetScript{};
  fake::g_script.names = {"k", "v"};
  fake::g_script.rows = {{"1", "one"}, {"2", nullptr}, {"3", ""}};
  fake::g_script.reported_count = 1;
  ZR_TAny reply;
  server_->HandleRequest(Request("querydbg"), reply);
  EXPECT_STREQ(reply.Text(),
               R"({"Results":[{"k":"1","v":"one"},{"k":"2","v":null},{"k":"3","v":""}],)"
               R"("Status":true})");
  EXPECT_EQ(fake::g_script.close_calls, 1);

  // Fewer records than the count: the missing elements are null. A name that
  // comes back keeps its first place and takes the later value; texts are
  // escaped as every other reply text.
  fake::g_script = fake::RecordsetScript{};
  fake::g_script.names = {"k", "v", "k"};
  fake::g_script.rows = {{"1", "a\"b", "x\ty"}};
  fake::g_script.reported_count = 3;
  server_->HandleRequest(Request("querydbg"), reply);
  EXPECT_STREQ(reply.Text(), R"({"Results":[{"k":"x\ty","v":"a\"b"},null,null],"Status":true})");
}

}  // namespace
