// Infinities from their bit patterns, never computed.
#include "emx_runtime.h"
#include "runtime/nonfinite.h"

extern "C" {

double rtGetInf(void) noexcept {
  return runtime::kInf;
}

float rtGetInfF(void) noexcept {
  return runtime::kInfF;
}

double rtGetMinusInf(void) noexcept {
  return runtime::kMinusInf;
}

float rtGetMinusInfF(void) noexcept {
  return runtime::kMinusInfF;
}

}  // extern "C"
