// Interface identifiers and the textual form of class identifiers.
#include <cstring>

#include "platform/com/com.h"

const IID IID_IUnknown{0x00000000, 0x0000, 0x0000, {0xC0, 0x00, 0x00, 0x00, 0x00, 0x00, 0x00, 0x46}};
const IID IID_IDispatch{0x00020400, 0x0000, 0x0000, {0xC0, 0x00, 0x00, 0x00, 0x00, 0x00, 0x00, 0x46}};
const IID IID_IErrorInfo{0x1CF2B120, 0x547D, 0x101B, {0x8E, 0x65, 0x08, 0x00, 0x2B, 0x2B, 0xD1, 0x19}};
const IID IID_ISupportErrorInfo{0xDF0B3D60, 0x548F, 0x101B, {0x8E, 0x65, 0x08, 0x00, 0x2B, 0x2B, 0xD1, 0x19}};

bool operator==(const GUID& a, const GUID& b) {
  return a.Data1 == b.Data1 && a.Data2 == b.Data2 && a.Data3 == b.Data3 &&
         std::memcmp(a.Data4, b.Data4, sizeof a.Data4) == 0;
}

namespace {

int HexDigit(OLECHAR c) {
  if (c >= u'0' && c <= u'9') return c - u'0';
  if (c >= u'a' && c <= u'f') return c - u'a' + 10;
  if (c >= u'A' && c <= u'F') return c - u'A' + 10;
  return -1;
}

// Reads `count` hex digits at text[pos]; false if any is not a hex digit.
bool ReadHex(const OLECHAR* text, int pos, int count, uint64_t* value) {
  uint64_t v = 0;
  for (int i = 0; i < count; ++i) {
    int d = HexDigit(text[pos + i]);
    if (d < 0) return false;
    v = (v << 4) | static_cast<uint64_t>(d);
  }
  *value = v;
  return true;
}

}  // namespace

// Accepts exactly "{xxxxxxxx-xxxx-xxxx-xxxx-xxxxxxxxxxxx}" followed by the
// end of the text; the output is left alone when the text is malformed.
HRESULT CLSIDFromString(const OLECHAR* text, CLSID* clsid) {
  if (clsid == nullptr) return E_INVALIDARG;
  if (text == nullptr) return CO_E_CLASSSTRING;
  // Walk the fixed shape first so we never read past a short text's NUL.
  static constexpr char kShape[] = "{########-####-####-####-############}";
  for (int i = 0; kShape[i] != '\0'; ++i) {
    if (text[i] == u'\0') return CO_E_CLASSSTRING;
    if (kShape[i] == '#') {
      if (HexDigit(text[i]) < 0) return CO_E_CLASSSTRING;
    } else if (text[i] != static_cast<OLECHAR>(kShape[i])) {
      return CO_E_CLASSSTRING;
    }
  }
  if (text[sizeof kShape - 1] != u'\0') return CO_E_CLASSSTRING;

  uint64_t d1, d2, d3, d4a, d4b;
  if (!ReadHex(text, 1, 8, &d1) || !ReadHex(text, 10, 4, &d2) || !ReadHex(text, 15, 4, &d3) ||
      !ReadHex(text, 20, 4, &d4a) || !ReadHex(text, 25, 12, &d4b)) {
    return CO_E_CLASSSTRING;
  }
  CLSID id{};
  id.Data1 = static_cast<uint32_t>(d1);
  id.Data2 = static_cast<uint16_t>(d2);
  id.Data3 = static_cast<uint16_t>(d3);
  id.Data4[0] = static_cast<uint8_t>(d4a >> 8);
  id.Data4[1] = static_cast<uint8_t>(d4a);
  for (int i = 0; i < 6; ++i) id.Data4[2 + i] = static_cast<uint8_t>(d4b >> (8 * (5 - i)));
  *clsid = id;
  return S_OK;
}
