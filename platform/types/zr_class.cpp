// Process-wide registry of class descriptors. Descriptors and their names are
// never freed, so the references handed out stay valid until the process ends.
#include <cstring>
#include <map>
#include <memory>
#include <mutex>
#include <shared_mutex>
#include <string>
#include <string_view>

#include "platform/types/zr.h"

namespace {

struct Registry {
  std::shared_mutex mutex;
  // Map nodes do not move, so the key text can serve as the descriptor name.
  std::map<std::string, std::unique_ptr<ZR_TClass>, std::less<>> classes;
};

Registry& TheRegistry() {
  static Registry* registry = new Registry();  // deliberately leaked
  return *registry;
}

}  // namespace

ZR_TClass::ZR_TClass(bool first_flag, const char* class_name, unsigned int size,
                     const ZR_TClass* super, Factory factory, Predicate second)
    : name(class_name),
      first_flag_(first_flag),
      size_(size),
      super_(super),
      factory_(factory),
      second_(second) {}

ZR_TClass* ZR_TClass::GetClassObject(bool first_flag, const char* class_name,
                                     unsigned int instance_size, const ZR_TClass* superclass,
                                     Factory factory, Predicate second) {
  if (class_name == nullptr) throw ZR_EException("class registration without a class name");
  Registry& reg = TheRegistry();
  const std::string_view key(class_name);
  {
    std::shared_lock lock(reg.mutex);
    auto it = reg.classes.find(key);
    if (it != reg.classes.end()) return it->second.get();
  }
  std::unique_lock lock(reg.mutex);
  auto [it, inserted] = reg.classes.try_emplace(std::string(key));
  if (inserted) {
    it->second = std::make_unique<ZR_TClass>(first_flag, it->first.c_str(), instance_size,
                                             superclass, factory, second);
  }
  return it->second.get();
}

const ZR_TClass* ZR_TClass::Find(const char* class_name) {
  if (class_name == nullptr) return nullptr;
  Registry& reg = TheRegistry();
  std::shared_lock lock(reg.mutex);
  auto it = reg.classes.find(std::string_view(class_name));
  return it == reg.classes.end() ? nullptr : it->second.get();
}

ZR_TObject* ZR_TClass::NewInstance() const { return factory_ ? factory_() : nullptr; }

bool ZR_TClass::IsKindOf(const char* class_name) const {
  if (class_name == nullptr) return false;
  for (const ZR_TClass* c = this; c != nullptr; c = c->super_)
    if (c->name != nullptr && std::strcmp(c->name, class_name) == 0) return true;
  return false;
}
