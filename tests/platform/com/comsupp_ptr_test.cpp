#include "platform/com/comsupp.h"

#include <gtest/gtest.h>

#include <string>
#include <vector>

namespace {

// Logs every AddRef and Release under its name.
struct Logged : IUnknown {
  Logged(std::string n, std::vector<std::string>& l) : name(std::move(n)), log(l) {}
  HRESULT QueryInterface(REFIID, void** out) override {
    *out = nullptr;
    return E_NOINTERFACE;
  }
  ULONG AddRef() override {
    log.push_back("AddRef " + name);
    return ++refs;
  }
  ULONG Release() override {
    log.push_back("Release " + name);
    return --refs;
  }
  std::string name;
  std::vector<std::string>& log;
  int refs = 1;
};

using Ptr = _com_ptr_t<IUnknown>;

TEST(ComPtrTest, ReleasesExactlyOnce) {
  std::vector<std::string> log;
  Logged a("a", log);
  {
    Ptr p(&a, true);
    EXPECT_EQ(a.refs, 2);
    Ptr q = p;
    EXPECT_EQ(a.refs, 3);
    Ptr r = std::move(q);
    EXPECT_EQ(a.refs, 3);
    EXPECT_FALSE(q);
  }
  EXPECT_EQ(a.refs, 1);
  a.AddRef();
  { Ptr taken(&a, false); }
  EXPECT_EQ(a.refs, 1);
  Ptr d(&a, true);
  EXPECT_EQ(d.Detach(), &a);
  EXPECT_EQ(a.refs, 2);
  a.Release();
}

TEST(ComPtrTest, AssignmentReferencesTheNewBeforeReleasingTheOld) {
  std::vector<std::string> log;
  Logged a("a", log), b("b", log);
  Ptr p(&a, true);
  Ptr q(&b, true);
  log.clear();
  p = q;
  EXPECT_EQ(log, (std::vector<std::string>{"AddRef b", "Release a"}));
  EXPECT_EQ(a.refs, 1);
  EXPECT_EQ(b.refs, 3);
  log.clear();
  p = p;
  p.Assign(&b);
  EXPECT_TRUE(log.empty());
  EXPECT_EQ(b.refs, 3);
}

TEST(ComPtrTest, EmptyReferenceRaisesPointerError) {
  Ptr empty;
  try {
    empty->AddRef();
    FAIL() << "an empty reference must not be used";
  } catch (const _com_error& e) {
    EXPECT_EQ(e.Error(), E_POINTER);
    EXPECT_EQ(e.ErrorInfo(), nullptr);
  }
}

}  // namespace
