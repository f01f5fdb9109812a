#include <cmath>

#include "lumetra.h"
#include "runtime/fp_guard.h"

// The C library's log10, in place: 0 gives -Inf, a negative value or NaN gives
// NaN. A null pointer is ignored.
extern "C" void b_log10(double* x) noexcept {
  const runtime::FpGuard guard;
  if (x != nullptr) {
    *x = std::log10(*x);
  }
}
