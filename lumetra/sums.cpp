// lumetra's names for the runtime's sums: b_sum over a record, sum over the
// 200 entries of an onset window.
#include "lumetra.h"
#include "runtime/fp_guard.h"
#include "runtime/sum.h"

extern "C" {

double b_sum(const emxArray_real_T* x) noexcept {
  const runtime::FpGuard guard;
  return runtime::record_sum(x);
}

double sum(const double x[200]) noexcept {
  const runtime::FpGuard guard;
  return runtime::sum200(x);
}

}  // extern "C"
