// The linear passes of the estimation, side by side across independent sums.
//
// Every sum here is one lane of a vector, accumulated strictly from its first
// element to its last: lanes never mix, so a lane's bits are those of the
// plain left-to-right loop. The baseline table uses SSE2; a second table uses
// AVX2 and is offered only when the processor and the operating system
// support it (runtime/dispatch.h). Both give bit-identical results.
//
// A sum of squares starts from +0.0 rather than from its first square: the
// two agree exactly, since a square is never -0.0 and +0.0 + s is s for every
// other s (a NaN passes through unchanged).
#pragma once

#include <cstdint>

#include "runtime/dispatch.h"

namespace lumetra::kernels {

struct Table {
  // sums[f] = x[240 i]^2 + ... + x[240 i + 240]^2 for frame i = first + f,
  // f < count: the sums of squares of 241-sample onset frames. Every frame
  // must lie inside x.
  void (*frame_sums)(const double* x, std::int64_t first, std::int64_t count,
                     double* sums) noexcept;

  // For every lane l < lanes (a multiple of lane_multiple), over the samples
  // lane[l][0 .. blocks * 2400): step_sums[l] = their sum of squares, and
  // block_sums[l * stride + j] = the sum of squares of block j (samples
  // 2400 j .. 2400 j + 2399). *max = the largest of *max and every sample,
  // NaN samples skipped (*max is never NaN).
  void (*step_lanes)(const double* const* lane, int lanes, std::int64_t blocks, double* step_sums,
                     double* block_sums, std::int64_t stride, double* max) noexcept;

  // The largest of running and x[0 .. n), NaN values skipped; running is
  // never NaN, nor is the result.
  double (*max_skip_nan)(const double* x, std::int64_t n, double running) noexcept;

  int lane_multiple;  // lanes of step_lanes come in multiples of this
  runtime::Isa isa;
};

// The tables, one per instruction set, filled by Lanes (kernels_impl.h) in
// kernels_sse2.cpp and kernels_avx2.cpp. Take them through best() and
// for_isa(), which check that the processor runs them.
extern const Table kSse2Table;
extern const Table kAvx2Table;

// The table of the widest instruction set this machine runs.
inline const Table& best() noexcept {
  return runtime::widest(kSse2Table, kAvx2Table);
}

// The table for isa, or nullptr when this machine cannot run it (tests hand
// each table to the estimation's steps and compare it with the
// straightforward path).
inline const Table* for_isa(runtime::Isa isa) noexcept {
  return runtime::for_isa(isa, kSse2Table, kAvx2Table);
}

}  // namespace lumetra::kernels
