// An owned heap array for code built without exceptions: allocated through
// runtime/alloc.h (so the fault seam reaches it), released on destruction,
// and a failed allocation is a value to test, never an abort.
#pragma once

#include <cstddef>
#include <cstring>
#include <type_traits>
#include <utility>

#include "runtime/alloc.h"

namespace runtime {

template <class T>
class Buffer {
  static_assert(std::is_trivially_copyable_v<T> && std::is_trivially_destructible_v<T>);

 public:
  Buffer() noexcept = default;
  ~Buffer() { release(data_); }
  Buffer(Buffer&& other) noexcept
      : data_(std::exchange(other.data_, nullptr)), size_(std::exchange(other.size_, 0)) {}
  Buffer& operator=(Buffer&& other) noexcept {
    if (this != &other) {
      release(data_);
      data_ = std::exchange(other.data_, nullptr);
      size_ = std::exchange(other.size_, 0);
    }
    return *this;
  }
  Buffer(const Buffer&) = delete;
  Buffer& operator=(const Buffer&) = delete;

  // Replaces the contents with n uninitialised elements; false (and empty)
  // when the memory cannot be had.
  bool allocate(std::size_t n) noexcept {
    release(data_);
    data_ = nullptr;
    size_ = 0;
    if (n == 0) {
      return true;
    }
    if (n > static_cast<std::size_t>(-1) / sizeof(T)) {
      return false;
    }
    data_ = static_cast<T*>(runtime::allocate(n * sizeof(T)));
    size_ = data_ != nullptr ? n : 0;
    return data_ != nullptr;
  }

  // Keeps the first min(size, n) elements and makes room for n; false (the
  // contents kept) when the memory cannot be had.
  bool resize(std::size_t n) noexcept {
    Buffer grown;
    if (!grown.allocate(n)) {
      return false;
    }
    if (size_ > 0 && n > 0) {
      std::memcpy(grown.data_, data_, (size_ < n ? size_ : n) * sizeof(T));
    }
    *this = std::move(grown);
    return true;
  }

  T* data() noexcept { return data_; }
  const T* data() const noexcept { return data_; }
  std::size_t size() const noexcept { return size_; }
  T& operator[](std::size_t i) noexcept { return data_[i]; }
  const T& operator[](std::size_t i) const noexcept { return data_[i]; }

 private:
  T* data_ = nullptr;
  std::size_t size_ = 0;
};

}  // namespace runtime
