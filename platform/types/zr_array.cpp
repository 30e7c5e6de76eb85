// ZR_TArray: a fixed or growing row of values with checked access.
#include <ostream>

#include "platform/types/zr.h"
#include "platform/types/zr_json_write.h"
#include "platform/types/zr_reflect.h"

namespace {

[[noreturn]] void OutOfRange(uint32_t index, size_t size) {
  throw ZR_EException("array index " + std::to_string(index) + " out of range (size " +
                      std::to_string(size) + ")");
}

}  // namespace

ZR_TAny& ZR_TArray::operator[](uint32_t index) {
  if (index >= items_.size()) OutOfRange(index, items_.size());
  return items_[index];
}

const ZR_TAny& ZR_TArray::operator[](uint32_t index) const {
  if (index >= items_.size()) OutOfRange(index, items_.size());
  return items_[index];
}

ZR_TAny ZR_TArray::Pack() const { return ZR_TAny(*this); }

void ZR_TArray::Print(std::ostream& out) const {
  std::string text;
  zr_json::Write(*this, text);
  out << text;
}

const ZR_TClass& ZR_TArray::ZR_ClassObject() {
  static const ZR_TClass* cls = zr_reflect::Register<ZR_TArray>(
      "ZR_TArray", &ZR_TObject::ZR_ClassObject(), &zr_reflect::Make<ZR_TArray>);
  return *cls;
}

void* ZR_TArray::ZR_DynamicInfo(const char* name) const {
  bool found;
  void* own = zr_reflect::AnswerOwn(ZR_ClassObject(), name, this, found);
  return found ? own : ZR_TObject::ZR_DynamicInfo(name);
}
