#include "platform/com/comsupp.h"

#include <cstdio>
#include <cstring>
#include <utility>

namespace {

constexpr DWORD kMessageFlags =
    FORMAT_MESSAGE_ALLOCATE_BUFFER | FORMAT_MESSAGE_IGNORE_INSERTS | FORMAT_MESSAGE_FROM_SYSTEM;
constexpr DWORD kNeutralLanguage = 0x0400;
constexpr uint32_t kDispatchBase = 0x80040200u;
constexpr uint32_t kDispatchLast = 0x8004FFFFu;
constexpr size_t kFallbackChars = 32;

// The system message for hr with one trailing line break removed, or null.
OLECHAR* SystemMessage(HRESULT hr) {
  OLECHAR* text = nullptr;
  const DWORD n = FormatMessageW(kMessageFlags, nullptr, static_cast<DWORD>(hr), kNeutralLanguage,
                                 reinterpret_cast<OLECHAR*>(&text), 0, nullptr);
  if (n == 0 || !text) {
    if (text) LocalFree(text);
    return nullptr;
  }
  const int len = lstrlenW(text);
  if (len > 1 && text[len - 1] == u'\n') {
    text[len - 1] = 0;
    if (text[len - 2] == u'\r') text[len - 2] = 0;
  }
  return text;
}

// "IDispatch error #d" inside the dispatch range, "Unknown error 0x..."
// elsewhere; null when the buffer cannot be had.
OLECHAR* FallbackMessage(HRESULT hr) {
  auto* text = static_cast<OLECHAR*>(LocalAlloc(LMEM_FIXED, kFallbackChars * sizeof(OLECHAR)));
  if (!text) return nullptr;
  const uint32_t code = static_cast<uint32_t>(hr);
  char narrow[kFallbackChars];
  if (code >= kDispatchBase && code <= kDispatchLast && code != kDispatchBase)
    std::snprintf(narrow, sizeof narrow, "IDispatch error #%d", static_cast<int>(code - kDispatchBase));
  else
    std::snprintf(narrow, sizeof narrow, "Unknown error 0x%0lX", static_cast<unsigned long>(code));
  size_t i = 0;
  for (; narrow[i] && i + 1 < kFallbackChars; ++i) text[i] = static_cast<OLECHAR>(narrow[i]);
  text[i] = 0;
  return text;
}

}  // namespace

_com_error::_com_error(HRESULT hr, IErrorInfo* info, bool add_ref) noexcept
    : hr_(hr), info_(info) {
  if (info_ && add_ref) info_->AddRef();
}

_com_error::_com_error(const _com_error& other) noexcept : hr_(other.hr_), info_(other.info_) {
  if (info_) info_->AddRef();
}

_com_error& _com_error::operator=(const _com_error& other) noexcept {
  if (this != &other) {
    if (other.info_) other.info_->AddRef();
    IErrorInfo* old = std::exchange(info_, other.info_);
    if (old) old->Release();
    hr_ = other.hr_;
    // The meaning belongs to the code, which may have changed.
    if (meaning_) LocalFree(std::exchange(meaning_, nullptr));
    what_.clear();
  }
  return *this;
}

_com_error::~_com_error() {
  if (info_) info_->Release();
  if (meaning_) LocalFree(meaning_);
}

IErrorInfo* _com_error::ErrorInfo() const noexcept {
  if (info_) info_->AddRef();
  return info_;
}

_bstr_t _com_error::Source() const noexcept {
  if (!info_) return {};
  BSTR text = nullptr;
  if (FAILED(info_->GetSource(&text))) return {};
  try {
    return _bstr_t(text, false);
  } catch (...) {
    return {};  // the holder could not be made; the text was freed
  }
}

_bstr_t _com_error::Description() const noexcept {
  if (!info_) return {};
  BSTR text = nullptr;
  if (FAILED(info_->GetDescription(&text))) return {};
  try {
    return _bstr_t(text, false);
  } catch (...) {
    return {};
  }
}

const OLECHAR* _com_error::CodeMeaning() const noexcept {
  if (!meaning_) {
    meaning_ = SystemMessage(hr_);
    if (!meaning_) meaning_ = FallbackMessage(hr_);
  }
  return meaning_;
}

const char* _com_error::what() const noexcept {
  if (!what_.empty()) return what_.c_str();
  try {
    char code[16];
    std::snprintf(code, sizeof code, "%08lx ", static_cast<unsigned long>(static_cast<uint32_t>(hr_)));
    std::string meaning = "(null)";
    if (const OLECHAR* m = CodeMeaning()) {
      _bstr_t holder(m);
      meaning = OrNull(holder.Narrow());
    }
    what_ = std::string(code) + meaning;
  } catch (...) {
    return "_com_error";
  }
  return what_.c_str();
}

void _com_issue_error(HRESULT hr) { throw _com_error(hr); }

void _com_issue_errorex(HRESULT hr, IUnknown* object, REFIID iid) {
  IErrorInfo* info = nullptr;
  if (object) {
    ISupportErrorInfo* support = nullptr;
    if (SUCCEEDED(object->QueryInterface(IID_ISupportErrorInfo, reinterpret_cast<void**>(&support))) &&
        support) {
      const HRESULT answer = support->InterfaceSupportsErrorInfo(iid);
      support->Release();
      if (answer == S_OK && GetErrorInfo(0, &info) != S_OK && info) {
        info->Release();  // an odd answer that still handed out an object
        info = nullptr;
      }
    }
  }
  throw _com_error(hr, info, false);
}

void _com_issue_last_error() { throw _com_error(LastErrorResult()); }
