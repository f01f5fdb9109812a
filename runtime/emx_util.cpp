// Record life cycle inside the libraries: empty records, growth, release.
#include <climits>
#include <cstring>

#include "alloc.h"
#include "emx.h"

namespace runtime {

std::int64_t element_count(const emxArray_real_T& array) noexcept {
  if (array.numDims < 0 || (array.numDims > 0 && array.size == nullptr)) {
    return -1;
  }
  // Formed as a running product from the first extent; stops at the first
  // value that leaves the int32_t range, so the product never overflows int64.
  std::int64_t count = 1;
  for (std::int32_t k = 0; k < array.numDims; ++k) {
    if (array.size[k] < 0) {
      return -1;
    }
    count *= array.size[k];
    if (count > INT32_MAX) {
      return -1;
    }
  }
  return count;
}

std::int64_t vector_length(const emxArray_real_T* x) noexcept {
  if (x == nullptr || x->numDims < 1 || x->size == nullptr) {
    return -1;
  }
  const std::int64_t elements = element_count(*x);
  const std::int64_t n = x->size[0];
  if (elements < 0 || elements < n || (n > 0 && x->data == nullptr)) {
    return -1;
  }
  return n;
}

bool resize_vector(emxArray_real_T& vector, std::int32_t n) noexcept {
  const std::int64_t old = element_count(vector);
  if (old < 0 || vector.numDims < 1 || n < 0) {
    return false;
  }
  const std::int32_t old_extent = vector.size[0];
  vector.size[0] = n;
  emxEnsureCapacity_real_T(&vector, static_cast<std::int32_t>(old));
  const std::int64_t wanted = element_count(vector);
  if (wanted < 0 || wanted > vector.capacity) {
    vector.size[0] = old_extent;
    return false;
  }
  return true;
}

WorkArray::WorkArray() noexcept {
  emxInit_real_T(&array_, 1);
}

WorkArray::~WorkArray() {
  emxFree_real_T(&array_);
}

}  // namespace runtime

using runtime::allocate;
using runtime::allocate_zeroed;
using runtime::release;

extern "C" {

void emxInit_real_T(emxArray_real_T** pEmx, int32_t numDims) noexcept {
  if (pEmx == nullptr) {
    return;
  }
  *pEmx = nullptr;
  if (numDims < 0) {
    return;
  }
  auto* record = static_cast<emxArray_real_T*>(allocate(sizeof(emxArray_real_T)));
  if (record == nullptr) {
    return;
  }
  auto* extents =
      static_cast<int32_t*>(allocate_zeroed(static_cast<std::size_t>(numDims), sizeof(int32_t)));
  if (extents == nullptr) {
    release(record);
    return;
  }
  record->data = nullptr;
  record->size = extents;
  record->capacity = 0;
  record->numDims = numDims;
  record->ownsData = 1;
  *pEmx = record;
}

void emxEnsureCapacity_real_T(emxArray_real_T* emxArray, int32_t oldNumel) noexcept {
  if (emxArray == nullptr) {
    return;
  }
  const std::int64_t required = runtime::element_count(*emxArray);
  if (required < 0 || required <= emxArray->capacity) {
    return;
  }
  // Geometric growth from a floor of 16; past 2^30 - 1 the next doubling
  // would overflow, so the capacity jumps to the largest int32_t instead.
  std::int64_t capacity = emxArray->capacity < 16 ? 16 : emxArray->capacity;
  while (capacity < required) {
    if (capacity > 1073741823) {
      capacity = INT32_MAX;
      break;
    }
    capacity *= 2;
  }
  auto* block =
      static_cast<double*>(allocate_zeroed(static_cast<std::size_t>(capacity), sizeof(double)));
  if (block == nullptr) {
    return;
  }
  if (emxArray->data != nullptr) {
    // The old storage holds capacity elements at most: never copy more.
    const std::int32_t keep = oldNumel < emxArray->capacity ? oldNumel : emxArray->capacity;
    if (keep > 0) {
      std::memcpy(block, emxArray->data, sizeof(double) * static_cast<std::size_t>(keep));
    }
    if (emxArray->ownsData) {
      release(emxArray->data);
    }
  }
  emxArray->data = block;
  emxArray->capacity = static_cast<int32_t>(capacity);
  emxArray->ownsData = 1;
}

void emxFree_real_T(emxArray_real_T** pEmx) noexcept {
  if (pEmx == nullptr || *pEmx == nullptr) {
    return;
  }
  emxArray_real_T* record = *pEmx;
  if (record->data != nullptr && record->ownsData) {
    release(record->data);
  }
  release(record->size);
  release(record);
  *pEmx = nullptr;
}

}  // extern "C"
