#include "emx_runtime.h"
#include "sum.h"

extern "C" double combineVectorElements(const emxArray_real_T* x) noexcept {
  return runtime::record_sum(x);
}
