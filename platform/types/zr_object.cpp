// The reflection root: ZR_IInterface defaults and ZR_TObject.
#include <cstring>

#include "platform/types/zr.h"
#include "platform/types/zr_reflect.h"

ZR_IInterface::~ZR_IInterface() = default;

bool ZR_IInterface::HasInterface(const char* name) const {
  if (name == nullptr) return false;
  if (std::strcmp(name, "ZR_IInterface") == 0) return true;
  if (std::strcmp(name, "ZR_IPackable") == 0)
    return dynamic_cast<const ZR_IPackable*>(this) != nullptr;
  if (std::strcmp(name, "ZR_IPrintable") == 0)
    return dynamic_cast<const ZR_IPrintable*>(this) != nullptr;
  return false;
}

// A cast by name never yields the class descriptor.
void* ZR_IInterface::ZR_Cast(const char* name) const {
  return name == nullptr ? nullptr : ZR_DynamicInfo(name);
}

const ZR_TClass& ZR_TObject::ZR_ClassObject() {
  static const ZR_TClass* cls =
      zr_reflect::Register<ZR_TObject>("ZR_TObject", nullptr, &zr_reflect::Make<ZR_TObject>);
  return *cls;
}

void* ZR_TObject::SelfAddress() { return dynamic_cast<void*>(this); }

void* ZR_TObject::ZR_DynamicInfo(const char* name) const {
  bool found;
  void* own = zr_reflect::AnswerOwn(ZR_ClassObject(), name, static_cast<const ZR_TObject*>(this),
                                    found);
  if (found) return own;
  if (std::strcmp(name, "ZR_IInterface") == 0)
    return const_cast<ZR_IInterface*>(static_cast<const ZR_IInterface*>(this));
  return nullptr;
}

const ZR_TClass& ZR_TObject::ClassObject() const {
  return *static_cast<const ZR_TClass*>(ZR_DynamicInfo(nullptr));
}

const char* ZR_TObject::ClassName() const { return ClassObject().name; }

// True for the proper superclasses of the object's class, not the class itself.
bool ZR_TObject::HasSuperclass(const char* name) const {
  const ZR_TClass* super = ClassObject().Superclass();
  return super != nullptr && super->IsKindOf(name);
}

const void* ZR_TObject::DynamicCast(const char* type_name) const {
  if (type_name != nullptr) {
    if (const void* p = ZR_DynamicInfo(type_name)) return p;
  }
  throw ZR_EException(std::string("object of class ") + ClassName() + " is not a " +
                      (type_name ? type_name : "(null type)"));
}
