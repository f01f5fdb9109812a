// Records, special values and bit comparisons for the tests.
#pragma once

#include <bit>
#include <cmath>
#include <cstdint>
#include <limits>
#include <memory>
#include <vector>

#include "emx_runtime.h"

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

// An n x 1 record over the caller's storage.
inline Record column_wrapper(std::vector<double>& values) {
  return Record(
      emxCreateWrapper_real_T(values.data(), static_cast<std::int32_t>(values.size()), 1));
}

inline constexpr double kNaN = std::numeric_limits<double>::quiet_NaN();
inline constexpr double kInf = std::numeric_limits<double>::infinity();
// The NaN the libraries return (rtNaN): the negative quiet NaN.
inline constexpr std::uint64_t kNaNBits = 0xFFF8000000000000;

inline std::uint64_t bits(double x) {
  return std::bit_cast<std::uint64_t>(x);
}
inline std::uint32_t bits(float x) {
  return std::bit_cast<std::uint32_t>(x);
}

// The same result: identical bits, or both NaN (a NaN's payload follows the
// operands' NaNs, which the result does not promise).
inline bool same_result(double a, double b) {
  return bits(a) == bits(b) || (std::isnan(a) && std::isnan(b));
}

}  // namespace testing_support
