// End offsets of the values of one column in one block of rows (value i
// takes bytes [Begin(i), End(i)) of the block's buffer). Short values are
// the common case, and a 32-bit offset per value would hold more than the
// text of most of them: offsets are kept in 16 bits from the start of their
// group of 64 values, while every group's values take less than 64 KiB,
// and in 32 bits from the start of the block once one does not (the values
// are then long enough for the 4 bytes not to matter).
#pragma once

#include <cstddef>
#include <cstdint>
#include <new>

#include "platform/ado/pod_array.h"

namespace zado {

class EndOffsets {
 public:
  size_t size() const { return count_; }

  // Adds the end of the next value: no less than the end before it, and
  // below 4 GiB (std::bad_alloc otherwise: a block that large is refused
  // rather than wrapped).
  void push_back(size_t end) {
    if (end > UINT32_MAX) throw std::bad_alloc();
    if (!wide_) {
      if (count_ % kGroup == 0) starts_.push_back(static_cast<uint32_t>(count_ == 0 ? 0 : End(count_ - 1)));
      const size_t relative = end - starts_.back();
      if (relative <= UINT16_MAX) {
        short_.push_back(static_cast<uint16_t>(relative));
        ++count_;
        return;
      }
      Widen();
    }
    long_.push_back(static_cast<uint32_t>(end));
    ++count_;
  }

  size_t End(size_t i) const { return wide_ ? long_[i] : starts_[i / kGroup] + short_[i]; }
  size_t Begin(size_t i) const { return i == 0 ? 0 : End(i - 1); }

  // Bytes these offsets take.
  size_t Footprint() const { return starts_.size() * 4 + short_.size() * 2 + long_.size() * 4; }

 private:
  static constexpr size_t kGroup = 64;

  void Widen() {
    PodArray<uint32_t> ends(count_);
    for (size_t i = 0; i < count_; ++i) ends[i] = static_cast<uint32_t>(End(i));
    long_.swap(ends);
    short_ = PodArray<uint16_t>();
    starts_ = PodArray<uint32_t>();
    wide_ = true;
  }

  size_t count_ = 0;
  bool wide_ = false;
  PodArray<uint32_t> starts_;  // per group: the offset its first value starts at
  PodArray<uint16_t> short_;   // per value: its end, from its group's start
  PodArray<uint32_t> long_;    // per value once wide_: its end, from the block's start
};

}  // namespace zado
