#include <gtest/gtest.h>

#include <cstdint>
#include <cstring>

#include "platform/com/com.h"
#include "tests/platform/com/fake_object.h"

namespace {

uint32_t Prefix(BSTR b) {
  uint32_t v;
  std::memcpy(&v, reinterpret_cast<char*>(b) - 4, 4);
  return v;
}

TEST(Bstr, LengthsPrefixAndTerminator) {
  BSTR b = SysAllocString(u"héllo");
  ASSERT_NE(b, nullptr);
  EXPECT_EQ(SysStringLen(b), 5u);
  EXPECT_EQ(SysStringByteLen(b), 10u);
  EXPECT_EQ(Prefix(b), 10u);
  EXPECT_EQ(b[5], u'\0');
  EXPECT_EQ(std::u16string(b), u"héllo");
  SysFreeString(b);

  EXPECT_EQ(SysAllocString(nullptr), nullptr);
  EXPECT_EQ(SysStringLen(nullptr), 0u);
  EXPECT_EQ(SysStringByteLen(nullptr), 0u);
  SysFreeString(nullptr);

  BSTR empty = SysAllocString(u"");
  ASSERT_NE(empty, nullptr);
  EXPECT_EQ(SysStringLen(empty), 0u);
  SysFreeString(empty);
}

TEST(Bstr, ExplicitLengthsZeroingAndOddBytes) {
  const OLECHAR with_nul[] = {u'a', u'\0', u'b'};
  BSTR b = SysAllocStringLen(with_nul, 3);
  EXPECT_EQ(SysStringLen(b), 3u);
  EXPECT_EQ(b[2], u'b');
  EXPECT_EQ(b[3], u'\0');
  SysFreeString(b);

  BSTR zeroed = SysAllocStringLen(nullptr, 4);
  ASSERT_NE(zeroed, nullptr);
  for (int i = 0; i <= 4; ++i) EXPECT_EQ(zeroed[i], u'\0');
  SysFreeString(zeroed);

  BSTR odd = SysAllocStringByteLen("abc", 3);
  EXPECT_EQ(SysStringByteLen(odd), 3u);
  EXPECT_EQ(SysStringLen(odd), 1u);
  EXPECT_EQ(std::memcmp(odd, "abc\0\0", 5), 0);
  SysFreeString(odd);

  BSTR zero_bytes = SysAllocStringByteLen(nullptr, 5);
  ASSERT_NE(zero_bytes, nullptr);
  EXPECT_EQ(std::memcmp(zero_bytes, "\0\0\0\0\0\0\0", 7), 0);
  SysFreeString(zero_bytes);

  EXPECT_EQ(SysAllocStringLen(nullptr, 0x80000000u), nullptr);
  EXPECT_EQ(SysAllocStringByteLen(nullptr, 0xFFFFFFFFu), nullptr);
}

TEST(Variant, InitClearAndCopyOfEachKind) {
  VARIANT v;
  std::memset(&v, 0xAB, sizeof v);
  VariantInit(&v);
  EXPECT_EQ(v.vt, VT_EMPTY);

  // BSTR with an embedded NUL and an odd byte length: the copy keeps all.
  VARIANT s, c;
  VariantInit(&s);
  VariantInit(&c);
  s.vt = VT_BSTR;
  s.bstrVal = SysAllocStringByteLen("a\0bcd", 5);
  ASSERT_EQ(VariantCopy(&c, &s), S_OK);
  ASSERT_EQ(c.vt, VT_BSTR);
  EXPECT_NE(c.bstrVal, s.bstrVal);
  EXPECT_EQ(SysStringByteLen(c.bstrVal), 5u);
  EXPECT_EQ(std::memcmp(c.bstrVal, "a\0bcd", 5), 0);
  EXPECT_EQ(VariantClear(&s), S_OK);
  EXPECT_EQ(s.vt, VT_EMPTY);

  // Copying over a value frees what dest held (ASan would see a leak).
  VARIANT n;
  VariantInit(&n);
  n.vt = VT_I4;
  n.lVal = -7;
  ASSERT_EQ(VariantCopy(&c, &n), S_OK);
  EXPECT_EQ(c.vt, VT_I4);
  EXPECT_EQ(c.lVal, -7);

  // Objects: a copy adds a reference, a clear drops it.
  bool alive = false;
  auto* obj = new FakeObject(&alive);
  VARIANT o;
  VariantInit(&o);
  o.vt = VT_DISPATCH;
  o.pdispVal = obj;
  ASSERT_EQ(VariantCopy(&c, &o), S_OK);
  EXPECT_EQ(c.pdispVal, obj);
  EXPECT_EQ(obj->Refs(), 2u);
  VariantClear(&c);
  EXPECT_EQ(obj->Refs(), 1u);
  VariantClear(&o);
  EXPECT_FALSE(alive);

  // Byte arrays: deep copy.
  VARIANT a;
  VariantInit(&a);
  a.vt = VT_ARRAY | VT_UI1;
  a.parray = SafeArrayCreateVector(VT_UI1, 0, 3);
  ASSERT_NE(a.parray, nullptr);
  EXPECT_EQ(static_cast<BYTE*>(a.parray->pvData)[2], 0);
  std::memcpy(a.parray->pvData, "xyz", 3);
  ASSERT_EQ(VariantCopy(&c, &a), S_OK);
  ASSERT_NE(c.parray, a.parray);
  EXPECT_EQ(c.parray->cElements, 3u);
  EXPECT_EQ(std::memcmp(c.parray->pvData, "xyz", 3), 0);
  VariantClear(&a);
  VariantClear(&c);
  EXPECT_EQ(c.vt, VT_EMPTY);

  EXPECT_EQ(SafeArrayCreateVector(VT_I4, 0, 3), nullptr);
}

TEST(Variant, UnknownTypesAreRefusedAndDestUntouched) {
  VARIANT bad, dest;
  VariantInit(&bad);
  VariantInit(&dest);
  bad.vt = 0x7777;
  EXPECT_EQ(VariantClear(&bad), DISP_E_BADVARTYPE);
  EXPECT_EQ(bad.vt, 0x7777);
  dest.vt = VT_I2;
  dest.iVal = 5;
  EXPECT_EQ(VariantCopy(&dest, &bad), DISP_E_BADVARTYPE);
  EXPECT_EQ(dest.vt, VT_I2);
  EXPECT_EQ(dest.iVal, 5);
  EXPECT_EQ(VariantCopy(nullptr, &dest), E_INVALIDARG);
}

}  // namespace
