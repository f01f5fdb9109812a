// lumetra's names for the runtime's sums: b_sum over a record, sum over the
// kWindowFrames activity flags of an onset window.
#include "lumetra.h"
#include "lumetra/constants.h"
#include "runtime/fp_guard.h"
#include "runtime/sum.h"

static_assert(lumetra::kWindowFrames == 200, "sum's parameter in lumetra.h is double[200]");

extern "C" {

double b_sum(const emxArray_real_T* x) noexcept {
  const runtime::FpGuard guard;
  return runtime::record_sum(x);
}

double sum(const double x[200]) noexcept {
  const runtime::FpGuard guard;
  return runtime::sum_span(x, lumetra::kWindowFrames);
}

}  // extern "C"
