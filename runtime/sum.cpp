#include "sum.h"

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
  if (x == nullptr || x->size == nullptr || x->numDims < 1 || x->size[0] < 0) {
    return kNaN;
  }
  const int n = x->size[0];
  if (n == 0) {
    return 0.0;
  }
  if (x->data == nullptr) {
    return kNaN;
  }
  return sum_span(x->data, n);
}

double sum200(const double* x) noexcept { return sum_span(x, kWindowValues); }

}  // namespace runtime
