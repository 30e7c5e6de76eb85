#include "platform/com/comsupp.h"

#include <atomic>
#include <new>
#include <string>

#include "platform/types/zr.h"

struct _bstr_t::Holder {
  explicit Holder(BSTR w) : wide(w) {}
  ~Holder() {
    SysFreeString(wide);
    delete[] narrow.load();
  }
  BSTR wide;
  // Made on first use; a race between two first uses keeps one copy.
  std::atomic<char*> narrow{nullptr};
  std::atomic<long> refs{1};
};

namespace {

// Wraps an owned BSTR into a new holder; frees the text if the holder
// cannot be made, so nothing leaks on the error path.
// (A template, so the private holder type is named only by the members.)
template <class H>
H* Adopt(BSTR text) {
  if (!text) return nullptr;
  auto* h = new (std::nothrow) H(text);
  if (!h) {
    SysFreeString(text);
    _com_issue_error(E_OUTOFMEMORY);
  }
  return h;
}

BSTR CopyOrThrow(BSTR text) {
  if (!text) return nullptr;
  BSTR c = SysAllocStringByteLen(reinterpret_cast<const char*>(text), SysStringByteLen(text));
  if (!c) _com_issue_error(E_OUTOFMEMORY);
  return c;
}

}  // namespace

_bstr_t::_bstr_t(BSTR text, bool copy) : h_(Adopt<Holder>(copy ? CopyOrThrow(text) : text)) {}

_bstr_t::_bstr_t(const char* narrow) : h_(Adopt<Holder>(NarrowToBstr(narrow))) {}

_bstr_t::_bstr_t(const OLECHAR* wide) {
  if (!wide) return;
  BSTR b = SysAllocString(wide);
  if (!b) _com_issue_error(E_OUTOFMEMORY);
  h_ = Adopt<Holder>(b);
}

_bstr_t::_bstr_t(const ZR_TString& text) : h_(Adopt<Holder>(StringToBstr(text))) {}

_bstr_t::_bstr_t(const _bstr_t& other) noexcept : h_(other.h_) {
  if (h_) h_->refs.fetch_add(1, std::memory_order_relaxed);
}

_bstr_t::_bstr_t(_bstr_t&& other) noexcept : h_(other.h_) { other.h_ = nullptr; }

_bstr_t& _bstr_t::operator=(const _bstr_t& other) noexcept {
  if (h_ != other.h_) {
    _bstr_t keep(other);
    std::swap(h_, keep.h_);
  }
  return *this;
}

_bstr_t& _bstr_t::operator=(_bstr_t&& other) noexcept {
  if (this != &other) {
    _bstr_t old(std::move(*this));
    h_ = other.h_;
    other.h_ = nullptr;
  }
  return *this;
}

_bstr_t::~_bstr_t() {
  if (h_ && h_->refs.fetch_sub(1, std::memory_order_acq_rel) == 1) delete h_;
}

BSTR _bstr_t::GetBSTR() const noexcept { return h_ ? h_->wide : nullptr; }

BSTR _bstr_t::copy() const { return CopyOrThrow(GetBSTR()); }

UINT _bstr_t::length() const noexcept { return SysStringLen(GetBSTR()); }

const char* _bstr_t::Narrow() const {
  if (!h_ || !h_->wide) return nullptr;
  if (char* done = h_->narrow.load(std::memory_order_acquire)) return done;

  // Only the units before the first NUL count, whatever the stored length.
  const int units = lstrlenW(h_->wide);
  const int size = WideCharToMultiByte(CP_ACP, 0, h_->wide, units + 1, nullptr, 0, nullptr, nullptr);
  if (size <= 0) _com_issue_last_error();
  char* text = new (std::nothrow) char[size];
  if (!text) _com_issue_error(E_OUTOFMEMORY);
  if (WideCharToMultiByte(CP_ACP, 0, h_->wide, units + 1, text, size, nullptr, nullptr) <= 0) {
    delete[] text;
    _com_issue_last_error();
  }
  char* expected = nullptr;
  if (!h_->narrow.compare_exchange_strong(expected, text, std::memory_order_acq_rel)) {
    delete[] text;
    return expected;
  }
  return text;
}

BSTR NarrowToBstr(const char* narrow) {
  if (!narrow) return nullptr;
  const int units = MultiByteToWideChar(CP_ACP, 0, narrow, -1, nullptr, 0);
  if (units <= 0) _com_issue_last_error();
  std::u16string wide(static_cast<size_t>(units), u'\0');
  if (MultiByteToWideChar(CP_ACP, 0, narrow, -1, wide.data(), units) <= 0) _com_issue_last_error();
  // units counts the terminating NUL, which the BSTR adds by itself.
  BSTR text = SysAllocStringLen(wide.data(), static_cast<UINT>(units - 1));
  if (!text) _com_issue_error(E_OUTOFMEMORY);
  return text;
}

BSTR StringToBstr(const ZR_TString& text) {
  const std::u16string wide = text.ToUtf16();
  BSTR copy = SysAllocStringLen(wide.data(), static_cast<UINT>(wide.size()));
  if (!copy) _com_issue_error(E_OUTOFMEMORY);
  return copy;
}
