// The fast transform engine: layout of the two passes over memory, the
// cached twiddle tables they read, and the instruction-set variants.
//
// A transform of N = 2^21 points runs as two passes, each butterfly doing
// exactly the arithmetic of the plain radix-2 stage loops (only the order of
// independent butterflies within a stage changes, which changes no value):
//
//   pass A  for each block of kBlock consecutive points: the bit-reversed
//           gather, stages 1..kBlockLog2, all inside the cache;
//   pass B  for each group of 4 adjacent columns (points l, l + kBlock,
//           l + 2 kBlock, ...): stages kBlockLog2 + 1 .. 21 on a buffer of
//           kRows rows, the last two stages writing the result where the
//           caller wants it.
//
// Between the passes the points sit in "split chunks": the 4 points 4c..4c+3
// occupy the same 64 bytes as in the interleaved layout, but as 4 real parts
// followed by 4 imaginary parts, so that every butterfly of a stage with a
// half-span of 4 or more is plain vertical SIMD.
#pragma once

#include "runtime/dispatch.h"
#include "spectral/constants.h"

namespace spectral {

inline constexpr int kLanes = 4;                       // points per split chunk
inline constexpr int kChunkDoubles = 2 * kLanes;       // 64 bytes
inline constexpr int kBlockLog2 = 12;                  // pass A: stages 1..12
inline constexpr int kBlock = 1 << kBlockLog2;         // 4096 points, 64 KiB
inline constexpr int kRowsLog2 = kLog2N - kBlockLog2;  // pass B: stages 13..21
inline constexpr int kRows = 1 << kRowsLog2;           // 512 rows of one chunk
inline constexpr int kColumnGroups = kBlock / kLanes;  // 1024 groups of 4 columns
inline constexpr int kGroupTwiddles = kRows - 1;       // 1 + 2 + ... + 256 per group
static_assert(kBlock * kRows == kN);
// The engine's work arrays pad every block (a row of pass B) by one chunk:
// rows a power of two apart would all share one set of the caches, and the
// rows of a column group would evict each other before pass B reached them.
inline constexpr long kRowStride = 2L * kBlock + kChunkDoubles;  // doubles
inline constexpr long kWorkDoubles = kRows * kRowStride;         // 32 MiB + 32 KiB
// The residue layout (the ifft's input, regrouped; see residue_offset in
// engine_impl.h): 128 regions of one residue group's 4096 rows (256 KiB), 4
// padded rows apart, so that it fits a work array.
inline constexpr long kRegionStride = kLanes * kRowStride;
static_assert(kBlock * kChunkDoubles <= kRegionStride);
static_assert((kRows / kLanes) * kRegionStride == kWorkDoubles);
// The pass-A gather reads 4 consecutive samples of one row; a row is either
// wholly inside the 720000 samples or wholly outside.
static_assert(kSpan % kLanes == 0 && kRows % kLanes == 0);
// Pass A: stages 1-2 on the way in, then pairs (3, 4) .. (11, 12); pass B:
// stage 13 on the way in, then pairs (14, 15) .. (20, 21).
static_assert(kBlockLog2 == 12 && kRowsLog2 == 9);
// The real input fills less than half of the points: inputs n >= N/2 are zero.
static_assert(kSpan <= kN / 2);

// Twiddles of the fast path, all taken from the same quarter wave as the
// exported tables (entry j stands for the angle 2 pi j / N; sines forward).
struct Tables {
  // Pass A, stages 2..12: stage s with half-span h = 2^(s-1) keeps
  // (cos, sin) of j = m * N / (2h) at index h + m, m < h.
  const double* block_cos;
  const double* block_sin[2];  // [0] forward, [1] inverse
  // Pass B, stages 13..21, in the order the column groups read them: group
  // g, then stage s with row half-span r = 2^(s-13) at entries r - 1 + c
  // (c < r), each entry 4 cosines then 4 sines for the columns 4g..4g+3.
  // Forward sines only: the inverse flips their sign bits on loading.
  const double* column;
};

// Builds the tables on the first call (cos and sin are evaluated only then)
// and returns them. Not reentrant.
const Tables& tables() noexcept;

// The cached quarter wave: kQuarterLength values cos(2 pi n / N).
const double* cached_quarter_wave() noexcept;

// One instruction-set variant of the engine: its table of kernels, filled by
// make_engine (engine_impl.h) in engine_sse2.cpp and engine_avx2.cpp. Arrays
// of complex values are doubles, interleaved re, im unless a name says
// otherwise; work arrays hold kWorkDoubles, z values in the residue layout
// (the same size), staging and cross kBlock chunks; all disjoint from each
// other and from the arguments.
struct Engine {
  // fft: x kSpan samples -> y kN values, interleaved, natural order; the
  // results pass through staging.
  void (*forward)(const double* x, double* work, double* staging, double* y,
                  const Tables& t) noexcept;
  // ifft: x kN values -> y kN values scaled by 2^-21, both interleaved; x is
  // first regrouped into z.
  void (*inverse)(const double* x, double* work, double* z, double* staging, double* y,
                  const Tables& t) noexcept;
  // xcorr: x, y kSpan samples -> r kLags values (lags -719999..719999).
  void (*correlate)(const double* x, const double* y, double* work_x, double* work_y,
                    double* work_inverse, double* cross, double* r, const Tables& t) noexcept;
  runtime::Isa isa;
};

// The static arrays of the transforms and the correlation (not reentrant).
struct WorkArrays {
  double* work[3];  // kWorkDoubles each
  double* cross;    // kBlock * kChunkDoubles
};
const WorkArrays& work_arrays() noexcept;

// The variants, one per instruction set (engine_sse2.cpp, engine_avx2.cpp).
// Take them through engine() and engine_for(), which check that the
// processor runs them.
extern const Engine kEngineSse2;
extern const Engine kEngineAvx2;

// The variant of the widest instruction set this machine runs: what the
// exported functions use.
inline const Engine& engine() noexcept {
  return runtime::widest(kEngineSse2, kEngineAvx2);
}

// The variant for isa, or nullptr when this machine cannot run it (tests hand
// each variant to the transforms and compare it with the reference path).
inline const Engine* engine_for(runtime::Isa isa) noexcept {
  return runtime::for_isa(isa, kEngineSse2, kEngineAvx2);
}

}  // namespace spectral
