// Growable array of plain values for the row store. It grows with realloc:
// a large block then moves to its new size without its contents being
// copied or its pages touched again, where a std::vector copies everything
// into fresh memory at each doubling. Throws std::bad_alloc when memory
// runs out, as a vector does.
#pragma once

#include <cstdint>
#include <cstdlib>
#include <cstring>
#include <new>
#include <type_traits>
#include <utility>

namespace zado {

template <class T>
class PodArray {
  static_assert(std::is_trivially_copyable_v<T>);

 public:
  PodArray() = default;
  explicit PodArray(size_t n) { resize(n); }
  PodArray(const PodArray&) = delete;
  PodArray& operator=(const PodArray&) = delete;
  PodArray(PodArray&& o) noexcept { swap(o); }
  PodArray& operator=(PodArray&& o) noexcept {
    PodArray(std::move(o)).swap(*this);
    return *this;
  }
  ~PodArray() { std::free(data_); }

  size_t size() const { return size_; }
  bool empty() const { return size_ == 0; }
  T* data() { return data_; }
  const T* data() const { return data_; }
  T& operator[](size_t i) { return data_[i]; }
  const T& operator[](size_t i) const { return data_[i]; }
  T& back() { return data_[size_ - 1]; }

  void push_back(const T& v) {
    if (size_ == capacity_) Grow(size_ + 1);
    data_[size_++] = v;
  }
  // New elements are zero.
  void resize(size_t n) {
    if (n > capacity_) Grow(n);
    if (n > size_) std::memset(static_cast<void*>(data_ + size_), 0, (n - size_) * sizeof(T));
    size_ = n;
  }
  void append(const T* first, size_t n) {
    if (n == 0) return;
    if (size_ + n > capacity_) Grow(size_ + n);
    std::memcpy(static_cast<void*>(data_ + size_), first, n * sizeof(T));
    size_ += n;
  }
  void swap(PodArray& o) noexcept {
    std::swap(data_, o.data_);
    std::swap(size_, o.size_);
    std::swap(capacity_, o.capacity_);
  }

 private:
  void Grow(size_t need) {
    size_t cap = capacity_ < 16 ? 16 : capacity_;
    while (cap < need) {
      if (cap > (SIZE_MAX / sizeof(T)) / 2) throw std::bad_alloc();
      cap *= 2;
    }
    void* grown = std::realloc(static_cast<void*>(data_), cap * sizeof(T));
    if (!grown) throw std::bad_alloc();
    data_ = static_cast<T*>(grown);
    capacity_ = cap;
  }

  T* data_ = nullptr;
  size_t size_ = 0;
  size_t capacity_ = 0;
};

}  // namespace zado
