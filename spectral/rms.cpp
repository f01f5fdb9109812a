// Root-mean-square of the 720000-sample window and of a record's vector.
#include "runtime/fp_guard.h"
#include "spectral/spectral.h"

extern "C" {

double rms(const double x[720000]) noexcept {
  const runtime::FpGuard guard;
  if (x == nullptr) {
    return rtGetNaN();
  }
  return spectral::rms_span(std::span<const double, spectral::kSpan>(x, spectral::kSpan));
}

double b_rms(const emxArray_real_T* x) noexcept {
  const runtime::FpGuard guard;
  return spectral::rms_record(x);
}

}  // extern "C"
