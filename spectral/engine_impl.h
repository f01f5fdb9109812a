// The engine's passes, written once over a 4-lane vector type S (the Quad
// view of the instruction-set traits in runtime/simd_*.h) and instantiated by
// one file per instruction set (engine_sse2.cpp, engine_avx2.cpp) through
// make_engine. Everything here has internal linkage: each instruction-set
// file gets its own copy, so code built with -mavx2 can never be picked by
// the linker for the baseline path.
//
// Every butterfly performs exactly the operations of the radix-2 stage loops:
//   t.re = wr*b.re - wi*b.im,  t.im = wr*b.im + wi*b.re,  b := a - t,  a := a + t,
// each product and each sum rounded by itself; the butterflies without a
// twiddle (m = 0) form no products: b := a - b, a := a + b. Only the order of
// butterflies within a stage differs from the loops, which changes no value.
// Indices count from 0; "point" k is element k of the 2^21-point transform.
#pragma once

#include <type_traits>

#include "spectral/engine.h"

// Small helpers must disappear into the loops that use them.
#define AM_INLINE [[gnu::always_inline]] inline
#define AM_INLINE_LAMBDA __attribute__((always_inline))

namespace spectral {
namespace {

template <class S>
struct Cx {
  typename S::V re;
  typename S::V im;
};

// A split chunk at p: 4 real parts, then 4 imaginary parts.
template <class S>
AM_INLINE Cx<S> load_chunk(const double* p) noexcept {
  return {S::load(p), S::load(p + kLanes)};
}
template <class S>
AM_INLINE void store_chunk(double* p, Cx<S> v) noexcept {
  S::store(p, v.re);
  S::store(p + kLanes, v.im);
}

// Butterfly on (a, b) with twiddle w; with kLane0Plain, lane 0 is the
// butterfly without a twiddle (t = b) of the pair at m = 0.
template <class S, bool kLane0Plain>
AM_INLINE void butterfly(Cx<S>& a, Cx<S>& b, const Cx<S>& w) noexcept {
  auto tre = S::sub(S::mul(w.re, b.re), S::mul(w.im, b.im));
  auto tim = S::add(S::mul(w.re, b.im), S::mul(w.im, b.re));
  if constexpr (kLane0Plain) {
    tre = S::lane0_from(tre, b.re);
    tim = S::lane0_from(tim, b.im);
  }
  b = {S::sub(a.re, tre), S::sub(a.im, tim)};
  a = {S::add(a.re, tre), S::add(a.im, tim)};
}

// Butterfly without a twiddle in every lane.
template <class S>
AM_INLINE void butterfly_plain(Cx<S>& a, Cx<S>& b) noexcept {
  const Cx<S> d{S::sub(a.re, b.re), S::sub(a.im, b.im)};
  a = {S::add(a.re, b.re), S::add(a.im, b.im)};
  b = d;
}

// Two consecutive stages on the points p, p + h, p + 2h, p + 3h (half-spans h
// and 2h): first (p, p+h) and (p+2h, p+3h) with w1 = W(m) of the first stage,
// then (p, p+2h) with w2 = W(m) and (p+h, p+3h) with w3 = W(m + h) of the
// second. With kFirst, lane 0 holds m = 0 and its first three pairs have no
// twiddle.
template <class S, bool kFirst>
AM_INLINE void radix4(Cx<S>& a0, Cx<S>& a1, Cx<S>& a2, Cx<S>& a3, const Cx<S>& w1, const Cx<S>& w2,
                      const Cx<S>& w3) noexcept {
  butterfly<S, kFirst>(a0, a1, w1);
  butterfly<S, kFirst>(a2, a3, w1);
  butterfly<S, kFirst>(a0, a2, w2);
  butterfly<S, false>(a1, a3, w3);
}

// radix4 for a caller that wants only the real parts of the second stage's
// results: those come out exactly as in radix4; the imaginary parts of that
// stage are not formed.
template <class S, bool kFirst>
AM_INLINE void radix4_real_out(Cx<S>& a0, Cx<S>& a1, Cx<S>& a2, Cx<S>& a3, const Cx<S>& w1,
                               const Cx<S>& w2, const Cx<S>& w3) noexcept {
  butterfly<S, kFirst>(a0, a1, w1);
  butterfly<S, kFirst>(a2, a3, w1);
  auto real_butterfly = [](Cx<S>& a, Cx<S>& b, const Cx<S>& w, auto lane0_plain) AM_INLINE_LAMBDA {
    auto tre = S::sub(S::mul(w.re, b.re), S::mul(w.im, b.im));
    if constexpr (decltype(lane0_plain)::value) {
      tre = S::lane0_from(tre, b.re);
    }
    b.re = S::sub(a.re, tre);
    a.re = S::add(a.re, tre);
  };
  real_butterfly(a0, a2, w2, std::bool_constant<kFirst>{});
  real_butterfly(a1, a3, w3, std::false_type{});
}

// Fills the bytes at p with zeros by a string store, which takes whole cache
// lines without reading them from memory first: scattered stores to those
// lines that follow find them in the cache.
AM_INLINE void claim_lines(double* p, unsigned long long bytes) noexcept {
  unsigned char* d = reinterpret_cast<unsigned char*>(p);
  __asm__ volatile("rep stosb" : "+D"(d), "+c"(bytes) : "a"(0) : "memory");
}

// Bit reversal of small indices, from a table built at compile time.
template <int kBits>
struct Reversal {
  int value[1 << kBits];
  constexpr Reversal() noexcept : value() {
    for (int i = 0; i < (1 << kBits); ++i) {
      int r = 0;
      for (int b = 0; b < kBits; ++b) {
        r |= ((i >> b) & 1) << (kBits - 1 - b);
      }
      value[i] = r;
    }
  }
};
constexpr Reversal<kBlockLog2 - 2> kChunkReversal{};
constexpr Reversal<kRowsLog2> kRowReversal{};

// The slots of the correlation's inverse (see correlate): chunk q of the
// block for residue rho + lane lies at row lane * 128 + q / 8, chunk rho / 4 +
// 128 (q mod 8) of a work array, one of the chunks the column groups
// l0 = rho + 512 v (v = q mod 8) of the residue group rho read.
constexpr int kGroupsPerResidue = kBlock / kRows;  // column groups of a residue group
constexpr int kResidueGroups = kRows / kLanes;     // chunks of one v in a row of work_y
static_assert(kBlock / kLanes == kResidueGroups * kGroupsPerResidue);
constexpr long residue_slot(int rho, int lane, int q) noexcept {
  const int row = lane * kResidueGroups + q / kGroupsPerResidue;
  const int chunk = rho / kLanes + kResidueGroups * (q % kGroupsPerResidue);
  return kRowStride * row + static_cast<long>(kChunkDoubles) * chunk;
}

// ---------------------------------------------------------------- pass A --
//
// Point p = b * kBlock + i of block b receives input n = rev21(p) =
// rev12(i) * kRows + rev9(b): the block gathers the inputs n = rho (mod
// kRows), rho = rev9(b), one per input row. Four blocks with rho, rho + 1,
// rho + 2, rho + 3 are done together, so that every input row is read as one
// run of 4 consecutive inputs, one per lane: lanes are blocks until the first
// two stages are done, then a transpose makes each block's chunk.

// Residue layout of kN complex values (the ifft's input, regrouped): split
// chunks ordered by residue group, each group's 4096 rows in one run of
// 256 KiB (a region, kRegionStride apart). The chunk of values n..n+3 (row
// n / kRows, residues n mod kRows) lies at this offset in doubles.
constexpr long residue_offset(int k) noexcept {
  return k % kRows / kLanes * kRegionStride + static_cast<long>(k / kRows) * kChunkDoubles;
}

// Inputs of pass A: operator()(n) gives the 4 consecutive inputs n..n+3 (n a
// multiple of 4); prefetch(rho, i) is called at step i of the residue group
// rho (see pass_a_group for the rows that step reads).
constexpr int kAhead = 8;  // steps
template <class S>
struct RealSamples {  // fft: samples, zero beyond kSpan, imaginary parts +0
  static constexpr bool kRowsInOrder = false;
  static constexpr bool kUpperHalfZero = true;
  const double* x;
  AM_INLINE Cx<S> operator()(int n) const noexcept {
    return {n < kSpan ? S::load(x + n) : S::zero(), S::zero()};
  }
  AM_INLINE void prefetch(int rho, int i) const noexcept;
};
template <class S>
struct RegionValues {  // values in the residue layout, streamed from memory
  static constexpr bool kRowsInOrder = true;
  static constexpr bool kUpperHalfZero = false;
  const double* z;
  AM_INLINE Cx<S> operator()(int n) const noexcept { return load_chunk<S>(z + residue_offset(n)); }
  // Rows i + kAhead + u * kBlock / 4, u = 0..3: four streams through the
  // region, read in order.
  AM_INLINE void prefetch(int rho, int i) const noexcept {
    constexpr int kQuarterRows = kBlock / 4;
    if (i + kAhead < kQuarterRows) {
      for (int u = 0; u < 4; ++u) {
        S::prefetch(z + residue_offset((i + kAhead + u * kQuarterRows) * kRows + rho));
      }
    }
  }
};

// The caller's interleaved values regrouped into the residue layout, input
// row by input row: both sides run through memory in order, and pass A then
// reads each residue group's rows as one run instead of one line per page.
template <class S>
void regroup(const double* x, double* z) noexcept {
  for (int n = 0; n < kN; n += kLanes) {
    Cx<S> v;
    S::load_interleaved(x + 2 * n, v.re, v.im);
    store_chunk<S>(z + residue_offset(n), v);
  }
}

// Stages s, s+1 (half-spans h, 2h) on the points p, p + h, p + 2h, p + 3h
// whose chunk starts at blk (m = p mod h). Pass A's table keeps stage h's
// twiddle for m at index h + m.
template <class S, bool kFirst>
AM_INLINE void block_quad(double* blk, int h, int m, const double* cosv,
                          const double* sinv) noexcept {
  Cx<S> a0 = load_chunk<S>(blk);
  Cx<S> a1 = load_chunk<S>(blk + 2 * h);
  Cx<S> a2 = load_chunk<S>(blk + 4 * h);
  Cx<S> a3 = load_chunk<S>(blk + 6 * h);
  const Cx<S> w1{S::load(cosv + h + m), S::load(sinv + h + m)};
  const Cx<S> w2{S::load(cosv + 2 * h + m), S::load(sinv + 2 * h + m)};
  const Cx<S> w3{S::load(cosv + 3 * h + m), S::load(sinv + 3 * h + m)};
  radix4<S, kFirst>(a0, a1, a2, a3, w1, w2, w3);
  store_chunk<S>(blk, a0);
  store_chunk<S>(blk + 2 * h, a1);
  store_chunk<S>(blk + 4 * h, a2);
  store_chunk<S>(blk + 6 * h, a3);
}

// Stages s, s+1 (half-spans h, 2h) over len points at blk (len a multiple of
// 4h; point p's chunk at 2p doubles).
template <class S>
inline void block_stage_pair(double* blk, int len, int h, const double* cosv,
                             const double* sinv) noexcept {
  for (int g = 0; g < len; g += 4 * h) {
    double* base = blk + 2 * g;
    block_quad<S, true>(base, h, 0, cosv, sinv);
    for (int m = kLanes; m < h; m += kLanes) {
      block_quad<S, false>(base + 2 * m, h, m, cosv, sinv);
    }
  }
}

// Stages 3..8 on a 256-point piece, which stays in the first-level cache;
// stages 9..12 over the whole block.
constexpr int kPiece = 256;
template <class S>
inline void piece_stages(double* piece, const double* cosv, const double* sinv) noexcept {
  for (int h = 4; h < kPiece; h *= 4) {
    block_stage_pair<S>(piece, kPiece, h, cosv, sinv);
  }
}
template <class S>
inline void late_block_stages(double* blk, const double* cosv, const double* sinv) noexcept {
  for (int h = kPiece; h < kBlock; h *= 4) {
    block_stage_pair<S>(blk, kBlock, h, cosv, sinv);
  }
}

// Stages 9..12 of the block for residue rho + lane, the last pair (11, 12)
// leaving each chunk q in its slot of work (residue_slot) instead of in
// place: the same butterflies as late_block_stages, the stores interleaved
// with them.
template <class S>
inline void late_block_stages_to_slots(double* blk, int rho, int lane, double* work,
                                       const double* cosv, const double* sinv) noexcept {
  block_stage_pair<S>(blk, kBlock, kPiece, cosv, sinv);
  constexpr int h = kBlock / 4;  // stage 11's half-span
  auto quad = [&](int m, auto first) AM_INLINE_LAMBDA {
    Cx<S> a[4];
    for (int k = 0; k < 4; ++k) {
      a[k] = load_chunk<S>(blk + 2 * (m + k * h));
    }
    const Cx<S> w1{S::load(cosv + h + m), S::load(sinv + h + m)};
    const Cx<S> w2{S::load(cosv + 2 * h + m), S::load(sinv + 2 * h + m)};
    const Cx<S> w3{S::load(cosv + 3 * h + m), S::load(sinv + 3 * h + m)};
    radix4<S, decltype(first)::value>(a[0], a[1], a[2], a[3], w1, w2, w3);
    for (int k = 0; k < 4; ++k) {
      store_chunk<S>(work + residue_slot(rho, lane, (m + k * h) / kLanes), a[k]);
    }
  };
  quad(0, std::true_type{});
  for (int m = kLanes; m < h; m += kLanes) {
    quad(m, std::false_type{});
  }
}

// The first two stages of chunk q of the blocks of residues rho..rho+3 (the
// lanes), from the rows row + rev12(u), u = 0..3, stored at blocks[lane].
template <class S, class Source>
AM_INLINE void first_stages(const Source& source, int rho, int row, int q, const Cx<S>& w,
                            double* const* blocks) noexcept {
  constexpr int kQuarterRows = kBlock / 4;
  Cx<S> v0 = source(row * kRows + rho);
  Cx<S> v2 = source((row + kQuarterRows) * kRows + rho);
  Cx<S> v1;
  Cx<S> v3;
  if constexpr (Source::kUpperHalfZero) {
    // Rows from kBlock / 2 on hold inputs n >= N/2 > kSpan: zeros, (+0, +0).
    v1 = v3 = Cx<S>{S::zero(), S::zero()};
  } else {
    v1 = source((row + 2 * kQuarterRows) * kRows + rho);
    v3 = source((row + 3 * kQuarterRows) * kRows + rho);
  }
  butterfly_plain<S>(v0, v1);  // stage 1: (4q, 4q+1), (4q+2, 4q+3)
  butterfly_plain<S>(v2, v3);
  butterfly_plain<S>(v0, v2);  // stage 2: (4q, 4q+2) plain, (4q+1, 4q+3) at N/4
  butterfly<S, false>(v1, v3, w);
  S::transpose(v0.re, v1.re, v2.re, v3.re);
  S::transpose(v0.im, v1.im, v2.im, v3.im);
  store_chunk<S>(blocks[0] + kChunkDoubles * q, v0);
  store_chunk<S>(blocks[1] + kChunkDoubles * q, v1);
  store_chunk<S>(blocks[2] + kChunkDoubles * q, v2);
  store_chunk<S>(blocks[3] + kChunkDoubles * q, v3);
}

// One group of pass A: the blocks rev9(rho + lane) of the residues rho + lane
// (blocks[lane], kBlock points in split chunks each), left there, or with
// slots, moved by the last two stages to their slots in that work array.
template <class S, class Source>
void pass_a_group(const Source& source, int rho, double* const* blocks, const double* cosv,
                  const double* sinv, double* slots = nullptr) noexcept {
  // Stage 2's only twiddle, j = N/4 (m = 1): (+0, -1) forward, (+0, +1) inverse.
  const Cx<S> w{S::splat(cosv[3]), S::splat(sinv[3])};
  // Chunk q of a block holds points 4q + u, u = 0..3, whose inputs lie in
  // rows rev12(4q + u) = rev10(q) + rev12(u). Either the chunks are written
  // in order and the rows read in bit-reversed order (prefetched), or, for a
  // source that streams from memory, the rows are read in order and the
  // chunks written where they belong.
  constexpr int kChunksPerPiece = kPiece / kLanes;
  if constexpr (Source::kRowsInOrder) {
    for (int lane = 0; lane < kLanes; ++lane) {
      claim_lines(blocks[lane], sizeof(double) * 2 * kBlock);
    }
  }
  for (int i = 0; i < kBlock / kLanes; ++i) {
    source.prefetch(rho, i);
    const int row = Source::kRowsInOrder ? i : kChunkReversal.value[i];
    const int q = Source::kRowsInOrder ? kChunkReversal.value[i] : i;
    first_stages<S>(source, rho, row, q, w, blocks);
    // Written in order, a piece is complete after its last chunk: its stages
    // follow while it is still in the first-level cache.
    if (!Source::kRowsInOrder && (q + 1) % kChunksPerPiece == 0) {
      for (int lane = 0; lane < kLanes; ++lane) {
        piece_stages<S>(blocks[lane] + 2 * kLanes * (q + 1 - kChunksPerPiece), cosv, sinv);
      }
    }
  }
  for (int lane = 0; lane < kLanes; ++lane) {
    if (Source::kRowsInOrder) {
      for (int piece = 0; piece < kBlock; piece += kPiece) {
        piece_stages<S>(blocks[lane] + 2 * piece, cosv, sinv);
      }
    }
    if (slots != nullptr) {
      late_block_stages_to_slots<S>(blocks[lane], rho, lane, slots, cosv, sinv);
    } else {
      late_block_stages<S>(blocks[lane], cosv, sinv);
    }
  }
}

// Pass A over all residues, block b left as row b of a work array.
template <class S, class Source>
void pass_a(const Source& source, double* work, const double* cosv, const double* sinv) noexcept {
  for (int rho = 0; rho < kRows; rho += kLanes) {
    double* blocks[kLanes];
    for (int lane = 0; lane < kLanes; ++lane) {
      blocks[lane] = work + kRowStride * kRowReversal.value[rho + lane];
    }
    pass_a_group<S>(source, rho, blocks, cosv, sinv);
  }
}

// Defined here, after first_stages' row pattern: the rows of step i + kAhead.
template <class S>
AM_INLINE void RealSamples<S>::prefetch(int rho, int i) const noexcept {
  constexpr int kQuarterRows = kBlock / 4;
  if (i + kAhead < kQuarterRows) {
    const int row = kChunkReversal.value[i + kAhead];
    for (int u = 0; u < 2; ++u) {  // rows row, row + kBlock / 4; the upper half is zero
      const int n = (row + u * kQuarterRows) * kRows + rho;
      if (n < kSpan) {
        S::prefetch(x + n);
      }
    }
  }
}

// ---------------------------------------------------------------- pass B --
//
// Column group g holds points l + t * kBlock for l = 4g..4g+3 (the lanes) and
// rows t < kRows; stage 12 + k pairs rows that differ in bit k - 1 of t. The
// twiddle of lane l, row t at stage s is W(m), m = (l + t * kBlock) mod 2^(s-1),
// which is 0 only in group 0, lane 0, for rows with t mod 2^(s-13) = 0.

// Where pass B finds its rows: the chunks of columns l0..l0+3 (l0 a multiple
// of 4) of the blocks t and t + 1 that pass A left, which its first stage
// pairs. pair(i, l0) gives the i-th pair (i < kRows / 2) in the order the
// first stage loads them: any order does, as its butterflies are
// independent, and the order of their addresses lets the processor fetch
// ahead.
struct RowPair {
  int t;                 // even
  const double* first;   // block t
  const double* second;  // block t + 1
};
struct WorkRows {  // block t as row t of a work array, pairs in row order
  double* work;
  AM_INLINE RowPair pair(int i, int l0) const noexcept {
    const double* p = work + kRowStride * (2 * i) + 2 * l0;
    return {2 * i, p, p + kRowStride};
  }
  // The k-th chunk the first stage loads (k < kRows): first, second, ...
  AM_INLINE const double* ahead(int k, int l0) const noexcept {
    return work + kRowStride * k + 2 * l0;
  }
};

// Where pass B puts points k..k+3 (k a multiple of 4) after the last stage.
// fft, ifft: the caller's array, in natural order. A column group leaves one
// chunk in each of its rows, 64 KiB apart; written straight away such
// scattered lines are slow, so the results of kStagedGroups groups collect
// in a staging buffer first and then go out row by row, kStagedGroups
// chunks at a time (streaming, with kStream: y aligned for it).
constexpr int kStagedGroups = 8;
template <class S, bool kScale, bool kStream>
struct InterleavedOut {
  static constexpr bool kRealOnly = false;
  double* y;
  double* staging;  // kRows * kStagedGroups chunks
  AM_INLINE void operator()(int k, Cx<S> v) const noexcept {
    if constexpr (kScale) {
      v.re = S::mul(v.re, S::splat(kInverseScale));
      v.im = S::mul(v.im, S::splat(kInverseScale));
    }
    const int t = k / kBlock;
    const int slot = k % kBlock / kLanes % kStagedGroups;
    S::template store_interleaved<false>(staging + (t * kStagedGroups + slot) * kChunkDoubles, v.re,
                                         v.im);
  }
  void group_done(int l0) const noexcept {
    if (l0 / kLanes % kStagedGroups != kStagedGroups - 1) {
      return;
    }
    const int first = l0 + kLanes - kStagedGroups * kLanes;
    for (int t = 0; t < kRows; ++t) {
      const double* from = staging + t * kStagedGroups * kChunkDoubles;
      double* to = y + 2L * (first + t * kBlock);
      for (int i = 0; i < kStagedGroups * kChunkDoubles; i += kLanes) {
        S::template store<kStream>(to + i, S::load(from + i));
      }
    }
  }
};
static_assert(kBlock / kLanes % kStagedGroups == 0);
// The staging buffer is the engine's kBlock chunks of scratch.
static_assert(kRows * kStagedGroups <= kBlock);

// A column group's results back into its own buffer of kRows rows (the last
// stages read each row before they write it).
template <class S>
struct RowsOut {
  static constexpr bool kRealOnly = false;
  double* rows;
  AM_INLINE void operator()(int k, Cx<S> v) const noexcept {
    store_chunk<S>(rows + kChunkDoubles * (k / kBlock), v);
  }
  void group_done(int) const noexcept {}
};
// The cross-spectrum X * conj(Y) of one column group (X, the first signal's,
// unconjugated): X from its buffer, Y as it leaves the last stages; the
// products go to a buffer of the residue group's 4096 rows (row k / kRows).
template <class S>
struct CrossOut {
  static constexpr bool kRealOnly = false;
  const double* x_rows;
  double* cross;
  AM_INLINE void operator()(int k, Cx<S> y) const noexcept {
    const Cx<S> x = load_chunk<S>(x_rows + kChunkDoubles * (k / kBlock));
    const Cx<S> c{S::add(S::mul(x.re, y.re), S::mul(x.im, y.im)),
                  S::sub(S::mul(x.im, y.re), S::mul(x.re, y.im))};
    store_chunk<S>(cross + kChunkDoubles * (k / kRows), c);
  }
  void group_done(int) const noexcept {}
};
// Pass A's input from such a buffer (every n in it has the group's residues).
template <class S>
struct GroupValues {  // in the cache already
  static constexpr bool kRowsInOrder = false;
  static constexpr bool kUpperHalfZero = false;
  const double* rows;
  AM_INLINE Cx<S> operator()(int n) const noexcept {
    return load_chunk<S>(rows + kChunkDoubles * (n / kRows));
  }
  AM_INLINE void prefetch(int, int) const noexcept {}
};
// The correlation's lags: scaled real parts, staged like InterleavedOut's
// results and then copied to r in runs of 4 * kStagedGroups lags. Lag m >= 0
// is point m, at r[719999 + m]; lag m < 0 is point N + m, at
// r[N + m - kNegativeStart]; points kSpan .. kNegativeStart - 1 are lags
// that two kSpan-sample signals cannot have.
template <class S>
struct LagsOut {
  static constexpr bool kRealOnly = true;
  static constexpr int kRun = kLanes * kStagedGroups;
  static constexpr int kNegativeStart = kN - (kSpan - 1);
  double* r;
  double* staging;  // kRows runs
  AM_INLINE void operator()(int k, Cx<S> v) const noexcept {
    const int t = k / kBlock;
    const int slot = k % kBlock / kLanes % kStagedGroups;
    S::store(staging + t * kRun + slot * kLanes, S::mul(v.re, S::splat(kInverseScale)));
  }
  void group_done(int l0) const noexcept {
    if (l0 / kLanes % kStagedGroups != kStagedGroups - 1) {
      return;
    }
    const int first = l0 + kLanes - kRun;
    for (int t = 0; t < kRows; ++t) {
      const double* from = staging + t * kRun;
      const int k = first + t * kBlock;  // a multiple of kRun, as kSpan is
      if (k < kSpan) {
        copy(from, r + (kSpan - 1) + k, kRun);
      } else if (k >= kNegativeStart) {
        copy(from, r + (k - kNegativeStart), kRun);
      } else if (k + kRun > kNegativeStart) {
        copy(from + (kNegativeStart - k), r, k + kRun - kNegativeStart);
      }
    }
  }
  static void copy(const double* from, double* to, int count) noexcept {
    int i = 0;
    for (; i + kLanes <= count; i += kLanes) {
      S::store(to + i, S::load(from + i));
    }
    for (; i < count; ++i) {
      to[i] = from[i];
    }
  }
};
static_assert(kSpan % (kLanes * kStagedGroups) == 0);

template <class S, bool kInverse>
AM_INLINE Cx<S> column_twiddle(const double* tw, int entry) noexcept {
  const double* p = tw + kChunkDoubles * entry;
  const auto wi = S::load(p + kLanes);
  return {S::load(p), kInverse ? S::negate(wi) : wi};
}

// Stages s, s+1 on the buffered rows t, t + r, t + 2r, t + 3r of one column
// group, r = 2^(s-13) and c = t mod r; the group's table keeps stage s at
// entries r - 1 + c.
template <class S, bool kInverse, bool kFirst>
AM_INLINE void row_quad(const double* p, int r, int c, const double* tw, Cx<S>& a0, Cx<S>& a1,
                        Cx<S>& a2, Cx<S>& a3) noexcept {
  a0 = load_chunk<S>(p);
  a1 = load_chunk<S>(p + kChunkDoubles * r);
  a2 = load_chunk<S>(p + kChunkDoubles * 2 * r);
  a3 = load_chunk<S>(p + kChunkDoubles * 3 * r);
  radix4<S, kFirst>(a0, a1, a2, a3, column_twiddle<S, kInverse>(tw, r - 1 + c),
                    column_twiddle<S, kInverse>(tw, 2 * r - 1 + c),
                    column_twiddle<S, kInverse>(tw, 3 * r - 1 + c));
}

template <class S, bool kInverse, bool kFirst>
AM_INLINE void row_quad_in_place(double* buf, int t, int r, int c, const double* tw) noexcept {
  double* p = buf + kChunkDoubles * t;
  Cx<S> a0, a1, a2, a3;
  row_quad<S, kInverse, kFirst>(p, r, c, tw, a0, a1, a2, a3);
  store_chunk<S>(p, a0);
  store_chunk<S>(p + kChunkDoubles * r, a1);
  store_chunk<S>(p + kChunkDoubles * 2 * r, a2);
  store_chunk<S>(p + kChunkDoubles * 3 * r, a3);
}

// Prefetches the rows of the next column group, one per step: the 4 stage
// pairs after stage 13 take kRows / 4 steps each, one per row, and cover all
// its rows while this group computes. The lines go to the second-level cache.
template <class S, class Rows>
struct RowPrefetch {
  Rows rows;
  int l0;  // the next group's first column, or -1 after the last group
  int k = 0;
  AM_INLINE void step() noexcept {
    if (l0 >= 0) {
      S::prefetch_far(rows.ahead(k, l0));
      ++k;
    }
  }
};

template <class S, bool kInverse, bool kGroup0, class Prefetch>
inline void row_stage_pair(double* buf, int begin, int len, int r, const double* tw,
                           Prefetch& ahead) noexcept {
  for (int blk = begin; blk < begin + len; blk += 4 * r) {
    ahead.step();
    row_quad_in_place<S, kInverse, kGroup0>(buf, blk, r, 0, tw);
    for (int c = 1; c < r; ++c) {
      ahead.step();
      row_quad_in_place<S, kInverse, false>(buf, blk + c, r, c, tw);
    }
  }
}

// Stages 20 and 21 on rows c, c + r, c + 2r, c + 3r (r = kRows / 4),
// straight to the sink.
template <class S, bool kInverse, bool kFirst, class Sink>
AM_INLINE void last_quad(const double* buf, int c, const double* tw, const Sink sink,
                         int l0) noexcept {
  constexpr int r = kRows / 4;
  const double* p = buf + kChunkDoubles * c;
  Cx<S> a0 = load_chunk<S>(p);
  Cx<S> a1 = load_chunk<S>(p + kChunkDoubles * r);
  Cx<S> a2 = load_chunk<S>(p + kChunkDoubles * 2 * r);
  Cx<S> a3 = load_chunk<S>(p + kChunkDoubles * 3 * r);
  const Cx<S> w1 = column_twiddle<S, kInverse>(tw, r - 1 + c);
  const Cx<S> w2 = column_twiddle<S, kInverse>(tw, 2 * r - 1 + c);
  const Cx<S> w3 = column_twiddle<S, kInverse>(tw, 3 * r - 1 + c);
  if constexpr (Sink::kRealOnly) {
    radix4_real_out<S, kFirst>(a0, a1, a2, a3, w1, w2, w3);
  } else {
    radix4<S, kFirst>(a0, a1, a2, a3, w1, w2, w3);
  }
  sink(l0 + c * kBlock, a0);
  sink(l0 + (c + r) * kBlock, a1);
  sink(l0 + (c + 2 * r) * kBlock, a2);
  sink(l0 + (c + 3 * r) * kBlock, a3);
}

// Stages 13..21 of the column group at l0 (a multiple of 4);
// next_l0 is the group that follows (-1: none), whose rows are prefetched
// meanwhile. buf: kRows chunks of scratch.
template <class S, bool kInverse, bool kGroup0, class Rows, class Sink>
inline void column_group_stages(const Rows rows, const Sink sink, const double* tw, double* buf,
                                int l0, int next_l0) noexcept {
  // Stage 13 (rows t, t+1; one twiddle for the whole group) on the way in:
  // all rows are loaded in one run, which keeps many loads in flight.
  const Cx<S> w = column_twiddle<S, kInverse>(tw, 0);
  for (int i = 0; i < kRows / 2; ++i) {
    const RowPair p = rows.pair(i, l0);
    Cx<S> a = load_chunk<S>(p.first);
    Cx<S> b = load_chunk<S>(p.second);
    butterfly<S, kGroup0>(a, b, w);
    store_chunk<S>(buf + kChunkDoubles * p.t, a);
    store_chunk<S>(buf + kChunkDoubles * (p.t + 1), b);
  }
  // Stages 14..19, then 20 and 21 straight to the sink.
  RowPrefetch<S, Rows> ahead{rows, next_l0};
  for (int r = 2; r < kRows / 4; r *= 4) {
    row_stage_pair<S, kInverse, kGroup0>(buf, 0, kRows, r, tw, ahead);
  }
  ahead.step();
  last_quad<S, kInverse, kGroup0>(buf, 0, tw, sink, l0);
  for (int c = 1; c < kRows / 4; ++c) {
    ahead.step();
    last_quad<S, kInverse, false>(buf, c, tw, sink, l0);
  }
}

template <class S, bool kInverse, class Rows, class Sink>
inline void column_group(const Rows rows, const Sink sink, const double* column_tables, double* buf,
                         int l0, int next_l0) noexcept {
  const double* tw = column_tables + (l0 / kLanes) * kGroupTwiddles * kChunkDoubles;
  if (l0 == 0) {
    column_group_stages<S, kInverse, true>(rows, sink, tw, buf, l0, next_l0);
  } else {
    column_group_stages<S, kInverse, false>(rows, sink, tw, buf, l0, next_l0);
  }
  sink.group_done(l0);
}

template <class S, bool kInverse, class Rows, class Sink>
void pass_b(const Rows rows, const Sink sink, const double* column_tables) noexcept {
  alignas(64) double buf[kRows * kChunkDoubles];  // 32 KiB
  for (int l0 = 0; l0 < kBlock; l0 += kLanes) {
    const int next = l0 + kLanes < kBlock ? l0 + kLanes : -1;
    column_group<S, kInverse>(rows, sink, column_tables, buf, l0, next);
  }
}

// ------------------------------------------------------------ the engine --

// The last stages go to the caller's array through the staging buffer,
// streaming when y is aligned for that.
template <class S, bool kScale, class Source>
void transform(const Source& source, double* work, double* staging, double* y, const double* cosv,
               const double* sinv, const double* column) noexcept {
  pass_a<S>(source, work, cosv, sinv);
  if (S::stream_aligned(y)) {
    pass_b<S, kScale>(WorkRows{work}, InterleavedOut<S, kScale, true>{y, staging}, column);
    S::stream_fence();
  } else {
    pass_b<S, kScale>(WorkRows{work}, InterleavedOut<S, kScale, false>{y, staging}, column);
  }
}

template <class S>
void forward(const double* x, double* work, double* staging, double* y, const Tables& t) noexcept {
  transform<S, false>(RealSamples<S>{x}, work, staging, y, t.block_cos, t.block_sin[0], t.column);
}

template <class S>
void inverse(const double* x, double* work, double* z, double* staging, double* y,
             const Tables& t) noexcept {
  regroup<S>(x, z);
  transform<S, true>(RegionValues<S>{z}, work, staging, y, t.block_cos, t.block_sin[1], t.column);
}

// The correlation, one residue group at a time, in two work arrays. Both
// signals go through pass A, y into work_y first and then x into work_x (so
// that y may lie in work_x). Then for each residue group rho..rho+3 the 8
// column groups l0 = rho + 512 v (v < 8) run pass B on x's and on y's column
// with the same twiddles, and complete the group's cross-spectrum in
// `cross`, which stays in the cache; the inverse's pass A takes it from there
// at once, in `scratch`, and its last two stages leave the group's 4 blocks
// in the slots of work_y that those column groups have just read (their
// lines still in the caches): 4096 chunks either way (residue_slot). The
// inverse's pass B reads them there (ResidueSlots) and writes the lags;
// work_x is dead by then, so r may lie in it too.
//
// A column group of the inverse's pass B (q = l0 / 4) reads 4 runs of 128
// consecutive chunks, one in each of 4 rows of work_y, where a third work
// array gave it one chunk in each of 512 rows.

// The inverse's blocks in work_y: block t came from residue u = rev9(t),
// lane u mod 4 of the residue group u - u mod 4; block t + 1 (t even) from
// u + 256, the same lane of the group 64 further on, so its chunk lies 64
// chunks after block t's in the same row. Pairs come in address order: the
// lanes' rows one after the other, along each row's run from u = lane.
struct ResidueSlots {
  static constexpr int kPairsPerRun = kResidueGroups / 2;  // 64
  // Lane l's run starts kRunStride after lane 0's (residue_slot).
  static constexpr long kRunStride = kResidueGroups * kRowStride;
  double* work;
  // Lane 0's run of the column group l0: residue_slot(0, 0, l0 / 4).
  AM_INLINE const double* run(int l0) const noexcept {
    return work + residue_slot(0, 0, l0 / kLanes);
  }
  AM_INLINE RowPair pair(int i, int l0) const noexcept {
    const int lane = i / kPairsPerRun;
    const int g = i % kPairsPerRun;  // the residue group of the pair's first block
    const double* p = run(l0) + kRunStride * lane + kChunkDoubles * g;
    return {kRowReversal.value[kLanes * g + lane], p, p + kPairsPerRun * kChunkDoubles};
  }
  // The runs in address order (each chunk once; the order of the prefetches
  // changes no value).
  AM_INLINE const double* ahead(int k, int l0) const noexcept {
    return run(l0) + kRunStride * (k / kResidueGroups) + kChunkDoubles * (k % kResidueGroups);
  }
};
static_assert(residue_slot(kLanes * 5, 3, 9) ==
              residue_slot(0, 0, 9) + ResidueSlots::kRunStride * 3 + kChunkDoubles * 5);
static_assert(kRowReversal.value[kRows / 2] == 1);  // rev9(u + 256) = rev9(u) + 1

template <class S>
void correlate(const double* x, const double* y, double* r, const Workspace& w,
               const Tables& t) noexcept {
  double* work_x = w.work[0];
  double* work_y = w.work[1];
  pass_a<S>(RealSamples<S>{y}, work_y, t.block_cos, t.block_sin[0]);
  pass_a<S>(RealSamples<S>{x}, work_x, t.block_cos, t.block_sin[0]);
  alignas(64) double x_rows[kRows * kChunkDoubles];
  alignas(64) double y_rows[kRows * kChunkDoubles];
  const WorkRows xr{work_x};
  const WorkRows yr{work_y};
  for (int rho = 0; rho < kRows; rho += kLanes) {
    for (int v = 0; v < kGroupsPerResidue; ++v) {
      const int l0 = rho + v * kRows;
      const int next = v + 1 < kGroupsPerResidue ? l0 + kRows
                       : rho + kLanes < kRows    ? rho + kLanes
                                                 : -1;
      const double* tw = t.column + (l0 / kLanes) * kGroupTwiddles * kChunkDoubles;
      const RowsOut<S> to_x{x_rows};
      const CrossOut<S> to_cross{x_rows, w.cross};
      if (l0 == 0) {
        column_group_stages<S, false, true>(xr, to_x, tw, x_rows, l0, next);
        column_group_stages<S, false, true>(yr, to_cross, tw, y_rows, l0, next);
      } else {
        column_group_stages<S, false, false>(xr, to_x, tw, x_rows, l0, next);
        column_group_stages<S, false, false>(yr, to_cross, tw, y_rows, l0, next);
      }
    }
    double* blocks[kLanes];
    for (int lane = 0; lane < kLanes; ++lane) {
      blocks[lane] = w.scratch + kRowStride * lane;
    }
    pass_a_group<S>(GroupValues<S>{w.cross}, rho, blocks, t.block_cos, t.block_sin[1], work_y);
  }
  pass_b<S, true>(ResidueSlots{work_y}, LagsOut<S>{r, w.cross}, t.column);
}

// The engine for the instruction-set traits Isa.
template <class Isa>
constexpr Engine make_engine() noexcept {
  using S = typename Isa::Quad;
  return {&forward<S>, &inverse<S>, &correlate<S>, Isa::kIsa};
}

}  // namespace
}  // namespace spectral

#undef AM_INLINE
#undef AM_INLINE_LAMBDA
