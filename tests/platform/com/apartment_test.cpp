#include <gtest/gtest.h>

#include <thread>

#include "platform/com/com.h"
#include "tests/platform/com/fake_object.h"

namespace {

const CLSID kFakeClass{0x12345678, 0x9ABC, 0xDEF0, {0x01, 0x23, 0x45, 0x67, 0x89, 0xAB, 0xCD, 0xEF}};
bool g_alive = false;
int g_made_by_second = 0;

HRESULT MakeFake(REFIID riid, void** out) {
  auto* obj = new FakeObject(&g_alive);
  HRESULT hr = obj->QueryInterface(riid, out);
  obj->Release();
  return hr;
}

HRESULT MakeFakeCounted(REFIID riid, void** out) {
  ++g_made_by_second;
  return MakeFake(riid, out);
}

TEST(Apartment, CountedPerThread) {
  EXPECT_EQ(CoInitializeCount(), 0);
  EXPECT_EQ(CoInitialize(nullptr), S_OK);
  EXPECT_EQ(CoInitialize(nullptr), S_FALSE);
  EXPECT_EQ(CoInitializeCount(), 2);
  int other = -1;
  HRESULT first_there = E_FAIL;
  std::thread([&] {
    other = CoInitializeCount();
    first_there = CoInitialize(nullptr);
    CoUninitialize();
  }).join();
  EXPECT_EQ(other, 0);
  EXPECT_EQ(first_there, S_OK);
  CoUninitialize();
  CoUninitialize();
  CoUninitialize();  // unmatched: stays at 0
  EXPECT_EQ(CoInitializeCount(), 0);
  EXPECT_EQ(CoInitialize(nullptr), S_OK);
  CoUninitialize();
}

TEST(ClassRegistry, CreateFindReplaceRemove) {
  ComRegisterClass(kFakeClass, u"Fake.Thing", MakeFake);
  EXPECT_EQ(ComFindClass(kFakeClass), &MakeFake);

  void* out = reinterpret_cast<void*>(1);
  EXPECT_EQ(CoCreateInstance(kFakeClass, nullptr, CLSCTX_ALL, IID_IUnknown, &out),
            CO_E_NOTINITIALIZED);
  EXPECT_EQ(out, nullptr);

  ASSERT_EQ(CoInitialize(nullptr), S_OK);
  bool dummy;
  auto* outer = new FakeObject(&dummy);
  EXPECT_EQ(CoCreateInstance(kFakeClass, outer, CLSCTX_ALL, IID_IUnknown, &out),
            CLASS_E_NOAGGREGATION);
  outer->Release();

  ASSERT_EQ(CoCreateInstance(kFakeClass, nullptr, CLSCTX_ALL, IID_IUnknown, &out), S_OK);
  auto* unk = static_cast<IUnknown*>(out);
  EXPECT_TRUE(g_alive);
  EXPECT_EQ(OleRun(unk), S_OK);
  EXPECT_EQ(OleRun(nullptr), E_INVALIDARG);
  unk->Release();
  EXPECT_FALSE(g_alive);
  EXPECT_EQ(CoCreateInstance(kFakeClass, nullptr, CLSCTX_ALL, IID_IErrorInfo, &out),
            E_NOINTERFACE);
  EXPECT_EQ(out, nullptr);
  EXPECT_FALSE(g_alive);

  CLSID found{};
  ASSERT_EQ(CLSIDFromProgID(u"Fake.Thing", &found), S_OK);
  EXPECT_TRUE(found == kFakeClass);
  EXPECT_EQ(CLSIDFromProgID(u"fake.thing", &found), CO_E_CLASSSTRING);
  EXPECT_EQ(CLSIDFromProgID(u"Fake.Thing.1", &found), CO_E_CLASSSTRING);
  EXPECT_EQ(CLSIDFromProgID(nullptr, &found), CO_E_CLASSSTRING);

  // Registering again replaces the factory and the name.
  ComRegisterClass(kFakeClass, u"Fake.Other", MakeFakeCounted);
  ASSERT_EQ(CoCreateInstance(kFakeClass, nullptr, CLSCTX_ALL, IID_IDispatch, &out), S_OK);
  static_cast<IDispatch*>(out)->Release();
  EXPECT_EQ(g_made_by_second, 1);
  EXPECT_EQ(CLSIDFromProgID(u"Fake.Thing", &found), CO_E_CLASSSTRING);
  EXPECT_EQ(CLSIDFromProgID(u"Fake.Other", &found), S_OK);

  // A null factory removes the class.
  ComRegisterClass(kFakeClass, nullptr, nullptr);
  EXPECT_EQ(ComFindClass(kFakeClass), nullptr);
  EXPECT_EQ(CoCreateInstance(kFakeClass, nullptr, CLSCTX_ALL, IID_IUnknown, &out),
            REGDB_E_CLASSNOTREG);
  EXPECT_EQ(CLSIDFromProgID(u"Fake.Other", &found), CO_E_CLASSSTRING);
  CoUninitialize();
}

TEST(Guid, ParsingAndWellKnownIds) {
  CLSID id{};
  ASSERT_EQ(CLSIDFromString(u"{00000514-0000-0010-8000-00AA006D2EA4}", &id), S_OK);
  const CLSID connection{0x00000514, 0, 0x0010, {0x80, 0, 0, 0xAA, 0, 0x6D, 0x2E, 0xA4}};
  EXPECT_TRUE(id == connection);
  ASSERT_EQ(CLSIDFromString(u"{df0b3d60-548f-101b-8e65-08002b2bd119}", &id), S_OK);
  EXPECT_TRUE(id == IID_ISupportErrorInfo);
  EXPECT_FALSE(id == IID_IErrorInfo);
  EXPECT_TRUE(id != IID_IUnknown);
  EXPECT_EQ(IID_IDispatch.Data1, 0x00020400u);
  EXPECT_EQ(IID_IUnknown.Data4[0], 0xC0);
  EXPECT_EQ(IID_IErrorInfo.Data1, 0x1CF2B120u);

  const CLSID before = id;
  for (const char16_t* bad :
       {u"", u"{", u"00000514-0000-0010-8000-00AA006D2EA4",
        u"{00000514-0000-0010-8000-00AA006D2EA4", u"{00000514-0000-0010-8000-00AA006D2EA4}x",
        u"{0000051G-0000-0010-8000-00AA006D2EA4}", u"{00000514+0000-0010-8000-00AA006D2EA4}",
        u"{000005140-000-0010-8000-00AA006D2EA4}"}) {
    EXPECT_EQ(CLSIDFromString(bad, &id), CO_E_CLASSSTRING);
  }
  EXPECT_EQ(CLSIDFromString(nullptr, &id), CO_E_CLASSSTRING);
  EXPECT_TRUE(id == before);

  bool alive;
  auto* obj = new FakeObject(&alive);
  UINT count = 9;
  EXPECT_EQ(obj->GetTypeInfoCount(&count), E_NOTIMPL);
  EXPECT_EQ(count, 0u);
  EXPECT_EQ(obj->Release(), 0u);
  EXPECT_FALSE(alive);
}

}  // namespace
