#include "sum.h"

#include "emx.h"
#include "nonfinite.h"

namespace runtime {

double sum_span(const double* x, long n) noexcept {
  if (n < 1) {
    return 0.0;
  }
  // acc holds x[0] + ... + x[k-1], added left to right.
  double acc = x[0];
  for (long k = 1; k < n; ++k) {
    acc += x[k];
  }
  return acc;
}

double record_sum(const emxArray_real_T* x) noexcept {
  const std::int64_t n = vector_length(x);
  return n < 0 ? kNaN : sum_span(x->data, static_cast<long>(n));
}

}  // namespace runtime
