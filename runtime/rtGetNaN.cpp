// NaNs from their bit patterns: the quiet NaNs with the sign bit set.
#include <bit>
#include <cstdint>

#include "emx_runtime.h"

extern "C" {

double rtGetNaN(void) noexcept { return std::bit_cast<double>(std::uint64_t{0xFFF8000000000000}); }

float rtGetNaNF(void) noexcept { return std::bit_cast<float>(std::uint32_t{0xFFC00000}); }

}  // extern "C"
