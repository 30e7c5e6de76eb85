// The base of the hand-written ADO stand-ins. Each logs the operations
// called, fails an operation on request (setting the thread's error
// information first, as the real objects do) and answers ISupportErrorInfo
// as configured. A test-owned object only counts references; a
// self-deleting one (handed to the code under test by a class factory) goes
// with its last reference, and with it the children it holds.
#pragma once

#include <functional>
#include <map>
#include <string>
#include <vector>

#include "platform/ado/ado.h"
#include "platform/com/com.h"

namespace fake {

enum class Lifetime { kTestOwned, kSelfDeleting };

template <class I>
class Object : public I, public ISupportErrorInfo {
 public:
  explicit Object(const IID& own, Lifetime lifetime = Lifetime::kTestOwned)
      : error_iid(own), own_(own), lifetime_(lifetime) {}
  virtual ~Object() {
    for (auto& release : children_) release();
  }

  HRESULT QueryInterface(REFIID riid, void** out) override {
    *out = nullptr;
    if (riid == IID_IUnknown || riid == IID_IDispatch || riid == own_) {
      *out = static_cast<I*>(this);
    } else if (riid == IID_ISupportErrorInfo && has_support) {
      *out = static_cast<ISupportErrorInfo*>(this);
    } else {
      return E_NOINTERFACE;
    }
    AddRef();
    return S_OK;
  }
  ULONG AddRef() override { return ++refs; }
  ULONG Release() override {
    const ULONG left = --refs;
    if (left == 0 && lifetime_ == Lifetime::kSelfDeleting) delete this;
    return left;
  }
  HRESULT InterfaceSupportsErrorInfo(REFIID riid) override {
    asked.push_back(riid);
    return riid == supported ? support_answer : S_FALSE;
  }

  // Fails op with fail[op] when set, leaving error information behind
  // (fail_text[op], or "fake failure").
  HRESULT Call(const char* op) {
    log.push_back(op);
    auto it = fail.find(op);
    if (it == fail.end()) return S_OK;
    auto text = fail_text.find(op);
    ComSetErrorInfo(error_iid, error_source.c_str(),
                    text == fail_text.end() ? u"fake failure" : text->second.c_str());
    return it->second;
  }

  // Keeps the creator's reference to child until this object goes.
  template <class T>
  T* Hold(T* child) {
    children_.push_back([child] { child->Release(); });
    return child;
  }

  bool SelfDeleting() const { return lifetime_ == Lifetime::kSelfDeleting; }

  int refs = 1;  // the creator's reference
  bool has_support = true;
  IID supported = GUID_NULL;  // the interface answered with support_answer
  HRESULT support_answer = S_OK;
  std::vector<IID> asked;
  std::vector<std::string> log;
  std::map<std::string, HRESULT> fail;
  std::map<std::string, std::u16string> fail_text;
  IID error_iid;  // the interface failures name in their error information
  std::u16string error_source = u"Fake.Source";

 private:
  IID own_;
  Lifetime lifetime_;
  std::vector<std::function<void()>> children_;
};

// The position an Item index names, or -1.
inline LONG IndexOf(const VARIANT& v) {
  switch (v.vt) {
    case VT_I2: return v.iVal;
    case VT_I4: return v.lVal;
    default: return -1;
  }
}

}  // namespace fake
