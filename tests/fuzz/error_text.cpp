// Fuzzes the error texts: _com_error with any HRESULT and an error object
// whose source and description (or their failure) come from the input,
// FormatComError, CodeMeaning and the system messages. References to the
// error object must balance: it is gone once the errors are.
#include <fuzzer/FuzzedDataProvider.h>

#include <cstdint>
#include <cstdlib>
#include <cstring>
#include <string>

#include "platform/com/com.h"
#include "platform/com/comsupp.h"
#include "srv/db/error_text.h"

namespace {

void Check(bool condition) {
  if (!condition) std::abort();
}

int g_alive = 0;

// A text for a BSTR: either UTF-8 turned into UTF-16, or raw units (which
// may hold lone surrogates and NULs).
std::u16string MakeText(FuzzedDataProvider& in) {
  const std::string bytes = in.ConsumeRandomLengthString(200);
  if (in.ConsumeBool()) {
    std::u16string units(bytes.size() / 2, u'\0');
    std::memcpy(units.data(), bytes.data(), units.size() * 2);
    return units;
  }
  const int n = MultiByteToWideChar(CP_UTF8, 0, bytes.data(), static_cast<int>(bytes.size()), nullptr, 0);
  if (n <= 0) return u"";
  std::u16string units(static_cast<size_t>(n), u'\0');
  MultiByteToWideChar(CP_UTF8, 0, bytes.data(), static_cast<int>(bytes.size()), units.data(), n);
  return units;
}

class FakeErrorInfo final : public IErrorInfo, public ComRefCount {
 public:
  explicit FakeErrorInfo(FuzzedDataProvider& in)
      : source_(MakeText(in)),
        description_(MakeText(in)),
        source_null_(in.ConsumeBool()),
        description_null_(in.ConsumeBool()),
        source_hr_(in.ConsumeBool() ? S_OK : in.ConsumeIntegral<int32_t>()),
        description_hr_(in.ConsumeBool() ? S_OK : in.ConsumeIntegral<int32_t>()) {
    ++g_alive;
  }

  HRESULT QueryInterface(REFIID riid, void** out) override {
    if (out == nullptr) return E_POINTER;
    *out = nullptr;
    if (riid != IID_IUnknown && riid != IID_IErrorInfo) return E_NOINTERFACE;
    *out = static_cast<IErrorInfo*>(this);
    DoAddRef();
    return S_OK;
  }
  ULONG AddRef() override { return DoAddRef(); }
  ULONG Release() override { return DoRelease(); }
  HRESULT GetGUID(GUID* guid) override {
    if (guid == nullptr) return E_POINTER;
    *guid = GUID_NULL;
    return S_OK;
  }
  HRESULT GetSource(BSTR* out) override { return Give(source_, source_null_, source_hr_, out); }
  HRESULT GetDescription(BSTR* out) override {
    return Give(description_, description_null_, description_hr_, out);
  }

 private:
  ~FakeErrorInfo() override { --g_alive; }

  // A failing call still sets the out value (to null), as the rule asks.
  static HRESULT Give(const std::u16string& text, bool null, HRESULT hr, BSTR* out) {
    if (out == nullptr) return E_POINTER;
    *out = nullptr;
    if (FAILED(hr)) return hr;
    if (!null) *out = SysAllocStringLen(text.data(), static_cast<UINT>(text.size()));
    return hr;
  }

  std::u16string source_, description_;
  bool source_null_, description_null_;
  HRESULT source_hr_, description_hr_;
};

void Exercise(const _com_error& e) {
  char head[32];
  std::snprintf(head, sizeof head, "Error code = %08lx (",
                static_cast<unsigned long>(static_cast<uint32_t>(e.Error())));
  try {
    const ZR_TString text = FormatComError(e);
    Check(text.Utf8().rfind(head, 0) == 0);
  } catch (const _com_error&) {
    // A text that cannot be turned into UTF-8 is reported, not crashed on.
  }
  const OLECHAR* meaning = e.CodeMeaning();
  Check(meaning == nullptr || lstrlenW(meaning) >= 0);
  Check(e.CodeMeaning() == meaning);  // built once, then kept
  Check(std::strncmp(e.what(), head + 13, 8) == 0);
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  FuzzedDataProvider in(data, size);
  const HRESULT hr = in.ConsumeIntegral<int32_t>();
  const HRESULT other_hr = in.ConsumeIntegral<int32_t>();
  const bool with_info = in.ConsumeBool();
  {
    IErrorInfo* info = with_info ? new FakeErrorInfo(in) : nullptr;
    _com_error e(hr, info, false);  // takes over the creator's reference
    Exercise(e);
    _com_error copy(e);
    Exercise(copy);
    _com_error assigned(other_hr);
    Exercise(assigned);
    assigned = e;
    Exercise(assigned);
    const _com_error& same = assigned;
    assigned = same;  // assignment to itself keeps the reference
  }
  Check(g_alive == 0);

  // The message table directly, with any code and flags.
  OLECHAR* text = nullptr;
  const DWORD n = FormatMessageW(
      FORMAT_MESSAGE_ALLOCATE_BUFFER | FORMAT_MESSAGE_FROM_SYSTEM | FORMAT_MESSAGE_IGNORE_INSERTS,
      nullptr, static_cast<DWORD>(hr), 0, reinterpret_cast<OLECHAR*>(&text), 0, nullptr);
  if (n > 0) Check(text != nullptr && lstrlenW(text) == static_cast<int>(n));
  if (text != nullptr) LocalFree(text);
  return 0;
}
