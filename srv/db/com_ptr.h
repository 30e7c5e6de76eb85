// _com_ptr_t: the counted object reference through which every COM object
// is held. It releases its object exactly once; assigning another object
// references the new one before releasing the old; any use of an empty
// reference throws _com_error(E_POINTER) before a call is made.
#pragma once

#include <utility>

#include "platform/com/com.h"
#include "srv/db/com_error.h"

template <class I>
class _com_ptr_t {
 public:
  _com_ptr_t() noexcept = default;
  // Takes over one reference of p when add_ref is false.
  _com_ptr_t(I* p, bool add_ref) noexcept : p_(p) {
    if (p_ && add_ref) p_->AddRef();
  }
  _com_ptr_t(const _com_ptr_t& o) noexcept : _com_ptr_t(o.p_, true) {}
  _com_ptr_t(_com_ptr_t&& o) noexcept : p_(std::exchange(o.p_, nullptr)) {}
  ~_com_ptr_t() { Release(); }

  _com_ptr_t& operator=(const _com_ptr_t& o) noexcept { return Assign(o.p_); }
  _com_ptr_t& operator=(_com_ptr_t&& o) noexcept {
    if (this != &o) {
      I* old = std::exchange(p_, std::exchange(o.p_, nullptr));
      if (old) old->Release();
    }
    return *this;
  }
  // References p (AddRef) before releasing the old object; the same object
  // changes nothing.
  _com_ptr_t& Assign(I* p) noexcept {
    if (p != p_) {
      if (p) p->AddRef();
      I* old = std::exchange(p_, p);
      if (old) old->Release();
    }
    return *this;
  }

  I* operator->() const {
    if (!p_) _com_issue_error(E_POINTER);
    return p_;
  }
  I* Get() const noexcept { return p_; }
  explicit operator bool() const noexcept { return p_ != nullptr; }
  void Release() noexcept {
    if (I* old = std::exchange(p_, nullptr)) old->Release();
  }
  // Releases the held object and hands out the slot for an out-parameter.
  I** ReceiveAddress() noexcept {
    Release();
    return &p_;
  }
  I* Detach() noexcept { return std::exchange(p_, nullptr); }

 private:
  I* p_ = nullptr;
};
