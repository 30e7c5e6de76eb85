// Registration of the creatable classes with the COM class registry.
#include <mutex>
#include <new>

#include "platform/ado/ado.h"
#include "platform/ado/connection.h"
#include "platform/ado/recordset.h"

namespace {

template <class T>
HRESULT Create(REFIID riid, void** out) {
  if (out == nullptr) return E_POINTER;
  *out = nullptr;
  T* object = new (std::nothrow) T();
  if (object == nullptr) return E_OUTOFMEMORY;
  const HRESULT hr = object->QueryInterface(riid, out);
  object->Release();  // the creator's reference; QueryInterface took its own
  return hr;
}

}  // namespace

void AdoRegisterClasses() {
  static std::once_flag once;
  std::call_once(once, [] {
    ComRegisterClass(CLSID_Connection, u"ADODB.Connection", &Create<zado::AdoConnection>);
    ComRegisterClass(CLSID_Recordset, u"ADODB.Recordset", &Create<zado::AdoRecordset>);
  });
}
