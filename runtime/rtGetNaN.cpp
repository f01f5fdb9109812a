// NaNs from their bit patterns: the quiet NaNs with the sign bit set.
#include "emx_runtime.h"
#include "runtime/nonfinite.h"

extern "C" {

double rtGetNaN(void) noexcept {
  return runtime::kNaN;
}

float rtGetNaNF(void) noexcept {
  return runtime::kNaNF;
}

}  // extern "C"
