// _variant_t: a VARIANT cleared when it goes out of scope.
#pragma once

#include "platform/com/com.h"

class _variant_t : public VARIANT {
 public:
  _variant_t() noexcept { VariantInit(this); }
  _variant_t(const _variant_t&) = delete;
  _variant_t& operator=(const _variant_t&) = delete;
  ~_variant_t() { VariantClear(this); }
  void Clear() noexcept { VariantClear(this); }
};
