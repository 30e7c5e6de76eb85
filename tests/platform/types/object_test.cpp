// Class registry and reflection.
#include <gtest/gtest.h>

#include <atomic>
#include <sstream>
#include <thread>
#include <vector>

#include "platform/types/zr.h"

namespace {

// A class registering itself the way framework users do.
class Widget : public ZR_TObject {
 public:
  static ZR_TObject* NewObject() { return new Widget(); }
  static const ZR_TClass& ZR_ClassObject() {
    return *ZR_TClass::GetClassObject(true, "Test_Widget", sizeof(Widget),
                                      &ZR_TObject::ZR_ClassObject(), &NewObject, nullptr);
  }
  void* ZR_DynamicInfo(const char* name) const override {
    const ZR_TClass& cls = ZR_ClassObject();
    if (name == nullptr) {
      const_cast<ZR_TClass&>(cls).flag = true;
      return const_cast<ZR_TClass*>(&cls);
    }
    if (std::string_view(name) == cls.name) return const_cast<Widget*>(this);
    return ZR_TObject::ZR_DynamicInfo(name);
  }
};

TEST(Registry, DescriptorIsRegisteredOnceWithItsArguments) {
  char name[] = "Test_Once";
  ZR_TClass* a = ZR_TClass::GetClassObject(true, name, 12, &ZR_TObject::ZR_ClassObject(),
                                           nullptr, nullptr);
  name[0] = 'X';  // the registry keeps its own copy of the name
  ZR_TClass* b = ZR_TClass::GetClassObject(false, "Test_Once", 99, nullptr, nullptr, nullptr);
  EXPECT_EQ(a, b);
  EXPECT_STREQ(a->name, "Test_Once");
  EXPECT_TRUE(a->FirstFlag());
  EXPECT_EQ(a->InstanceSize(), 12u);
  EXPECT_EQ(a->Superclass(), &ZR_TObject::ZR_ClassObject());
  EXPECT_EQ(ZR_TClass::Find("Test_Once"), a);
  EXPECT_EQ(ZR_TClass::Find("Test_NeverRegistered"), nullptr);
  EXPECT_EQ(ZR_TClass::Find(nullptr), nullptr);
  EXPECT_EQ(a->NewInstance(), nullptr);  // no factory
  EXPECT_THROW(ZR_TClass::GetClassObject(false, nullptr, 0, nullptr, nullptr, nullptr),
               ZR_EException);
}

TEST(Registry, KindOfFactoryAndReflection) {
  Widget w;
  const ZR_TClass* cls = static_cast<const ZR_TClass*>(w.ZR_DynamicInfo(nullptr));
  EXPECT_TRUE(cls->flag);
  EXPECT_EQ(&w.ClassObject(), cls);
  EXPECT_STREQ(w.ClassName(), "Test_Widget");
  EXPECT_TRUE(cls->IsKindOf("Test_Widget"));
  EXPECT_TRUE(cls->IsKindOf("ZR_TObject"));
  EXPECT_FALSE(cls->IsKindOf("ZR_TString"));
  EXPECT_FALSE(cls->IsKindOf(nullptr));
  EXPECT_TRUE(w.HasSuperclass("ZR_TObject"));
  EXPECT_FALSE(w.HasSuperclass("Test_Widget"));
  EXPECT_FALSE(w.HasSuperclass("test_widget"));

  EXPECT_EQ(w.ZR_Cast("Test_Widget"), &w);
  EXPECT_EQ(w.ZR_Cast("test_widget"), nullptr);  // case matters
  EXPECT_EQ(w.ZR_Cast("ZR_TObject"), static_cast<ZR_TObject*>(&w));
  EXPECT_EQ(w.ZR_Cast(nullptr), nullptr);
  EXPECT_EQ(w.SelfAddress(), &w);
  EXPECT_TRUE(w.HasInterface("ZR_IInterface"));
  EXPECT_FALSE(w.HasInterface("ZR_IPackable"));

  std::unique_ptr<ZR_TObject> made(cls->NewInstance());
  ASSERT_NE(made, nullptr);
  EXPECT_STREQ(made->ClassName(), "Test_Widget");
  EXPECT_EQ(w.DynamicCast("Test_Widget"), &w);
  EXPECT_THROW(w.DynamicCast("ZR_TInt32"), ZR_EException);
}

TEST(Registry, FrameworkClassesAnswerForThemselves) {
  ZR_TString s("x");
  ZR_TDict d;
  ZR_TArray a(1);
  ZR_TAny any;
  ZR_EException e("boom");
  EXPECT_STREQ(s.ClassName(), "ZR_TString");
  EXPECT_STREQ(d.ClassName(), "ZR_TDict");
  EXPECT_STREQ(a.ClassName(), "ZR_TArray");
  EXPECT_STREQ(any.ClassName(), "ZR_TAny");
  EXPECT_STREQ(e.ClassName(), "ZR_EException");
  EXPECT_TRUE(e.HasSuperclass("ZR_TObject"));
  EXPECT_EQ(s.ZR_Cast("ZR_TString"), &s);
  EXPECT_EQ(s.ZR_Cast("ZR_TDict"), nullptr);
  EXPECT_TRUE(s.HasInterface("ZR_IPackable"));
  EXPECT_TRUE(e.HasInterface("ZR_IPrintable"));
  EXPECT_FALSE(e.HasInterface("ZR_IPackable"));
  EXPECT_EQ(ZR_TClass::Find("ZR_TString"), &ZR_TString::ZR_ClassObject());
  std::unique_ptr<ZR_TObject> made(ZR_TDict::ZR_ClassObject().NewInstance());
  ASSERT_NE(made, nullptr);
  EXPECT_NE(made->ZR_Cast("ZR_TDict"), nullptr);
  EXPECT_EQ(ZR_EException::ZR_ClassObject().NewInstance(), nullptr);
}

TEST(Registry, ConcurrentFirstRegistrationYieldsOneDescriptor) {
  constexpr int kThreads = 8;
  std::vector<ZR_TClass*> seen(kThreads);
  std::atomic<bool> go{false};
  std::vector<std::thread> threads;
  for (int i = 0; i < kThreads; ++i) {
    threads.emplace_back([&, i] {
      while (!go) std::this_thread::yield();
      for (int k = 0; k < 200; ++k) {
        const std::string name = "Test_Race_" + std::to_string(k);
        ZR_TClass* c = ZR_TClass::GetClassObject(false, name.c_str(), i, nullptr, nullptr, nullptr);
        if (k == 199) seen[i] = c;
      }
    });
  }
  go = true;
  for (auto& t : threads) t.join();
  for (int i = 1; i < kThreads; ++i) EXPECT_EQ(seen[i], seen[0]);
  EXPECT_EQ(ZR_TClass::Find("Test_Race_199"), seen[0]);
}

TEST(Exception, PrintsWithItsPrefix) {
  ZR_EException e("disk full");
  ZR_EException copy = e;
  std::ostringstream out;
  out << static_cast<const ZR_IPrintable&>(copy);
  EXPECT_EQ(out.str(), "ZR_EException: disk full");
  EXPECT_STREQ(copy.what(), "disk full");
}

}  // namespace
