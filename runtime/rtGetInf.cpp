// Infinities from their bit patterns, never computed.
#include <bit>
#include <cstdint>

#include "emx_runtime.h"

extern "C" {

double rtGetInf(void) noexcept { return std::bit_cast<double>(std::uint64_t{0x7FF0000000000000}); }

float rtGetInfF(void) noexcept { return std::bit_cast<float>(std::uint32_t{0x7F800000}); }

double rtGetMinusInf(void) noexcept { return std::bit_cast<double>(std::uint64_t{0xFFF0000000000000}); }

float rtGetMinusInfF(void) noexcept { return std::bit_cast<float>(std::uint32_t{0xFF800000}); }

}  // extern "C"
