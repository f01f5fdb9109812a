#include <bit>
#include <cstdint>

#include "runtime/fp_guard.h"
#include "spectral/spectral.h"

namespace spectral {

void abs_lags(std::span<const double, kLags> x, std::span<double, kLags> y) noexcept {
  // Clearing the sign bit: -0 becomes +0, a NaN stays a NaN. Each element is
  // read before it is written, so x and y may be the same array.
  for (int k = 0; k < kLags; ++k) {
    y[k] = std::bit_cast<double>(std::bit_cast<std::uint64_t>(x[k]) & 0x7FFFFFFFFFFFFFFFu);
  }
}

}  // namespace spectral

extern "C" void b_abs(const double x[1439999], double y[1439999]) noexcept {
  const runtime::FpGuard guard;
  if (x == nullptr || y == nullptr) {
    return;
  }
  using spectral::kLags;
  spectral::abs_lags(std::span<const double, kLags>(x, kLags), std::span<double, kLags>(y, kLags));
}
