// Constants of the SNR estimate. Each one's bits enter the result, so each is
// written as the double it must be and checked where that matters.
#pragma once

#include <bit>
#include <cstdint>

namespace quenbar {

inline constexpr double kFrameSeconds = 0.005;  // frame duration: 5 ms
inline constexpr double kFullScale = 32767.0;   // 16-bit full scale: the 0 dB amplitude
inline constexpr double kLevelOffset = 1e-6;    // added to a frame's RMS before the logarithm
inline constexpr double kFloorDb = -120.0;      // level given to quiet frames and NaN levels
inline constexpr double kActiveDb = -70.0;  // a smoothed level above this marks the frame active
inline constexpr double kKeep = 0.9;        // weight of a frame's own level in the smoothing
// Weight of the previous smoothed level: 1 - 0.9 as evaluated in doubles
// (3FB9999999999998), one ulp below the double nearest 0.1 (3FB999999999999A).
inline constexpr double kCarry = 0.09999999999999998;
inline constexpr double kRatioFloor =
    1e-12;  // added to the power ratio: -120 dB under a ratio of 0

// Lowest rate whose 5 ms frame holds a whole sample: floor(0.005 fs) >= 1.
inline constexpr double kMinRate = 200.0;
static_assert(kFrameSeconds * kMinRate >= 1.0 && kFrameSeconds * (kMinRate - 1.0) < 1.0);

static_assert(kCarry == 1.0 - kKeep);
static_assert(std::bit_cast<std::uint64_t>(kCarry) == 0x3FB9999999999998);
static_assert(std::bit_cast<std::uint64_t>(kKeep) == 0x3FECCCCCCCCCCCCD);

}  // namespace quenbar
