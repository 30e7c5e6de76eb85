#include <gtest/gtest.h>

#include <string>

#include "platform/com/com.h"
#include "platform/com/com_testing.h"

namespace {

constexpr DWORD kFlags =
    FORMAT_MESSAGE_ALLOCATE_BUFFER | FORMAT_MESSAGE_IGNORE_INSERTS | FORMAT_MESSAGE_FROM_SYSTEM;

// The allocated message for `code`, or "<none>" when there is none.
std::u16string Message(HRESULT code, DWORD* length = nullptr) {
  OLECHAR* text = nullptr;
  DWORD n = FormatMessageW(kFlags, nullptr, static_cast<DWORD>(code), 0x0400,
                           reinterpret_cast<OLECHAR*>(&text), 0, nullptr);
  if (length != nullptr) *length = n;
  if (n == 0) {
    EXPECT_EQ(text, nullptr);
    return u"<none>";
  }
  std::u16string s(text);
  EXPECT_EQ(LocalFree(text), nullptr);
  return s;
}

TEST(FormatMessage, SystemTableAndMissingCodes) {
  DWORD n = 0;
  EXPECT_EQ(Message(E_POINTER, &n), u"Invalid pointer\r\n");
  EXPECT_EQ(n, 17u);
  EXPECT_EQ(Message(E_NOINTERFACE), u"No such interface supported\r\n");
  EXPECT_EQ(Message(E_FAIL), u"Unspecified error\r\n");
  EXPECT_EQ(Message(DISP_E_TYPEMISMATCH), u"Type mismatch.\r\n");
  for (HRESULT code : {S_OK, E_NOTIMPL, E_ABORT, E_UNEXPECTED, E_OUTOFMEMORY, E_INVALIDARG,
                       DISP_E_OVERFLOW, DISP_E_BADVARTYPE, REGDB_E_CLASSNOTREG,
                       CLASS_E_NOAGGREGATION, CO_E_NOTINITIALIZED, CO_E_CLASSSTRING,
                       RPC_E_CHANGED_MODE, MakeHr(0x80070459), MakeHr(0x8007007A)}) {
    std::u16string m = Message(code);
    EXPECT_GT(m.size(), 2u) << std::hex << code;
    EXPECT_EQ(m.substr(m.size() - 2), u"\r\n") << std::hex << code;
  }
  // A plain system error number reads like its HRESULT form.
  EXPECT_EQ(Message(static_cast<HRESULT>(ERROR_NO_UNICODE_TRANSLATION)),
            Message(HRESULT_FROM_WIN32(ERROR_NO_UNICODE_TRANSLATION)));

  SetLastError(0);
  EXPECT_EQ(Message(adErrObjectClosed, &n), u"<none>");
  EXPECT_EQ(n, 0u);
  EXPECT_NE(GetLastError(), 0u);
  EXPECT_EQ(Message(MakeHr(0x80040205)), u"<none>");
}

TEST(FormatMessage, CallerBufferAndTestingOverrides) {
  OLECHAR buf[32];
  EXPECT_EQ(FormatMessageW(FORMAT_MESSAGE_FROM_SYSTEM, nullptr, static_cast<DWORD>(E_FAIL), 0,
                           buf, 32, nullptr),
            19u);
  EXPECT_EQ(std::u16string(buf), u"Unspecified error\r\n");
  SetLastError(0);
  EXPECT_EQ(FormatMessageW(FORMAT_MESSAGE_FROM_SYSTEM, nullptr, static_cast<DWORD>(E_FAIL), 0,
                           buf, 19, nullptr),
            0u);  // no room for the NUL
  EXPECT_EQ(GetLastError(), ERROR_INSUFFICIENT_BUFFER);
  EXPECT_EQ(FormatMessageW(FORMAT_MESSAGE_ALLOCATE_BUFFER, nullptr, 0, 0, buf, 0, nullptr), 0u);

  const HRESULT code = MakeHr(0x800A0E78);
  ComSetMessageForTesting(code, u"\n");
  EXPECT_EQ(Message(code), u"\n");
  ComSetMessageForTesting(code, u"two\r\n\r\n");
  EXPECT_EQ(Message(code), u"two\r\n\r\n");
  ComSetMessageForTesting(E_FAIL, u"replaced");
  EXPECT_EQ(Message(E_FAIL), u"replaced");
  ComSetMessageForTesting(code, nullptr);
  ComSetMessageForTesting(E_FAIL, nullptr);
  EXPECT_EQ(Message(code), u"<none>");
  EXPECT_EQ(Message(E_FAIL), u"Unspecified error\r\n");
}

TEST(LocalMemory, ZeroInitAndFree) {
  auto* p = static_cast<unsigned char*>(LocalAlloc(LMEM_ZEROINIT, 64));
  ASSERT_NE(p, nullptr);
  for (int i = 0; i < 64; ++i) EXPECT_EQ(p[i], 0);
  EXPECT_EQ(LocalFree(p), nullptr);
  EXPECT_EQ(LocalFree(nullptr), nullptr);
  void* z = LocalAlloc(LMEM_FIXED, 0);
  EXPECT_NE(z, nullptr);
  LocalFree(z);
  SetLastError(0);
  EXPECT_EQ(LocalAlloc(0x2, 8), nullptr);
  EXPECT_EQ(GetLastError(), ERROR_INVALID_PARAMETER);
}

}  // namespace
