// A request body through a server's request operation: statuses and bodies.
#include <gtest/gtest.h>

#include <stdexcept>

#include "platform/middleware/zrm.h"
#include "platform/middleware/zrm_dispatch.h"

namespace {

struct CustomFailure : std::runtime_error {
  using std::runtime_error::runtime_error;
};

class ScriptedServer : public ZRM_TServer {
 public:
  void HandleRequest(const ZR_TDict& request, ZR_TAny& reply) override {
    const ZR_TString& m = ZR_Fetch<ZR_TString>(request, "M", "ZR_TString");
    if (m == "echo") reply = ZR_TString(request.Item("P1").Value().Text());
    if (m == "dict") reply = ZR_TDict().Add("Status", ZR_TAny(true));
    if (m == "zr") throw ZR_EException("bad \"thing\"");
    if (m == "std") throw CustomFailure("went wrong");
    if (m == "int") throw 42;
  }
};

unsigned RunBody(const std::string& body, std::string& out) {
  ScriptedServer server;
  return ZRM_RunRequest(server, body, out);
}

TEST(ZrmDispatch, RepliesAndFailures) {
  std::string out;
  EXPECT_EQ(RunBody(R"({"M":"echo","P1":"h\u00e9"})", out), 200u);
  EXPECT_EQ(out, "\"h\xC3\xA9\"");
  EXPECT_EQ(RunBody(R"({"M":"dict"})", out), 200u);
  EXPECT_EQ(out, R"({"Status":true})");
  EXPECT_EQ(RunBody(R"({"M":"other"})", out), 200u);
  EXPECT_EQ(out, "null");

  EXPECT_EQ(RunBody(R"({"M":"zr"})", out), 400u);
  EXPECT_EQ(out, R"({"error":{"type":"ZR_EException","message":"bad \"thing\""}})");
  EXPECT_EQ(RunBody(R"({"M":"std"})", out), 500u);
  EXPECT_EQ(out, R"({"error":{"type":"(anonymous namespace)::CustomFailure","message":"went wrong"}})");
  EXPECT_EQ(RunBody(R"({"M":"int"})", out), 500u);
  EXPECT_NE(out.find(R"("type":"int")"), std::string::npos) << out;
  // A missing "M" is the framework's exception: 400 naming the key.
  EXPECT_EQ(RunBody(R"({"P1":1})", out), 400u);
  EXPECT_NE(out.find("M"), std::string::npos);
}

TEST(ZrmDispatch, BadBodies) {
  std::string out;
  for (const std::string& body : {std::string("{\"M\":"), std::string("[1,2]"), std::string("\"x\""),
                                 std::string(""), std::string("{\"M\":\"\xFF\"}")}) {
    EXPECT_EQ(RunBody(body, out), 400u) << body;
    EXPECT_NE(out.find(R"("type":"BadRequest")"), std::string::npos) << out;
  }
  RunBody("[1]", out);
  EXPECT_NE(out.find("object"), std::string::npos) << out;
}

TEST(ZrmDispatch, Demangle) {
  EXPECT_EQ(ZRM_Demangle(typeid(std::runtime_error).name()), "std::runtime_error");
  EXPECT_EQ(ZRM_Demangle(nullptr), "unknown");
}

}  // namespace
