// Type framework: objects with run-time class information, and the values
// that travel in requests and replies (text, dictionary, array, any).
//
// Text is UTF-8. Positions, counts and lengths of ZR_TString count Unicode
// code points, so a cut never splits a character. A byte that is not part of
// valid UTF-8 counts as one character of its own.
#pragma once

#include <atomic>
#include <cstdint>
#include <exception>
#include <iosfwd>
#include <memory>
#include <string>
#include <string_view>
#include <unordered_map>
#include <utility>
#include <variant>
#include <vector>

class ZR_TClass;
class ZR_TObject;
class ZR_TAny;
class ZR_TDict;
class ZR_TArray;

// ---------------------------------------------------------------------------
// Reflection. The virtual operations are declared in this order on purpose:
// it is the order every class of the framework fills them in.
class ZR_IInterface {
 public:
  // Address of the complete object.
  virtual void* SelfAddress() = 0;
  // Null name: the class descriptor. A class name this object is (or derives
  // from): the object's address in that class. Anything else: null.
  virtual void* ZR_DynamicInfo(const char* name) const = 0;
  virtual const ZR_TClass& ClassObject() const = 0;
  virtual const char* ClassName() const = 0;
  virtual bool HasSuperclass(const char* name) const = 0;
  virtual bool HasInterface(const char* name) const;
  virtual ~ZR_IInterface();
  virtual void* ZR_Cast(const char* name) const;
};

// Objects that print themselves (the first operation takes the stream).
class ZR_IPrintable {
 public:
  virtual void Print(std::ostream& out) const = 0;
  virtual ~ZR_IPrintable() = default;
};

// Values that can be held by a ZR_TAny and so travel in a request or reply.
class ZR_IPackable {
 public:
  virtual ZR_TAny Pack() const = 0;  // a copy of this value, held
  virtual ~ZR_IPackable() = default;
};

class ZR_TObject : public virtual ZR_IInterface {
 public:
  ZR_TObject() = default;
  ZR_TObject(const ZR_TObject&) = default;
  ZR_TObject& operator=(const ZR_TObject&) = default;
  ~ZR_TObject() override = default;

  void* SelfAddress() override;
  void* ZR_DynamicInfo(const char* name) const override;
  const ZR_TClass& ClassObject() const override;
  const char* ClassName() const override;
  bool HasSuperclass(const char* name) const override;

  // The value of this object in the named framework type. Objects that are
  // not values answer for their own class names. Throws ZR_EException when
  // the object does not hold that type.
  virtual const void* DynamicCast(const char* type_name) const;

  static const ZR_TClass& ZR_ClassObject();
};

// Class descriptor, kept by the registry for the life of the process.
// The first two members are read by the classes that register themselves.
class ZR_TClass {
 public:
  using Factory = ZR_TObject* (*)();
  using Predicate = bool (*)();

  std::atomic<bool> flag{false};  // set by ZR_DynamicInfo(nullptr)
  const char* name;               // class name, owned by the registry

  // Registers the class on the first call for a name and returns the same
  // descriptor on every later call (the arguments of later calls are not
  // looked at). Thread-safe. Throws ZR_EException for a null name.
  static ZR_TClass* GetClassObject(bool first_flag, const char* class_name,
                                   unsigned int instance_size,
                                   const ZR_TClass* superclass, Factory factory,
                                   Predicate second);
  // The descriptor registered under a name, or null.
  static const ZR_TClass* Find(const char* class_name);

  bool FirstFlag() const { return first_flag_; }
  unsigned int InstanceSize() const { return size_; }
  const ZR_TClass* Superclass() const { return super_; }
  Factory GetFactory() const { return factory_; }
  Predicate SecondFunction() const { return second_; }
  // A new object from the factory, or null when there is none.
  ZR_TObject* NewInstance() const;
  // True when this class or one of its superclasses has that name.
  bool IsKindOf(const char* class_name) const;

  ZR_TClass(bool first_flag, const char* class_name, unsigned int size,
            const ZR_TClass* super, Factory factory, Predicate second);
  ZR_TClass(const ZR_TClass&) = delete;
  ZR_TClass& operator=(const ZR_TClass&) = delete;

 private:
  bool first_flag_;
  unsigned int size_;
  const ZR_TClass* super_;
  Factory factory_;
  Predicate second_;
};

// ---------------------------------------------------------------------------
class ZR_EException : public ZR_TObject, public ZR_IPrintable, public std::exception {
 public:
  explicit ZR_EException(std::string message);
  ZR_EException(const ZR_EException&) = default;
  ZR_EException& operator=(const ZR_EException&) = default;
  ~ZR_EException() override = default;

  // "ZR_EException: <message>"
  void Print(std::ostream& out) const override;
  const std::string& Message() const { return message_; }
  const char* what() const noexcept override { return message_.c_str(); }

  void* ZR_DynamicInfo(const char* name) const override;
  static const ZR_TClass& ZR_ClassObject();

 private:
  std::string message_;
};

std::ostream& operator<<(std::ostream& out, const ZR_IPrintable& p);

// ---------------------------------------------------------------------------
class ZR_TString : public ZR_TObject, public ZR_IPackable, public ZR_IPrintable {
 public:
  static constexpr uint32_t kWhole = 0xFFFFFFFFu;  // "up to the NUL" / "to the end"

  ZR_TString() = default;
  // len: bytes (narrow), wchar_t units (UTF-32) or char16_t units (UTF-16);
  // kWhole takes the text up to its terminating NUL. A null pointer is the
  // empty text. Invalid UTF-16/UTF-32 becomes U+FFFD.
  ZR_TString(const char* text, uint32_t len = kWhole);
  ZR_TString(const wchar_t* text, uint32_t len = kWhole);
  ZR_TString(const char16_t* text, uint32_t len = kWhole);
  explicit ZR_TString(std::string utf8);
  ZR_TString(const ZR_TString& other);
  ZR_TString(ZR_TString&& other) noexcept;
  ZR_TString& operator=(const ZR_TString& other);
  ZR_TString& operator=(ZR_TString&& other) noexcept;
  ~ZR_TString() override = default;

  // printf rules; the result is never cut.
  static ZR_TString Format(const char* format, ...) __attribute__((format(printf, 1, 2)));

  ZR_TString operator+(const ZR_TString& other) const;
  ZR_TString& operator+=(const ZR_TString& other);
  bool operator==(const char* text) const;  // exact, letter case matters
  bool operator==(const ZR_TString& other) const;

  // Wildcard match: '*' any run (the empty run too), '?' one character.
  // ignore_case true compares letters without regard to case.
  bool Match(const ZR_TString& pattern, bool ignore_case) const;

  // start and count in characters; a start past the end gives the empty
  // text, a count past the end (kWhole included) stops at the end.
  ZR_TString SubString(uint32_t start, uint32_t count) const;
  // Position of the first c at or after start, -1 when there is none or
  // start is past the end (a negative start counts as 0). flags: 0.
  int32_t Find(char c, int32_t start, int flags = 0) const;
  int32_t Length() const;  // characters

  const char* c_str() const { return utf8_.c_str(); }
  const std::string& Utf8() const { return utf8_; }
  size_t ByteLength() const { return utf8_.size(); }
  bool IsEmpty() const { return utf8_.empty(); }
  // Wide forms, made on first use; valid while the string lives unchanged.
  const wchar_t* WideText() const;    // UTF-32
  const char16_t* Utf16Text() const;  // UTF-16, the form of a BSTR
  std::u16string ToUtf16() const;

  ZR_TAny Pack() const override;
  void Print(std::ostream& out) const override;
  const void* DynamicCast(const char* type_name) const override;
  void* ZR_DynamicInfo(const char* name) const override;
  static const ZR_TClass& ZR_ClassObject();

 private:
  std::string utf8_;
  mutable int32_t length_ = -1;  // characters, counted on first use
  mutable std::unique_ptr<std::wstring> wide_;
  mutable std::unique_ptr<std::u16string> utf16_;
};

// ---------------------------------------------------------------------------
// A value of any framework type, or nothing (JSON null).
// A value already in JSON form: one complete, valid JSON value (a builder
// such as ZR_JsonAppendString makes it so), held as parts written one after
// another. A ZR_TAny holding it is written out as it stands, which lets a
// command build a large reply straight in its final form instead of as a
// tree of values many times the text's size; parts let it grow without
// copying what it holds already.
class ZR_TJsonText {
 public:
  ZR_TJsonText() : parts_{"null"} {}
  explicit ZR_TJsonText(std::string json) { parts_.push_back(std::move(json)); }
  explicit ZR_TJsonText(std::vector<std::string> parts) : parts_(std::move(parts)) {}
  const std::vector<std::string>& Parts() const { return parts_; }
  // Hands the parts over (for a writer that moves them into its output).
  std::vector<std::string> TakeParts() { return std::move(parts_); }

 private:
  std::vector<std::string> parts_;
};

class ZR_TAny : public ZR_TObject, public ZR_IPackable, public ZR_IPrintable {
 public:
  enum class Kind { Empty, Bool, Int, Double, String, Dict, Array, Json };

  ZR_TAny();
  ZR_TAny(bool value);
  ZR_TAny(int value) : ZR_TAny(static_cast<int64_t>(value)) {}
  ZR_TAny(int64_t value);
  ZR_TAny(double value);
  ZR_TAny(const char* utf8);
  ZR_TAny(const wchar_t* text);
  ZR_TAny(const char16_t* text);
  ZR_TAny(const ZR_TString& value);
  ZR_TAny(ZR_TString&& value);
  ZR_TAny(const ZR_TDict& value);
  ZR_TAny(ZR_TDict&& value);
  ZR_TAny(const ZR_TArray& value);
  ZR_TAny(ZR_TArray&& value);
  ZR_TAny(ZR_TJsonText&& value);
  ZR_TAny(const ZR_IPackable& value);
  ZR_TAny(const ZR_TAny& other);
  ZR_TAny(ZR_TAny&& other) noexcept;
  ZR_TAny& operator=(const ZR_TAny& other);
  ZR_TAny& operator=(ZR_TAny&& other) noexcept;
  ZR_TAny& operator=(const ZR_IPackable& value);
  ZR_TAny& operator=(ZR_TString&& value);
  ZR_TAny& operator=(ZR_TDict&& value);
  ZR_TAny& operator=(ZR_TArray&& value);
  ~ZR_TAny() override;

  Kind GetKind() const;
  bool IsEmpty() const { return GetKind() == Kind::Empty; }
  // Name of the held type: "null", "bool", "integer", "double",
  // "ZR_TString", "ZR_TDict", "ZR_TArray", "JSON text".
  const char* KindName() const;

  // Typed access; null when the value holds another kind.
  const bool* AsBool() const;
  const int64_t* AsInt() const;
  const double* AsDouble() const;
  const ZR_TString* AsString() const;
  const ZR_TDict* AsDict() const;
  ZR_TDict* AsDict();
  const ZR_TArray* AsArray() const;
  ZR_TArray* AsArray();
  const ZR_TJsonText* AsJson() const;
  ZR_TJsonText* AsJson();

  // Text of the held value: a string as it is, anything else in its JSON
  // form. Valid while the value lives unchanged.
  const char* Text() const;

  // "ZR_TString": the held string. "ZR_TInt32": an integer in
  // [-2^31, 2^31-1], yields int32_t. "ZR_TUInt32": an integer in
  // [0, 2^32-1], yields uint32_t. "ZR_TChar": a string of exactly one byte,
  // yields char. Anything else throws ZR_EException naming the key, the type
  // asked for and the type found. The pointer is valid while this value
  // lives unchanged.
  const void* DynamicCast(const char* type_name) const override;
  const void* CastAs(const char* type_name, const char* key) const;

  ZR_TAny Pack() const override;
  void Print(std::ostream& out) const override;
  void* ZR_DynamicInfo(const char* name) const override;
  static const ZR_TClass& ZR_ClassObject();

 private:
  using Value = std::variant<std::monostate, bool, int64_t, double, ZR_TString,
                             std::unique_ptr<ZR_TDict>, std::unique_ptr<ZR_TArray>, ZR_TJsonText>;
  Value value_;
  mutable std::string text_;  // Text() of non-strings
  mutable union {
    int32_t i32;
    uint32_t u32;
    char ch;
  } cast_{};
};

// ---------------------------------------------------------------------------
// One entry looked up in a dictionary: knows its key, so a failed cast can
// name it.
class ZR_TEntry : public ZR_TObject {
 public:
  ZR_TEntry(const char* key, const ZR_TAny& value) : key_(key), value_(value) {}
  const ZR_TAny& Value() const { return value_; }
  const void* DynamicCast(const char* type_name) const override {
    return value_.CastAs(type_name, key_);
  }

 private:
  const char* key_;
  const ZR_TAny& value_;
};

// Dictionary with string keys, kept in insertion order. Adding a key that is
// present replaces its value in place. Past kIndexFrom entries a hash index
// keeps Add and Find constant-time (a large decoded object would otherwise
// cost a scan per key).
class ZR_TDict : public ZR_TObject, public ZR_IPackable, public ZR_IPrintable {
 public:
  struct Entry {
    ZR_TString key;
    ZR_TAny value;
  };

  ZR_TDict() = default;
  ZR_TDict(const ZR_TDict&) = default;
  ZR_TDict(ZR_TDict&&) noexcept = default;
  ZR_TDict& operator=(const ZR_TDict&) = default;
  ZR_TDict& operator=(ZR_TDict&&) noexcept = default;
  ~ZR_TDict() override = default;

  // A null key is the empty key.
  ZR_TDict& Add(const char* key, ZR_TAny value);
  ZR_TDict& Add(const wchar_t* key, ZR_TAny value);
  ZR_TDict& Add(const char16_t* key, ZR_TAny value);
  ZR_TDict& Add(const ZR_TString& key, ZR_TAny value);

  bool Has(const char* key) const;
  const ZR_TAny* Find(const char* key) const;  // null when absent
  // The entry; throws ZR_EException naming the key when it is absent.
  ZR_TEntry Item(const char* key) const;
  const ZR_TAny& operator[](const char* key) const { return Item(key).Value(); }

  size_t Size() const { return entries_.size(); }
  void Reserve(size_t n) { entries_.reserve(n); }
  const std::vector<Entry>& Entries() const { return entries_; }

  ZR_TAny Pack() const override;
  void Print(std::ostream& out) const override;
  void* ZR_DynamicInfo(const char* name) const override;
  static const ZR_TClass& ZR_ClassObject();

  static constexpr size_t kIndexFrom = 32;

 private:
  Entry* FindEntry(std::string_view key);
  const Entry* FindEntry(std::string_view key) const;

  std::vector<Entry> entries_;
  // Hash of a key -> its position in entries_; empty below kIndexFrom.
  std::unordered_multimap<size_t, size_t> index_;
};

// Array of n values; elements never set are empty (JSON null).
class ZR_TArray : public ZR_TObject, public ZR_IPackable, public ZR_IPrintable {
 public:
  explicit ZR_TArray(uint32_t n = 0) : items_(n) {}
  ZR_TArray(const ZR_TArray&) = default;
  ZR_TArray(ZR_TArray&&) noexcept = default;
  ZR_TArray& operator=(const ZR_TArray&) = default;
  ZR_TArray& operator=(ZR_TArray&&) noexcept = default;
  ~ZR_TArray() override = default;

  // Throws ZR_EException past the end.
  ZR_TAny& operator[](uint32_t index);
  const ZR_TAny& operator[](uint32_t index) const;
  uint32_t Size() const { return static_cast<uint32_t>(items_.size()); }
  void Append(ZR_TAny value) { items_.push_back(std::move(value)); }
  const std::vector<ZR_TAny>& Items() const { return items_; }

  ZR_TAny Pack() const override;
  void Print(std::ostream& out) const override;
  void* ZR_DynamicInfo(const char* name) const override;
  static const ZR_TClass& ZR_ClassObject();

 private:
  std::vector<ZR_TAny> items_;
};

// Fetch a request parameter: look the key up, then cast it to the named
// type. T is ZR_TString, int32_t, uint32_t or char.
template <class T>
const T& ZR_Fetch(const ZR_TDict& dict, const char* key, const char* type_name) {
  return *static_cast<const T*>(dict.Item(key).DynamicCast(type_name));
}
