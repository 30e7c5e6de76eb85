// ZR_TString: UTF-8 text addressed by character positions.
#include <atomic>
#include <climits>
#include <cstdarg>
#include <cstdio>
#include <cstring>
#include <cwchar>
#include <mutex>
#include <ostream>

#include "platform/types/zr.h"
#include "platform/types/zr_reflect.h"
#include "platform/types/zr_utf8.h"

namespace {

// Guards the lazy wide forms, which const callers on several threads may ask
// for at once.
std::mutex& WideMutex() {
  static std::mutex m;
  return m;
}

bool IsScalar(uint32_t cp) { return cp < 0xD800 || (cp > 0xDFFF && cp <= 0x10FFFF); }

template <class Unit>
size_t UnitsUpToNul(const Unit* text) {
  size_t n = 0;
  while (text[n] != 0) ++n;
  return n;
}

}  // namespace

ZR_TString::ZR_TString(const char* text, uint32_t len) {
  if (text == nullptr) return;
  utf8_.assign(text, len == kWhole ? std::strlen(text) : len);
}

ZR_TString::ZR_TString(const wchar_t* text, uint32_t len) {
  if (text == nullptr) return;
  const size_t n = len == kWhole ? UnitsUpToNul(text) : len;
  utf8_.reserve(n);
  for (size_t i = 0; i < n; ++i) {
    const auto cp = static_cast<uint32_t>(text[i]);
    zr_utf8::Append(utf8_, IsScalar(cp) ? cp : zr_utf8::kReplacement);
  }
}

ZR_TString::ZR_TString(const char16_t* text, uint32_t len) {
  if (text == nullptr) return;
  const size_t n = len == kWhole ? UnitsUpToNul(text) : len;
  utf8_.reserve(n);
  for (size_t i = 0; i < n; ++i) {
    const char32_t u = text[i];
    if (u < 0x80) {  // most text: one byte, no call
      utf8_.push_back(static_cast<char>(u));
      continue;
    }
    if (u >= 0xD800 && u <= 0xDBFF && i + 1 < n && text[i + 1] >= 0xDC00 && text[i + 1] <= 0xDFFF) {
      zr_utf8::Append(utf8_, 0x10000 + ((u - 0xD800) << 10) + (text[i + 1] - 0xDC00));
      ++i;
    } else if (u >= 0xD800 && u <= 0xDFFF) {
      zr_utf8::Append(utf8_, zr_utf8::kReplacement);  // unpaired surrogate
    } else {
      zr_utf8::Append(utf8_, u);
    }
  }
}

ZR_TString::ZR_TString(std::string utf8) : utf8_(std::move(utf8)) {}

// The wide forms belong to the source object; the copy makes its own.
ZR_TString::ZR_TString(const ZR_TString& other)
    : ZR_TObject(other), utf8_(other.utf8_), length_(std::atomic_ref(other.length_).load()) {}

ZR_TString::ZR_TString(ZR_TString&& other) noexcept
    : ZR_TObject(other),
      utf8_(std::move(other.utf8_)),
      length_(other.length_),
      wide_(std::move(other.wide_)),
      utf16_(std::move(other.utf16_)) {
  other.utf8_.clear();
  other.length_ = 0;
}

ZR_TString& ZR_TString::operator=(const ZR_TString& other) {
  if (this != &other) {
    utf8_ = other.utf8_;
    length_ = std::atomic_ref(other.length_).load();
    wide_.reset();
    utf16_.reset();
  }
  return *this;
}

ZR_TString& ZR_TString::operator=(ZR_TString&& other) noexcept {
  if (this != &other) {
    utf8_ = std::move(other.utf8_);
    length_ = other.length_;
    wide_ = std::move(other.wide_);
    utf16_ = std::move(other.utf16_);
    other.utf8_.clear();
    other.length_ = 0;
  }
  return *this;
}

ZR_TString ZR_TString::Format(const char* format, ...) {
  if (format == nullptr) throw ZR_EException("ZR_TString::Format: null format");
  va_list args;
  va_start(args, format);
  va_list again;
  va_copy(again, args);
  char small[256];
  const int needed = std::vsnprintf(small, sizeof small, format, args);
  va_end(args);
  if (needed < 0) {
    va_end(again);
    throw ZR_EException(std::string("ZR_TString::Format: cannot format \"") + format + "\"");
  }
  std::string out;
  if (static_cast<size_t>(needed) < sizeof small) {
    out.assign(small, static_cast<size_t>(needed));
  } else {
    // Too long for the first buffer: format again into one of the right size.
    out.resize(static_cast<size_t>(needed));
    std::vsnprintf(out.data(), out.size() + 1, format, again);
  }
  va_end(again);
  return ZR_TString(std::move(out));
}

ZR_TString ZR_TString::operator+(const ZR_TString& other) const {
  std::string joined;
  joined.reserve(utf8_.size() + other.utf8_.size());
  joined.append(utf8_).append(other.utf8_);
  return ZR_TString(std::move(joined));
}

ZR_TString& ZR_TString::operator+=(const ZR_TString& other) {
  utf8_.append(other.utf8_);  // safe when other is *this
  length_ = -1;
  wide_.reset();
  utf16_.reset();
  return *this;
}

bool ZR_TString::operator==(const char* text) const {
  return utf8_ == std::string_view(text ? text : "");
}

bool ZR_TString::operator==(const ZR_TString& other) const { return utf8_ == other.utf8_; }

int32_t ZR_TString::Length() const {
  std::atomic_ref<int32_t> cached(length_);
  int32_t n = cached.load(std::memory_order_relaxed);
  if (n < 0) {
    const size_t chars = zr_utf8::CountChars(utf8_);
    n = chars > INT32_MAX ? INT32_MAX : static_cast<int32_t>(chars);
    cached.store(n, std::memory_order_relaxed);
  }
  return n;
}

ZR_TString ZR_TString::SubString(uint32_t start, uint32_t count) const {
  const size_t size = utf8_.size();
  // When every character is one byte, positions are byte offsets.
  if (static_cast<size_t>(Length()) == size) {
    if (start >= size) return ZR_TString();
    return ZR_TString(utf8_.substr(start, count == kWhole ? std::string::npos : count));
  }
  size_t skipped = 0;
  const size_t from = zr_utf8::Advance(utf8_, 0, start, &skipped);
  if (skipped < start || from >= size) return ZR_TString();
  const size_t to = count == kWhole ? size : zr_utf8::Advance(utf8_, from, count, nullptr);
  return ZR_TString(utf8_.substr(from, to - from));
}

int32_t ZR_TString::Find(char c, int32_t start, int flags) const {
  if (flags != 0) throw ZR_EException("ZR_TString::Find: unsupported flags " + std::to_string(flags));
  if (start < 0) start = 0;
  const int32_t length = Length();
  if (start >= length) return -1;
  const auto uc = static_cast<unsigned char>(c);
  if (static_cast<size_t>(length) == utf8_.size()) {
    const void* hit = std::memchr(utf8_.data() + start, uc, utf8_.size() - start);
    return hit ? static_cast<int32_t>(static_cast<const char*>(hit) - utf8_.data()) : -1;
  }
  // A byte below 0x80 is always a character of its own; a higher byte matches
  // only where it stands alone as an invalid byte.
  size_t i = zr_utf8::Advance(utf8_, 0, static_cast<size_t>(start), nullptr);
  const char32_t wanted = uc < 0x80 ? char32_t(uc) : zr_utf8::kInvalidBase + uc;
  for (int32_t pos = start; i < utf8_.size(); ++pos)
    if (zr_utf8::Next(utf8_, i) == wanted) return pos;
  return -1;
}

const wchar_t* ZR_TString::WideText() const {
  std::lock_guard lock(WideMutex());
  if (!wide_) {
    auto wide = std::make_unique<std::wstring>();
    wide->reserve(utf8_.size());
    for (size_t i = 0; i < utf8_.size();) {
      const char32_t cp = zr_utf8::Next(utf8_, i);
      wide->push_back(static_cast<wchar_t>(cp >= zr_utf8::kInvalidBase ? zr_utf8::kReplacement : cp));
    }
    wide_ = std::move(wide);
  }
  return wide_->c_str();
}

std::u16string ZR_TString::ToUtf16() const {
  std::u16string out;
  out.reserve(utf8_.size());
  for (size_t i = 0; i < utf8_.size();) {
    char32_t cp = zr_utf8::Next(utf8_, i);
    if (cp >= zr_utf8::kInvalidBase) cp = zr_utf8::kReplacement;
    if (cp >= 0x10000) {
      cp -= 0x10000;
      out.push_back(static_cast<char16_t>(0xD800 + (cp >> 10)));
      out.push_back(static_cast<char16_t>(0xDC00 + (cp & 0x3FF)));
    } else {
      out.push_back(static_cast<char16_t>(cp));
    }
  }
  return out;
}

const char16_t* ZR_TString::Utf16Text() const {
  std::lock_guard lock(WideMutex());
  if (!utf16_) utf16_ = std::make_unique<std::u16string>(ToUtf16());
  return utf16_->c_str();
}

ZR_TAny ZR_TString::Pack() const { return ZR_TAny(*this); }

void ZR_TString::Print(std::ostream& out) const { out << utf8_; }

const void* ZR_TString::DynamicCast(const char* type_name) const {
  const char* wanted = type_name ? type_name : "(null type)";
  if (std::strcmp(wanted, "ZR_TString") == 0) return this;
  if (std::strcmp(wanted, "ZR_TChar") == 0) {
    if (utf8_.size() == 1) return utf8_.data();
    throw ZR_EException("expected ZR_TChar, found ZR_TString of " + std::to_string(utf8_.size()) +
                        " bytes");
  }
  throw ZR_EException(std::string("expected ") + wanted + ", found ZR_TString");
}

const ZR_TClass& ZR_TString::ZR_ClassObject() {
  static const ZR_TClass* cls = zr_reflect::Register<ZR_TString>(
      "ZR_TString", &ZR_TObject::ZR_ClassObject(), &zr_reflect::Make<ZR_TString>);
  return *cls;
}

void* ZR_TString::ZR_DynamicInfo(const char* name) const {
  bool found;
  void* own = zr_reflect::AnswerOwn(ZR_ClassObject(), name, this, found);
  return found ? own : ZR_TObject::ZR_DynamicInfo(name);
}
