// Fixed quantities of the gain estimation. Sample positions in this folder
// count from 0 unless a comment says otherwise; onset frame numbers and the
// correlation peak index count from 1, as the diagnostics report them.
#pragma once

#include <cstdint>

#include "spectral/constants.h"

namespace lumetra {

inline constexpr double kRate = 48000.0;       // samples per second
inline constexpr int kSpan = spectral::kSpan;  // alignment span: 15 s at 48000 Hz
inline constexpr int kLags = spectral::kLags;  // correlation values, 2 * kSpan - 1
inline constexpr int kLagZero = kSpan;         // 1-based correlation index of lag 0
static_assert(kSpan == 15 * 48000 && kLags == 2 * kSpan - 1);
// The rate as a whole number of Hz, for hosts that count in them.
inline constexpr int kRateHz = 48000;
static_assert(kRate == kRateHz);
// Shortest recording the procedure reads: its first kSpan samples are the
// opening that is aligned.
inline constexpr int kMinRecording = kSpan;

// Coarse alignment: 241-sample frames every 240 samples, at most 3000 of
// them, so the last frame (index 2999) reads position 720000, one past the
// span. An onset is the first frame at which more than 160 of the last 200
// frames were active.
inline constexpr int kHop = 240;
inline constexpr int kFrame = kHop + 1;
inline constexpr int kMaxFrames = 3000;
inline constexpr int kWindowFrames = 200;
inline constexpr int kOnsetCount = 160;
static_assert(kHop * kMaxFrames == kSpan);
static_assert(kHop * (kMaxFrames - 1) + kFrame == kSpan + 1);
inline constexpr double kLevelOffset = 1e-6;           // added to every RMS before its logarithm
inline constexpr double kReferenceActiveDb = -50.0;    // dB re an amplitude of 1.0
inline constexpr double kRecordingMarginDb = 12.0;     // below the recording's own level
inline constexpr double kCoarseDelayLimit = 360000.0;  // half the span, samples
static_assert(kCoarseDelayLimit == kSpan / 2);

// Fine alignment and its trust test.
inline constexpr double kMaxDelay = 240000.0;   // largest accepted |total delay|: 5 s
inline constexpr int kTrustHalfWidth = 240000;  // correlation values each side of the peak
inline constexpr int kTrustOffPeak = 2 * kTrustHalfWidth;  // window values besides the peak
inline constexpr double kTrustLimit = 0.04;                // largest mean off-peak magnitude / peak
static_assert(kMaxDelay == kTrustHalfWidth);
// The window fits in the correlation when the peak index (1-based) lies in
// [kTrustHalfWidth + 1, kLags - kTrustHalfWidth].
inline constexpr int kFirstTrustedPeak = kTrustHalfWidth + 1;
inline constexpr int kLastTrustedPeak = kLags - kTrustHalfWidth;

// Steps: 11 of them after the span; the settled half of each is cut into
// 50 ms blocks.
inline constexpr int kSteps = 11;
inline constexpr double kLongStep = 25.2;   // seconds, stepMode 0
inline constexpr double kShortStep = 24.7;  // seconds, any other stepMode
inline constexpr int kBlock = 2400;         // 50 ms
inline constexpr double kFullScale = 32767.0;
inline constexpr double kFloorDb = -120.0;  // stepRange without a block; start of the block maximum
inline constexpr double kRangeLowStart = 0.0;  // start of the block minimum

// Steps 1 to 10 have a nominal length of at most 25.2 s (1209600 samples);
// the double products move a boundary by one sample at most, so a settled
// half holds at most 604801 samples, 252 whole blocks.
inline constexpr std::int64_t kLongStepSamples = 1209600;
inline constexpr int kMaxBlocks = 256;
static_assert((kLongStepSamples + 2) / 2 / kBlock < kMaxBlocks);

}  // namespace lumetra
