#include <ostream>

#include "platform/types/zr.h"
#include "platform/types/zr_reflect.h"

ZR_EException::ZR_EException(std::string message) : message_(std::move(message)) {}

void ZR_EException::Print(std::ostream& out) const { out << "ZR_EException: " << message_; }

// No factory: an exception without a message means nothing.
const ZR_TClass& ZR_EException::ZR_ClassObject() {
  static const ZR_TClass* cls = zr_reflect::Register<ZR_EException>(
      "ZR_EException", &ZR_TObject::ZR_ClassObject(), nullptr);
  return *cls;
}

void* ZR_EException::ZR_DynamicInfo(const char* name) const {
  bool found;
  void* own = zr_reflect::AnswerOwn(ZR_ClassObject(), name, this, found);
  return found ? own : ZR_TObject::ZR_DynamicInfo(name);
}

std::ostream& operator<<(std::ostream& out, const ZR_IPrintable& p) {
  p.Print(out);
  return out;
}
