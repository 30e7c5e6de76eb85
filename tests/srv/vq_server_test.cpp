// VQ_TServer in process: class registration, COM balance per request, and
// the text commands through HandleRequest.
#include <gtest/gtest.h>

#include <cstdlib>
#include <thread>

#include "platform/com/com.h"
#include "platform/types/zr_json.h"
#include "srv/vq_server.h"

namespace {

// Binding needs a free port, not the service's fixed one.
class EphemeralPortEnvironment : public ::testing::Environment {
 public:
  void SetUp() override { setenv("ZRM_LISTEN", "127.0.0.1:0", 1); }
};
const auto* const g_env = ::testing::AddGlobalTestEnvironment(new EphemeralPortEnvironment);

// Runs one JSON request and answers the reply as JSON.
std::string Ask(VQ_TServer& server, const std::string& json) {
  const ZR_TAny request = ZR_JsonDecode(json);
  ZR_TAny reply;
  server.HandleRequest(*request.AsDict(), reply);
  return ZR_JsonEncode(reply);
}

TEST(VqServerClass, DynamicInfoAnswers) {
  VQ_TServer s;
  const ZRM_TServer& base = s;
  EXPECT_EQ(s.ZR_DynamicInfo("VQ_TServer"), static_cast<void*>(&s));
  EXPECT_EQ(s.ZR_DynamicInfo("ZRM_TServer"), base.ZRM_TServer::ZR_DynamicInfo("ZRM_TServer"));
  EXPECT_NE(s.ZR_DynamicInfo("ZRM_TServer"), nullptr);
  EXPECT_EQ(s.ZR_DynamicInfo("vq_tserver"), base.ZRM_TServer::ZR_DynamicInfo("vq_tserver"));
  EXPECT_NE(s.ZR_DynamicInfo("vq_tserver"), static_cast<void*>(&s));

  auto* cls = static_cast<ZR_TClass*>(s.ZR_DynamicInfo(nullptr));
  ASSERT_NE(cls, nullptr);
  EXPECT_TRUE(cls->flag);
  EXPECT_STREQ(cls->name, "VQ_TServer");
  EXPECT_EQ(cls->Superclass(), &ZRM_TServer::ZR_ClassObject());
  EXPECT_EQ(cls->InstanceSize(), sizeof(VQ_TServer));
  EXPECT_EQ(s.ZR_DynamicInfo(nullptr), cls);
  EXPECT_EQ(ZR_TClass::Find("VQ_TServer"), cls);
  EXPECT_EQ(s.SelfAddress(), static_cast<void*>(&s));
  EXPECT_STREQ(s.ClassName(), "VQ_TServer");
}

TEST(VqServerClass, FactoryMakesABoundServer) {
  {
    VQ_TServer probe;
    probe.ZR_DynamicInfo(nullptr);  // registers the class
    const ZR_TClass* cls = ZR_TClass::Find("VQ_TServer");
    ASSERT_NE(cls, nullptr);
    // The name is bound while probe lives: the factory's server cannot bind.
    EXPECT_THROW(cls->NewInstance(), ZR_EException);
  }
  ZR_TObject* made = ZR_TClass::Find("VQ_TServer")->NewInstance();
  ASSERT_NE(made, nullptr);
  EXPECT_STREQ(made->ClassName(), "VQ_TServer");
  EXPECT_TRUE(made->HasSuperclass("ZRM_TServer"));
  EXPECT_FALSE(made->HasSuperclass("VQ_TServer"));
  ASSERT_NE(dynamic_cast<VQ_TServer*>(made), nullptr);
  delete made;
  made = VQ_TServer::NewObject();
  ASSERT_NE(made, nullptr);
  EXPECT_STREQ(made->ClassName(), "VQ_TServer");
  delete made;
}

TEST(VqServerRequest, ComCountStaysBalanced) {
  VQ_TServer s;
  auto check = [&](const std::string& json, bool throws) {
    const int before = CoInitializeCount();
    if (throws)
      EXPECT_THROW(Ask(s, json), ZR_EException) << json;
    else
      EXPECT_NO_THROW(Ask(s, json)) << json;
    EXPECT_EQ(CoInitializeCount(), before) << json;
  };
  std::thread fresh([&] {
    check(R"({"M":"extr","P1":"abc","P2":1})", false);
    check(R"({"M":"nothing"})", false);
    check(R"({"M":"extr","P1":"abc"})", true);
    check(R"({"P1":"abc"})", true);
    check(R"({"M":7})", true);
    EXPECT_EQ(CoInitializeCount(), 0);
  });
  fresh.join();
  CoInitialize(nullptr);  // an outer initialisation is left alone
  check(R"({"M":"elem","P1":"a","P2":",","P3":0})", false);
  check(R"({"M":"elem","P1":"a","P2":",,","P3":0})", true);
  EXPECT_EQ(CoInitializeCount(), 1);
  CoUninitialize();
}

TEST(VqServerRequest, ExtrAndElem) {
  VQ_TServer s;
  EXPECT_EQ(Ask(s, R"({"M":"extr","P1":"abcdef","P2":2,"P3":3})"), "\"cde\"");
  EXPECT_EQ(Ask(s, R"({"M":"extr","P1":"abcdef","P2":2})"), "\"cdef\"");
  EXPECT_EQ(Ask(s, R"({"M":"extr","P1":"abcdef","P2":0})"), "\"abcdef\"");
  EXPECT_EQ(Ask(s, R"({"M":"extr","P1":"abcdef","P2":9,"P3":2})"), "\"\"");
  EXPECT_EQ(Ask(s, R"({"M":"extr","P1":"h\u00e9llo","P2":1,"P3":2})"), "\"\xC3\xA9l\"");

  EXPECT_EQ(Ask(s, R"({"M":"elem","P1":"a,b,c","P2":",","P3":0})"), "\"a\"");
  EXPECT_EQ(Ask(s, R"({"M":"elem","P1":"a,b,c","P2":",","P3":1})"), "\"b\"");
  EXPECT_EQ(Ask(s, R"({"M":"elem","P1":"a,b,c","P2":",","P3":2})"), "\"c\"");
  EXPECT_EQ(Ask(s, R"({"M":"elem","P1":"a,,c","P2":",","P3":1})"), "\"\"");
  EXPECT_EQ(Ask(s, R"({"M":"elem","P1":"a,b,","P2":",","P3":2})"), "\"\"");
  EXPECT_EQ(Ask(s, R"({"M":"elem","P1":"abc","P2":",","P3":0})"), "\"abc\"");
  EXPECT_EQ(Ask(s, R"({"M":"elem","P1":"","P2":",","P3":0})"), "\"\"");
  EXPECT_EQ(Ask(s, R"({"M":"elem","P1":"a,b","P2":",","P3":2})"), "\"\"");
  EXPECT_EQ(Ask(s, R"({"M":"elem","P1":"a,b","P2":",","P3":2147483647})"), "\"\"");
  EXPECT_EQ(Ask(s, R"({"M":"elem","P1":"a,b","P2":",","P3":2147483648})"), "\"\"");
  EXPECT_EQ(Ask(s, R"({"M":"elem","P1":"\u00e9;\u00fc;x","P2":";","P3":1})"), "\"\xC3\xBC\"");

  // Unknown names leave the reply as it was.
  EXPECT_EQ(Ask(s, R"({"M":"EXTR","P1":"abc","P2":0})"), "null");
  EXPECT_EQ(Ask(s, R"({"M":""})"), "null");
}

}  // namespace
