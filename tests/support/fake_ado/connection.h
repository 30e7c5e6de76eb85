// A stand-in for Connection: it opens anything unless told to fail.
#pragma once

#include <string>
#include <vector>

#include "tests/support/fake_ado/errors.h"
#include "tests/support/fake_ado/object.h"

namespace fake {

class FakeConnection : public Object<_Connection> {
 public:
  explicit FakeConnection(Lifetime lifetime = Lifetime::kTestOwned)
      : Object<_Connection>(IID__Connection, lifetime) {}
  HRESULT get_ConnectionString(BSTR* out) override { *out = nullptr; return Call("GetConnectionString"); }
  HRESULT put_ConnectionString(BSTR text) override {
    texts.push_back(text ? std::u16string(text) : u"<null>");
    return Call("PutConnectionString");
  }
  HRESULT Open(BSTR cs, BSTR user, BSTR password, LONG options) override {
    for (BSTR t : {cs, user, password}) texts.push_back(t ? std::u16string(t) : u"<null>");
    open_options = options;
    return Call("Open");
  }
  HRESULT Close() override { return Call("Close"); }
  HRESULT get_State(LONG* out) override { *out = state; return Call("State"); }
  HRESULT get_Errors(Errors** out) override {
    *out = nullptr;
    HRESULT hr = Call("Errors");
    if (SUCCEEDED(hr) && errors) {
      errors->AddRef();
      *out = errors;
    }
    return hr;
  }
  HRESULT get_CommandTimeout(LONG* out) override { *out = 30; return Call("GetCommandTimeout"); }
  HRESULT put_CommandTimeout(LONG) override { return Call("PutCommandTimeout"); }

  FakeErrors* errors = nullptr;  // a self-deleting connection should Hold it
  LONG state = 0;
  LONG open_options = -7;
  std::vector<std::u16string> texts;
};

}  // namespace fake
