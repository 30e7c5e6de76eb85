// ZR_TDict: string keys in insertion order.
#include <ostream>
#include <string_view>

#include "platform/types/zr.h"
#include "platform/types/zr_json_write.h"
#include "platform/types/zr_reflect.h"

namespace {

std::string_view KeyView(const char* key) { return key ? std::string_view(key) : std::string_view(); }

}  // namespace

ZR_TDict& ZR_TDict::Add(const char* key, ZR_TAny value) { return Add(ZR_TString(key), std::move(value)); }
ZR_TDict& ZR_TDict::Add(const wchar_t* key, ZR_TAny value) { return Add(ZR_TString(key), std::move(value)); }
ZR_TDict& ZR_TDict::Add(const char16_t* key, ZR_TAny value) { return Add(ZR_TString(key), std::move(value)); }

const ZR_TDict::Entry* ZR_TDict::FindEntry(std::string_view key) const {
  if (index_.empty()) {
    for (const Entry& e : entries_)
      if (e.key.Utf8() == key) return &e;
    return nullptr;
  }
  auto [first, last] = index_.equal_range(std::hash<std::string_view>{}(key));
  for (auto it = first; it != last; ++it)
    if (entries_[it->second].key.Utf8() == key) return &entries_[it->second];
  return nullptr;
}

ZR_TDict::Entry* ZR_TDict::FindEntry(std::string_view key) {
  return const_cast<Entry*>(static_cast<const ZR_TDict*>(this)->FindEntry(key));
}

ZR_TDict& ZR_TDict::Add(const ZR_TString& key, ZR_TAny value) {
  if (Entry* e = FindEntry(key.Utf8())) {
    e->value = std::move(value);
    return *this;
  }
  entries_.push_back(Entry{key, std::move(value)});
  const std::hash<std::string_view> hash;
  if (!index_.empty()) {
    index_.emplace(hash(key.Utf8()), entries_.size() - 1);
  } else if (entries_.size() >= kIndexFrom) {
    for (size_t i = 0; i < entries_.size(); ++i) index_.emplace(hash(entries_[i].key.Utf8()), i);
  }
  return *this;
}

const ZR_TAny* ZR_TDict::Find(const char* key) const {
  const Entry* e = FindEntry(KeyView(key));
  return e ? &e->value : nullptr;
}

bool ZR_TDict::Has(const char* key) const { return Find(key) != nullptr; }

ZR_TEntry ZR_TDict::Item(const char* key) const {
  const ZR_TAny* value = Find(key);
  if (value == nullptr) throw ZR_EException("missing parameter \"" + std::string(KeyView(key)) + "\"");
  return ZR_TEntry(key ? key : "", *value);
}

ZR_TAny ZR_TDict::Pack() const { return ZR_TAny(*this); }

void ZR_TDict::Print(std::ostream& out) const {
  std::string text;
  zr_json::Write(*this, text);
  out << text;
}

const ZR_TClass& ZR_TDict::ZR_ClassObject() {
  static const ZR_TClass* cls = zr_reflect::Register<ZR_TDict>(
      "ZR_TDict", &ZR_TObject::ZR_ClassObject(), &zr_reflect::Make<ZR_TDict>);
  return *cls;
}

void* ZR_TDict::ZR_DynamicInfo(const char* name) const {
  bool found;
  void* own = zr_reflect::AnswerOwn(ZR_ClassObject(), name, this, found);
  return found ? own : ZR_TObject::ZR_DynamicInfo(name);
}
