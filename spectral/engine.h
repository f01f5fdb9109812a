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

// Where a set of tables is built: the same arrays, writable.
inline constexpr long kColumnDoubles =
    static_cast<long>(kColumnGroups) * kGroupTwiddles * kChunkDoubles;  // 32 MiB
struct TableStorage {
  double* block_cos;     // kBlock
  double* block_sin[2];  // kBlock each
  double* column;        // kColumnDoubles
};

// The quarter wave, kQuarterLength values cos(2 pi n / N), written to q: the
// only evaluations of cos and sin (tables.cpp).
void evaluate_quarter_wave(double* q) noexcept;

// The engine's tables unfolded from the quarter wave q into s (tables.cpp).
void build_tables(const double* q, const TableStorage& s) noexcept;

// The static tables of the exported functions (fft1.cpp): built on the first
// call (cos and sin are evaluated only then) and returned. Not reentrant.
const Tables& tables() noexcept;

// Their cached quarter wave, kept for the exported table builders (fft1.cpp).
const double* cached_quarter_wave() noexcept;

// One set of tables on the heap for the whole process (tables.cpp), for
// callers that own their workspaces: built on the first call, its quarter
// wave released once the tables are unfolded from it, and kept until the
// process ends. Concurrent first calls build it once, and every call
// returns the same set. nullptr when the memory cannot be had; a later call
// tries again.
const Tables* shared_tables() noexcept;

// The working memory of the transforms and the correlation: whatever a call
// writes besides its output. Every array is 64-byte aligned and disjoint
// from the others. A caller that owns one may run calls on other
// workspaces at the same time (the tables are only read).
struct Workspace {
  double* work[2];  // kWorkDoubles each
  double* cross;    // kCrossDoubles: a residue group's cross-spectrum; staging
  double* scratch;  // kScratchDoubles: the inverse's pass A of a residue group
};
inline constexpr long kCrossDoubles = static_cast<long>(kBlock) * kChunkDoubles;  // 256 KiB
// Four blocks, padded like the rows of a work array.
inline constexpr long kScratchDoubles = kLanes * kRowStride;  // 256 KiB + 256 bytes
// All of a workspace, the arrays back to back in this order (each a whole
// number of 64-byte lines).
inline constexpr long kWorkspaceDoubles = 2 * kWorkDoubles + kCrossDoubles + kScratchDoubles;
static_assert(kWorkDoubles % kChunkDoubles == 0 && kCrossDoubles % kChunkDoubles == 0 &&
              kScratchDoubles % kChunkDoubles == 0);
// The workspace laid out so from p (64-byte aligned).
constexpr Workspace workspace_at(double* p) noexcept {
  return {{p, p + kWorkDoubles}, p + 2 * kWorkDoubles, p + 2 * kWorkDoubles + kCrossDoubles};
}

// One instruction-set variant of the engine: its table of kernels, filled by
// make_engine (engine_impl.h) in engine_sse2.cpp and engine_avx2.cpp. Arrays
// of complex values are doubles, interleaved re, im unless a name says
// otherwise; work arrays hold kWorkDoubles, z values in the residue layout
// (the same size), staging kBlock chunks; all disjoint from each other and
// from the arguments unless said otherwise.
struct Engine {
  // fft: x kSpan samples -> y kN values, interleaved, natural order; the
  // results pass through staging.
  void (*forward)(const double* x, double* work, double* staging, double* y,
                  const Tables& t) noexcept;
  // ifft: x kN values -> y kN values scaled by 2^-21, both interleaved; x is
  // first regrouped into z.
  void (*inverse)(const double* x, double* work, double* z, double* staging, double* y,
                  const Tables& t) noexcept;
  // xcorr: x, y kSpan samples -> r kLags values (lags -719999..719999) in
  // the workspace w. y is read completely before work[0] is first written,
  // and r written only after work[0] was last read, so y and r may each lie
  // inside work[0] (not overlapping each other there); x lies in neither work
  // array, and nothing lies in work[1], cross or scratch. x and y are read
  // completely before r is written, so r may overlap them elsewhere.
  void (*correlate)(const double* x, const double* y, double* r, const Workspace& w,
                    const Tables& t) noexcept;
  runtime::Isa isa;
};

// The static workspace of the exported fft, ifft and xcorr (engine.cpp),
// advised for huge pages on first use: not reentrant.
const Workspace& static_workspace() noexcept;

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
