#include <gtest/gtest.h>

#include <string>
#include <thread>

#include "platform/com/com.h"
#include "tests/platform/com/fake_object.h"

namespace {

const IID kSomeIid{0x00000515, 0x0000, 0x0010, {0x80, 0x00, 0x00, 0xAA, 0x00, 0x6D, 0x2E, 0xA4}};

std::u16string Take(BSTR b) {
  std::u16string s = b == nullptr ? u"<null>" : std::u16string(b, SysStringLen(b));
  SysFreeString(b);
  return s;
}

TEST(ErrorInfo, HandOverClearsTheSlot) {
  IErrorInfo* info = reinterpret_cast<IErrorInfo*>(1);
  EXPECT_EQ(GetErrorInfo(0, &info), S_FALSE);
  EXPECT_EQ(info, nullptr);

  ASSERT_EQ(ComSetErrorInfo(kSomeIid, u"ADODB.Connection", u"Data source name not found"), S_OK);
  ASSERT_EQ(GetErrorInfo(0, &info), S_OK);
  ASSERT_NE(info, nullptr);
  GUID g{};
  EXPECT_EQ(info->GetGUID(&g), S_OK);
  EXPECT_TRUE(g == kSomeIid);
  BSTR text = nullptr;
  EXPECT_EQ(info->GetSource(&text), S_OK);
  EXPECT_EQ(Take(text), u"ADODB.Connection");
  EXPECT_EQ(info->GetDescription(&text), S_OK);
  EXPECT_EQ(Take(text), u"Data source name not found");
  void* unk = nullptr;
  EXPECT_EQ(info->QueryInterface(IID_ISupportErrorInfo, &unk), E_NOINTERFACE);
  EXPECT_EQ(info->QueryInterface(IID_IUnknown, &unk), S_OK);
  static_cast<IUnknown*>(unk)->Release();
  EXPECT_EQ(info->Release(), 0u);

  IErrorInfo* again = nullptr;
  EXPECT_EQ(GetErrorInfo(0, &again), S_FALSE);  // taken once only
  EXPECT_EQ(again, nullptr);

  ASSERT_EQ(ComSetErrorInfo(GUID_NULL, nullptr, nullptr), S_OK);
  ASSERT_EQ(GetErrorInfo(0, &info), S_OK);
  EXPECT_EQ(info->GetSource(&text), S_OK);
  EXPECT_EQ(Take(text), u"<null>");
  info->Release();
  EXPECT_EQ(GetErrorInfo(0, nullptr), E_INVALIDARG);
}

TEST(ErrorInfo, SetTakesItsOwnReferenceAndReplaces) {
  ASSERT_EQ(ComSetErrorInfo(GUID_NULL, u"first", nullptr), S_OK);
  ASSERT_EQ(ComSetErrorInfo(GUID_NULL, u"second", nullptr), S_OK);  // first is released
  IErrorInfo* info = nullptr;
  ASSERT_EQ(GetErrorInfo(0, &info), S_OK);
  BSTR text = nullptr;
  info->GetSource(&text);
  EXPECT_EQ(Take(text), u"second");

  // Setting the same object twice keeps it alive; null clears.
  EXPECT_EQ(SetErrorInfo(0, info), S_OK);
  EXPECT_EQ(SetErrorInfo(0, info), S_OK);
  EXPECT_EQ(SetErrorInfo(0, nullptr), S_OK);
  EXPECT_EQ(info->GetSource(&text), S_OK);  // still ours
  EXPECT_EQ(Take(text), u"second");
  IErrorInfo* none = nullptr;
  EXPECT_EQ(GetErrorInfo(0, &none), S_FALSE);
  info->Release();
}

TEST(ErrorInfo, OneSlotPerThreadReleasedAtThreadEnd) {
  ASSERT_EQ(ComSetErrorInfo(GUID_NULL, u"main", nullptr), S_OK);
  HRESULT seen = S_OK;
  std::thread([&] {
    IErrorInfo* info = nullptr;
    seen = GetErrorInfo(0, &info);
    // Left set at thread end: the thread's slot releases it (ASan: no leak).
    ComSetErrorInfo(GUID_NULL, u"worker", nullptr);
  }).join();
  EXPECT_EQ(seen, S_FALSE);
  IErrorInfo* info = nullptr;
  ASSERT_EQ(GetErrorInfo(0, &info), S_OK);
  BSTR text = nullptr;
  info->GetSource(&text);
  EXPECT_EQ(Take(text), u"main");
  info->Release();
}

}  // namespace
