// Shared steps of ZR_DynamicInfo for the framework's own classes.
#pragma once

#include <cstring>

#include "platform/types/zr.h"

namespace zr_reflect {

// Registers (on first use) a framework class whose superclass is given.
template <class T>
ZR_TClass* Register(const char* name, const ZR_TClass* super, ZR_TClass::Factory factory) {
  return ZR_TClass::GetClassObject(false, name, sizeof(T), super, factory, nullptr);
}

template <class T>
ZR_TObject* Make() {
  return new T();
}

// The answer of a class for its own part of ZR_DynamicInfo: the descriptor
// for a null name (marking it), self for its own name. found is false when
// the question is for a base to answer.
inline void* AnswerOwn(const ZR_TClass& cls, const char* name, const void* self, bool& found) {
  found = true;
  if (name == nullptr) {
    // Descriptors are only made by the registry, never const objects.
    auto& mutable_cls = const_cast<ZR_TClass&>(cls);
    mutable_cls.flag.store(true, std::memory_order_relaxed);
    return &mutable_cls;
  }
  if (std::strcmp(name, cls.name) == 0) return const_cast<void*>(self);
  found = false;
  return nullptr;
}

}  // namespace zr_reflect
