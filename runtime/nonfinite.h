// The non-finite values as constants, for code inside the libraries (the
// exported getters and globals hand out the same bits). The NaNs are the
// quiet NaNs with the sign bit set.
#pragma once

#include <bit>
#include <cstdint>

namespace runtime {

inline constexpr double kInf = std::bit_cast<double>(std::uint64_t{0x7FF0000000000000});
inline constexpr double kMinusInf = std::bit_cast<double>(std::uint64_t{0xFFF0000000000000});
inline constexpr double kNaN = std::bit_cast<double>(std::uint64_t{0xFFF8000000000000});
inline constexpr float kInfF = std::bit_cast<float>(std::uint32_t{0x7F800000});
inline constexpr float kMinusInfF = std::bit_cast<float>(std::uint32_t{0xFF800000});
inline constexpr float kNaNF = std::bit_cast<float>(std::uint32_t{0xFFC00000});

}  // namespace runtime
