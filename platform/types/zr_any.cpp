// ZR_TAny: a value of any framework type, or nothing.
#include <cstring>
#include <ostream>

#include "platform/types/zr.h"
#include "platform/types/zr_json_write.h"
#include "platform/types/zr_reflect.h"

ZR_TAny::ZR_TAny() = default;
ZR_TAny::ZR_TAny(bool value) : value_(value) {}
ZR_TAny::ZR_TAny(int64_t value) : value_(value) {}
ZR_TAny::ZR_TAny(double value) : value_(value) {}
ZR_TAny::ZR_TAny(const char* utf8) : value_(ZR_TString(utf8)) {}
ZR_TAny::ZR_TAny(const wchar_t* text) : value_(ZR_TString(text)) {}
ZR_TAny::ZR_TAny(const char16_t* text) : value_(ZR_TString(text)) {}
ZR_TAny::ZR_TAny(const ZR_TString& value) : value_(value) {}
ZR_TAny::ZR_TAny(ZR_TString&& value) : value_(std::move(value)) {}
ZR_TAny::ZR_TAny(const ZR_TDict& value) : value_(std::make_unique<ZR_TDict>(value)) {}
ZR_TAny::ZR_TAny(ZR_TDict&& value) : value_(std::make_unique<ZR_TDict>(std::move(value))) {}
ZR_TAny::ZR_TAny(const ZR_TArray& value) : value_(std::make_unique<ZR_TArray>(value)) {}
ZR_TAny::ZR_TAny(ZR_TArray&& value) : value_(std::make_unique<ZR_TArray>(std::move(value))) {}
ZR_TAny::ZR_TAny(ZR_TJsonText&& value) : value_(std::move(value)) {}
ZR_TAny::ZR_TAny(const ZR_IPackable& value) : ZR_TAny(value.Pack()) {}

ZR_TAny::ZR_TAny(const ZR_TAny& other) : ZR_TObject(other) {
  switch (other.value_.index()) {
    case 5: value_ = std::make_unique<ZR_TDict>(*std::get<5>(other.value_)); break;
    case 6: value_ = std::make_unique<ZR_TArray>(*std::get<6>(other.value_)); break;
    default:
      std::visit(
          [this](const auto& v) {
            using V = std::decay_t<decltype(v)>;
            if constexpr (std::is_copy_constructible_v<V>) value_ = v;
          },
          other.value_);
  }
}

ZR_TAny::ZR_TAny(ZR_TAny&& other) noexcept : ZR_TObject(other), value_(std::move(other.value_)) {
  other.value_ = std::monostate{};
}

ZR_TAny& ZR_TAny::operator=(const ZR_TAny& other) {
  if (this != &other) {
    ZR_TAny copy(other);  // other may live inside this value
    value_ = std::move(copy.value_);
  }
  return *this;
}

ZR_TAny& ZR_TAny::operator=(ZR_TAny&& other) noexcept {
  if (this != &other) {
    Value taken = std::move(other.value_);  // other may live inside this value
    other.value_ = std::monostate{};
    value_ = std::move(taken);
  }
  return *this;
}

ZR_TAny& ZR_TAny::operator=(const ZR_IPackable& value) { return *this = value.Pack(); }

ZR_TAny& ZR_TAny::operator=(ZR_TString&& value) {
  ZR_TString taken(std::move(value));
  value_ = std::move(taken);
  return *this;
}

ZR_TAny& ZR_TAny::operator=(ZR_TDict&& value) {
  value_ = std::make_unique<ZR_TDict>(std::move(value));
  return *this;
}

ZR_TAny& ZR_TAny::operator=(ZR_TArray&& value) {
  value_ = std::make_unique<ZR_TArray>(std::move(value));
  return *this;
}

ZR_TAny::~ZR_TAny() = default;

ZR_TAny::Kind ZR_TAny::GetKind() const { return static_cast<Kind>(value_.index()); }

const char* ZR_TAny::KindName() const {
  static const char* const kNames[] = {"null",     "bool",      "integer",  "double",
                                       "ZR_TString", "ZR_TDict", "ZR_TArray", "JSON text"};
  return kNames[value_.index()];
}

const bool* ZR_TAny::AsBool() const { return std::get_if<bool>(&value_); }
const int64_t* ZR_TAny::AsInt() const { return std::get_if<int64_t>(&value_); }
const double* ZR_TAny::AsDouble() const { return std::get_if<double>(&value_); }
const ZR_TString* ZR_TAny::AsString() const { return std::get_if<ZR_TString>(&value_); }

const ZR_TDict* ZR_TAny::AsDict() const {
  auto* p = std::get_if<std::unique_ptr<ZR_TDict>>(&value_);
  return p ? p->get() : nullptr;
}
ZR_TDict* ZR_TAny::AsDict() {
  auto* p = std::get_if<std::unique_ptr<ZR_TDict>>(&value_);
  return p ? p->get() : nullptr;
}
const ZR_TArray* ZR_TAny::AsArray() const {
  auto* p = std::get_if<std::unique_ptr<ZR_TArray>>(&value_);
  return p ? p->get() : nullptr;
}
ZR_TArray* ZR_TAny::AsArray() {
  auto* p = std::get_if<std::unique_ptr<ZR_TArray>>(&value_);
  return p ? p->get() : nullptr;
}

const ZR_TJsonText* ZR_TAny::AsJson() const { return std::get_if<ZR_TJsonText>(&value_); }
ZR_TJsonText* ZR_TAny::AsJson() { return std::get_if<ZR_TJsonText>(&value_); }

// Written afresh on every call: a held dictionary or array may have been
// changed through AsDict()/AsArray() since the last call.
const char* ZR_TAny::Text() const {
  if (const ZR_TString* s = AsString()) return s->c_str();
  text_.clear();
  zr_json::Write(*this, text_);
  return text_.c_str();
}

namespace {

[[noreturn]] void CastFailure(const char* key, const char* wanted, const std::string& found) {
  std::string message;
  if (key != nullptr) message.append("parameter \"").append(key).append("\": ");
  message.append("expected ").append(wanted).append(", found ").append(found);
  throw ZR_EException(std::move(message));
}

}  // namespace

const void* ZR_TAny::CastAs(const char* type_name, const char* key) const {
  const char* wanted = type_name ? type_name : "(null type)";
  const int64_t* i = AsInt();
  const ZR_TString* s = AsString();
  if (std::strcmp(wanted, "ZR_TString") == 0) {
    if (s) return s;
  } else if (std::strcmp(wanted, "ZR_TInt32") == 0) {
    if (i) {
      if (*i < INT32_MIN || *i > INT32_MAX)
        CastFailure(key, wanted, "integer " + std::to_string(*i) + " (out of range)");
      cast_.i32 = static_cast<int32_t>(*i);
      return &cast_.i32;
    }
  } else if (std::strcmp(wanted, "ZR_TUInt32") == 0) {
    if (i) {
      if (*i < 0 || *i > int64_t{UINT32_MAX})
        CastFailure(key, wanted, "integer " + std::to_string(*i) + " (out of range)");
      cast_.u32 = static_cast<uint32_t>(*i);
      return &cast_.u32;
    }
  } else if (std::strcmp(wanted, "ZR_TChar") == 0) {
    if (s) {
      if (s->ByteLength() != 1)
        CastFailure(key, wanted, "ZR_TString of " + std::to_string(s->ByteLength()) + " bytes");
      cast_.ch = s->c_str()[0];
      return &cast_.ch;
    }
  }
  CastFailure(key, wanted, KindName());
}

const void* ZR_TAny::DynamicCast(const char* type_name) const { return CastAs(type_name, nullptr); }

ZR_TAny ZR_TAny::Pack() const { return *this; }

void ZR_TAny::Print(std::ostream& out) const { out << Text(); }

const ZR_TClass& ZR_TAny::ZR_ClassObject() {
  static const ZR_TClass* cls = zr_reflect::Register<ZR_TAny>(
      "ZR_TAny", &ZR_TObject::ZR_ClassObject(), &zr_reflect::Make<ZR_TAny>);
  return *cls;
}

void* ZR_TAny::ZR_DynamicInfo(const char* name) const {
  bool found;
  void* own = zr_reflect::AnswerOwn(ZR_ClassObject(), name, this, found);
  return found ? own : ZR_TObject::ZR_DynamicInfo(name);
}
