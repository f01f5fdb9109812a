#include "emx_runtime.h"
#include "runtime/fp_guard.h"
#include "sum.h"

extern "C" double combineVectorElements(const emxArray_real_T* x) noexcept {
  const runtime::FpGuard guard;
  return runtime::record_sum(x);
}
