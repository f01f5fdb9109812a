// quenbar's name for the runtime's record sum (lumetra exports it as b_sum).
#include "runtime/sum.h"
#include "quenbar.h"
#include "runtime/fp_guard.h"

extern "C" double sum(const emxArray_real_T* x) noexcept {
  const runtime::FpGuard guard;
  return runtime::record_sum(x);
}
