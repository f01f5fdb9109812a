// Records for the tests (with support/common.h: special values and bit
// comparisons).
#pragma once

#include <cstdint>
#include <memory>
#include <vector>

#include "emx_runtime.h"
#include "support/common.h"

namespace testing_support {

struct RecordRelease {
  void operator()(emxArray_real_T* r) const noexcept { emxDestroyArray_real_T(r); }
};
// A record created through the API and released with emxDestroyArray_real_T.
using Record = std::unique_ptr<emxArray_real_T, RecordRelease>;

// An n x 1 record that owns a copy of the values (exactly n doubles of
// storage, so that a read past them is caught by the address sanitizer).
inline Record column(const std::vector<double>& values) {
  Record r(emxCreate_real_T(static_cast<std::int32_t>(values.size()), 1));
  for (std::size_t k = 0; r && k < values.size(); ++k) {
    r->data[k] = values[k];
  }
  return r;
}

// A 1 x n record over the caller's storage.
inline Record row_wrapper(std::vector<double>& values) {
  return Record(
      emxCreateWrapper_real_T(values.data(), 1, static_cast<std::int32_t>(values.size())));
}

// An n x 1 record over the caller's storage (the libraries only read their
// inputs, so a const vector serves).
inline Record column_wrapper(const std::vector<double>& values) {
  return Record(emxCreateWrapper_real_T(const_cast<double*>(values.data()),
                                        static_cast<std::int32_t>(values.size()), 1));
}

}  // namespace testing_support
