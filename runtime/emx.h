// Internal helpers over the array record, shared by both libraries.
#pragma once

#include <cstdint>

#include "emx_runtime.h"

namespace runtime {

// Element count of the extents: the product of size[0..numDims-1] (1 when
// numDims is 0). Returns -1 when the record cannot describe an array: a
// negative numDims, a null size with numDims > 0, a negative extent, or a
// product that does not fit in int32_t.
std::int64_t element_count(const emxArray_real_T& array) noexcept;

// Length of the vector a record holds, read through size[0] as every
// vector-taking function reads it, or -1 when the record cannot be read that
// way: null, no extents (numDims < 1 or a null size), a negative or
// overflowing extent, fewer elements in all than size[0] (another extent is
// 0: the storage need not reach size[0] values), or null data under a
// positive length.
std::int64_t vector_length(const emxArray_real_T* x) noexcept;

// Sets a one-dimensional record to n elements with the usual sequence (old
// count, new extent, emxEnsureCapacity_real_T with the old count). Returns
// false, and leaves size[0] as it was, when the storage cannot be provided.
bool resize_vector(emxArray_real_T& vector, std::int32_t n) noexcept;

// A working record owned by one scope: made empty and one-dimensional with
// emxInit_real_T, released with emxFree_real_T. get() is null when even the
// empty record could not be allocated.
class WorkArray {
 public:
  WorkArray() noexcept;
  ~WorkArray();
  WorkArray(const WorkArray&) = delete;
  WorkArray& operator=(const WorkArray&) = delete;

  emxArray_real_T* get() const noexcept { return array_; }
  explicit operator bool() const noexcept { return array_ != nullptr; }
  // resize_vector on the record; false when it is null or cannot grow.
  bool resize(std::int32_t n) noexcept { return array_ != nullptr && resize_vector(*array_, n); }
  double* data() const noexcept { return array_->data; }

 private:
  emxArray_real_T* array_ = nullptr;
};

}  // namespace runtime
