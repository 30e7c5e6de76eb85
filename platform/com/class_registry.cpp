// The class registry behind CoCreateInstance and CLSIDFromProgID. Classes
// may be registered from any thread (and from static initialisers), so the
// table is built on first use and guarded by a reader-writer lock.
#include <map>
#include <mutex>
#include <optional>
#include <shared_mutex>
#include <string>
#include <tuple>

#include "platform/com/com.h"

namespace {

struct GuidLess {
  bool operator()(const GUID& a, const GUID& b) const {
    auto key = [](const GUID& g) {
      uint64_t d4 = 0;
      for (uint8_t byte : g.Data4) d4 = (d4 << 8) | byte;
      return std::make_tuple(g.Data1, g.Data2, g.Data3, d4);
    };
    return key(a) < key(b);
  }
};

struct ClassEntry {
  std::optional<std::u16string> prog_id;
  ComFactory factory;
};

struct Registry {
  std::shared_mutex mutex;
  std::map<CLSID, ClassEntry, GuidLess> classes;
};

Registry& TheRegistry() {
  static Registry registry;
  return registry;
}

}  // namespace

void ComRegisterClass(REFCLSID clsid, const char16_t* prog_id, ComFactory factory) {
  Registry& r = TheRegistry();
  std::unique_lock lock(r.mutex);
  if (factory == nullptr) {
    r.classes.erase(clsid);
    return;
  }
  ClassEntry entry{std::nullopt, factory};
  if (prog_id != nullptr) entry.prog_id = prog_id;
  r.classes[clsid] = std::move(entry);
}

ComFactory ComFindClass(REFCLSID clsid) {
  Registry& r = TheRegistry();
  std::shared_lock lock(r.mutex);
  auto it = r.classes.find(clsid);
  return it == r.classes.end() ? nullptr : it->second.factory;
}

HRESULT CoCreateInstance(REFCLSID clsid, IUnknown* outer, DWORD context, REFIID riid,
                         void** out) {
  if (out == nullptr) return E_POINTER;
  *out = nullptr;
  if (CoInitializeCount() == 0) return CO_E_NOTINITIALIZED;
  if (outer != nullptr) return CLASS_E_NOAGGREGATION;
  if ((context & CLSCTX_ALL) == 0) return E_INVALIDARG;
  // Called outside the lock: a factory may itself look up classes.
  ComFactory factory = ComFindClass(clsid);
  if (factory == nullptr) return REGDB_E_CLASSNOTREG;
  HRESULT hr = factory(riid, out);
  if (FAILED(hr)) *out = nullptr;
  return hr;
}

// Every object here runs in-process and is running once it exists.
HRESULT OleRun(IUnknown* object) { return object == nullptr ? E_INVALIDARG : S_OK; }

HRESULT CLSIDFromProgID(const OLECHAR* prog_id, CLSID* clsid) {
  if (clsid == nullptr) return E_INVALIDARG;
  if (prog_id == nullptr) return CO_E_CLASSSTRING;
  std::u16string name(prog_id);
  Registry& r = TheRegistry();
  std::shared_lock lock(r.mutex);
  for (const auto& [id, entry] : r.classes) {
    if (entry.prog_id && *entry.prog_id == name) {
      *clsid = id;
      return S_OK;
    }
  }
  return CO_E_CLASSSTRING;
}
