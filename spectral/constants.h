// Fixed extents and constants of lumetra's spectral toolkit. Indices in this
// folder count from 0.
#pragma once

#include <bit>
#include <cstdint>

namespace spectral {

inline constexpr int kSpan = 720000;         // alignment span: 15 s at 48000 Hz
inline constexpr int kLags = 2 * kSpan - 1;  // lags of a full linear correlation
inline constexpr int kN = 1 << 21;           // transform length: smallest 2^k >= kLags
inline constexpr int kLog2N = 21;
inline constexpr int kHalf = kN / 2;                 // entries 0..kHalf of the full tables
inline constexpr int kQuarter = kN / 4;              // entries 0..kQuarter of the quarter wave
inline constexpr int kEighth = kN / 8;               // last cosine entry of the quarter wave
inline constexpr int kTableLength = kHalf + 1;       // 1048577 doubles
inline constexpr int kQuarterLength = kQuarter + 1;  // 524289 doubles
static_assert(kN >= kLags && kN / 2 < kLags);
static_assert(kN == 1 << kLog2N);

// Angle step 2*pi/N: the double nearest pi divided by 2^20 (exact scaling).
inline constexpr double kAngleStep = 3.141592653589793 / 1048576.0;
static_assert(kAngleStep == 2.996056226339143e-06);

// Two stored quarter-wave entries: cos(e) and sin(262143 e), as the platform
// gives them on the reference machine; kept as constants so that they do not
// depend on the C library.
inline constexpr double kCosStep = 0.9999999999955118;
inline constexpr double kSinAt262143 = 0.7071046626516995;

// Scaling applied by the inverse transform after its last stage: 2^-21.
inline constexpr double kInverseScale = 4.76837158203125e-07;
static_assert(kInverseScale * kN == 1.0);

}  // namespace spectral
