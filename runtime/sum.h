// Summation kernels. Every sum adds strictly from the first element to the
// last in one double accumulator: the order is part of the result's bits.
#pragma once

#include "emx_runtime.h"

namespace runtime {

// Sum of the first size[0] elements (0.0 when empty). A record that does not
// hold a readable vector (vector_length below 0) gives NaN.
double record_sum(const emxArray_real_T* x) noexcept;

// Sum of n consecutive doubles, first to last; 0.0 when n < 1.
double sum_span(const double* x, long n) noexcept;

}  // namespace runtime
