// The host's side of the array record: creation, wrappers and release.
#include <cstdint>

#include "alloc.h"
#include "emx.h"

namespace {

// An empty record with the caller's extents copied in, walked from the first
// to the last. Returns null (and leaks nothing) for a negative numDims, a
// missing extent array, a negative extent, an element count past int32_t, or
// a failed allocation; *count receives the element count.
emxArray_real_T* shaped_record(int32_t numDims, const int32_t* size, int32_t* count) noexcept {
  if (numDims < 0 || (numDims > 0 && size == nullptr)) {
    return nullptr;
  }
  emxArray_real_T* record = nullptr;
  emxInit_real_T(&record, numDims);
  if (record == nullptr) {
    return nullptr;
  }
  for (int32_t k = 0; k < numDims; ++k) {
    record->size[k] = size[k];
  }
  const std::int64_t n = runtime::element_count(*record);
  if (n < 0) {
    emxFree_real_T(&record);
    return nullptr;
  }
  *count = static_cast<int32_t>(n);
  return record;
}

// A record of zeros that owns its storage (no storage for zero elements).
emxArray_real_T* owned_zeros(int32_t numDims, const int32_t* size) noexcept {
  int32_t count = 0;
  emxArray_real_T* record = shaped_record(numDims, size, &count);
  if (record == nullptr || count == 0) {
    return record;
  }
  record->data = static_cast<double*>(
      runtime::allocate_zeroed(static_cast<std::size_t>(count), sizeof(double)));
  if (record->data == nullptr) {
    emxFree_real_T(&record);
    return nullptr;
  }
  record->capacity = count;
  return record;
}

// A record over the caller's storage; nothing is copied or cleared.
emxArray_real_T* wrapper(double* data, int32_t numDims, const int32_t* size) noexcept {
  int32_t count = 0;
  emxArray_real_T* record = shaped_record(numDims, size, &count);
  if (record == nullptr) {
    return nullptr;
  }
  record->data = data;
  record->capacity = count;
  record->ownsData = 0;
  return record;
}

}  // namespace

extern "C" {

emxArray_real_T* emxCreate_real_T(int32_t rows, int32_t cols) noexcept {
  const int32_t size[2] = {rows, cols};
  return owned_zeros(2, size);
}

emxArray_real_T* emxCreateND_real_T(int32_t numDims, const int32_t* size) noexcept {
  return owned_zeros(numDims, size);
}

emxArray_real_T* emxCreateWrapper_real_T(double* data, int32_t rows, int32_t cols) noexcept {
  const int32_t size[2] = {rows, cols};
  return wrapper(data, 2, size);
}

emxArray_real_T* emxCreateWrapperND_real_T(double* data, int32_t numDims,
                                           const int32_t* size) noexcept {
  return wrapper(data, numDims, size);
}

void emxDestroyArray_real_T(emxArray_real_T* emxArray) noexcept {
  emxFree_real_T(&emxArray);
}

void emxInitArray_real_T(emxArray_real_T** pEmx, int32_t numDims) noexcept {
  emxInit_real_T(pEmx, numDims);
}

}  // extern "C"
