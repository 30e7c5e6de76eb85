// Fuzzes the UTF-8/UTF-16 conversions and VariantChangeType.
// Conversions: valid text survives a round trip unchanged, and the size
// asked for first is the size written. Variants: a value of every source
// type (made from the input) goes to text, double, 32-bit integer and bool,
// into a fresh variant and in place; nothing may crash or leak.
#include <fuzzer/FuzzedDataProvider.h>

#include <cstdint>
#include <cstdlib>
#include <cstring>
#include <string>
#include <vector>

#include "platform/com/com.h"

namespace {

void Check(bool condition) {
  if (!condition) std::abort();
}

int g_objects_alive = 0;

// An object for VT_DISPATCH/VT_UNKNOWN values; counts its live instances so
// a conversion that loses or drops a reference shows.
class FakeObject final : public IDispatch, public ComRefCount {
 public:
  FakeObject() { ++g_objects_alive; }
  HRESULT QueryInterface(REFIID riid, void** out) override {
    if (out == nullptr) return E_POINTER;
    *out = nullptr;
    if (riid == IID_IUnknown) {
      *out = static_cast<IUnknown*>(this);
    } else if (riid == IID_IDispatch) {
      *out = static_cast<IDispatch*>(this);
    } else {
      return E_NOINTERFACE;
    }
    DoAddRef();
    return S_OK;
  }
  ULONG AddRef() override { return DoAddRef(); }
  ULONG Release() override { return DoRelease(); }

 private:
  ~FakeObject() override { --g_objects_alive; }
};

// UTF-8 bytes -> UTF-16 -> UTF-8 must give the bytes back when the first
// step succeeds.
void Utf8RoundTrip(const std::string& bytes) {
  const int len = static_cast<int>(bytes.size());
  const int need = MultiByteToWideChar(CP_UTF8, 0, bytes.data(), len, nullptr, 0);
  if (need <= 0) return;
  std::vector<OLECHAR> wide(static_cast<size_t>(need));
  Check(MultiByteToWideChar(CP_UTF8, 0, bytes.data(), len, wide.data(), need) == need);
  const int back = WideCharToMultiByte(CP_UTF8, 0, wide.data(), need, nullptr, 0, nullptr, nullptr);
  Check(back == len);
  std::string narrow(static_cast<size_t>(back), '\0');
  Check(WideCharToMultiByte(CP_UTF8, 0, wide.data(), need, narrow.data(), back, nullptr,
                            nullptr) == back);
  Check(narrow == bytes);
  // A buffer one short fails instead of writing past its end.
  if (need > 1) {
    std::vector<OLECHAR> small(static_cast<size_t>(need - 1));
    Check(MultiByteToWideChar(CP_UTF8, 0, bytes.data(), len, small.data(), need - 1) == 0);
  }
}

// UTF-16 units -> UTF-8 -> UTF-16, the same way round; -1 lengths too.
void Utf16RoundTrip(const std::u16string& units) {
  const int len = static_cast<int>(units.size());
  const int need = WideCharToMultiByte(CP_ACP, 0, units.data(), len, nullptr, 0, nullptr, nullptr);
  if (need > 0) {
    std::string narrow(static_cast<size_t>(need), '\0');
    Check(WideCharToMultiByte(CP_ACP, 0, units.data(), len, narrow.data(), need, nullptr,
                              nullptr) == need);
    const int back = MultiByteToWideChar(CP_ACP, 0, narrow.data(), need, nullptr, 0);
    Check(back == len);
    std::u16string wide(static_cast<size_t>(back), u'\0');
    Check(MultiByteToWideChar(CP_ACP, 0, narrow.data(), need, wide.data(), back) == back);
    Check(wide == units);
  }
  // Up to the first NUL, which is counted.
  const int whole = WideCharToMultiByte(CP_UTF8, 0, units.c_str(), -1, nullptr, 0, nullptr, nullptr);
  Check(whole == 0 || whole >= 1);
}

// A variant of the type picked by the input, its value from the input.
void MakeVariant(FuzzedDataProvider& in, VARIANT& v) {
  static constexpr VARTYPE kTypes[] = {
      VT_EMPTY, VT_NULL, VT_I2,  VT_I4,  VT_R4,  VT_R8,  VT_CY,  VT_DATE, VT_BSTR,
      VT_ERROR, VT_BOOL, VT_DECIMAL, VT_I1, VT_UI1, VT_UI2, VT_UI4, VT_I8, VT_UI8,
      VT_INT, VT_UINT, VT_VARIANT, VT_DISPATCH, VT_UNKNOWN,
      static_cast<VARTYPE>(VT_ARRAY | VT_UI1), 0x7FFF};
  VariantInit(&v);
  const VARTYPE vt = in.PickValueInArray(kTypes);
  switch (vt) {
    case VT_BSTR: {
      const std::string bytes = in.ConsumeRandomLengthString(256);
      if (in.ConsumeBool()) {
        v.bstrVal = SysAllocStringByteLen(bytes.data(), static_cast<UINT>(bytes.size()));
      } else {
        std::u16string units(bytes.size() / 2, u'\0');
        std::memcpy(units.data(), bytes.data(), units.size() * 2);
        v.bstrVal = in.ConsumeBool() ? nullptr
                                     : SysAllocStringLen(units.data(), static_cast<UINT>(units.size()));
      }
      break;
    }
    case VT_DECIMAL:
      v.decVal.scale = in.ConsumeIntegral<BYTE>();
      v.decVal.sign = in.ConsumeBool() ? DECIMAL_NEG : in.ConsumeIntegral<BYTE>();
      v.decVal.Hi32 = in.ConsumeIntegral<uint32_t>();
      v.decVal.Lo64 = in.ConsumeIntegral<uint64_t>();
      break;
    case VT_R4: v.fltVal = in.ConsumeFloatingPoint<float>(); break;
    case VT_R8:
    case VT_DATE: v.dblVal = in.ConsumeFloatingPoint<double>(); break;
    case VT_DISPATCH:
    case VT_UNKNOWN:
      if (in.ConsumeBool()) {
        v.punkVal = nullptr;
      } else if (vt == VT_DISPATCH) {
        v.pdispVal = new FakeObject;  // the variant owns the creator's reference
      } else {
        v.punkVal = static_cast<IUnknown*>(static_cast<IDispatch*>(new FakeObject));
      }
      break;
    case static_cast<VARTYPE>(VT_ARRAY | VT_UI1): {
      const std::string bytes = in.ConsumeRandomLengthString(64);
      v.parray = SafeArrayCreateVector(VT_UI1, 0, static_cast<ULONG>(bytes.size()));
      if (v.parray != nullptr && !bytes.empty()) std::memcpy(v.parray->pvData, bytes.data(), bytes.size());
      break;
    }
    default:
      v.llVal = in.ConsumeIntegral<int64_t>();
      break;
  }
  v.vt = vt;
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  FuzzedDataProvider in(data, size);
  if (in.ConsumeBool()) {
    const std::string bytes = in.ConsumeRemainingBytesAsString();
    Utf8RoundTrip(bytes);
    std::u16string units(bytes.size() / 2, u'\0');
    std::memcpy(units.data(), bytes.data(), units.size() * 2);
    Utf16RoundTrip(units);
    return 0;
  }

  VARIANT src;
  MakeVariant(in, src);
  const USHORT flags = in.ConsumeIntegral<USHORT>();
  static constexpr VARTYPE kTargets[] = {VT_BSTR, VT_R8, VT_I4, VT_BOOL, VT_R4, VT_I2, VT_I8};
  for (VARTYPE to : kTargets) {
    VARIANT dest;
    VariantInit(&dest);
    if (SUCCEEDED(VariantChangeType(&dest, &src, flags, to))) Check(dest.vt == to);
    VariantClear(&dest);

    // In place, on a copy of the source.
    VARIANT copy;
    VariantInit(&copy);
    if (SUCCEEDED(VariantCopy(&copy, &src))) {
      if (SUCCEEDED(VariantChangeType(&copy, &copy, flags, to))) Check(copy.vt == to);
    }
    VariantClear(&copy);
  }
  // A 32-bit integer survives the trip through text.
  if (src.vt == VT_I4) {
    VARIANT text, back;
    VariantInit(&text);
    VariantInit(&back);
    Check(SUCCEEDED(VariantChangeType(&text, &src, 0, VT_BSTR)));
    Check(SUCCEEDED(VariantChangeType(&back, &text, 0, VT_I4)));
    Check(back.lVal == src.lVal);
    VariantClear(&text);
    VariantClear(&back);
  }
  VariantClear(&src);
  Check(g_objects_alive == 0);
  return 0;
}
