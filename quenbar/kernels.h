// Sums of squares of consecutive frames of the gate and the measured signal:
// the estimate's kernel table, one per instruction set.
#pragma once

#include <cstddef>

#include "runtime/dispatch.h"

namespace quenbar::kernels {

struct Table {
  // For frames j = 0 .. count-1 of len >= 1 samples each (frame j starts at
  // sample j * len, counting from 0):
  //   gate_sums[j]     = g[j*len]^2 + g[j*len + 1]^2 + ... + g[j*len + len - 1]^2
  //   measured_sums[j] = the same over m,
  // each formed in one accumulator from the frame's first sample to its last,
  // so that every sum has the bits of the straightforward loop. The tables
  // differ only in how many frames they carry side by side (one SIMD lane per
  // frame, each lane taking a run of consecutive frames); they read g and m
  // at samples 0 .. count*len - 1 and nothing else.
  void (*frame_sums)(const double* g, const double* m, std::size_t len, std::size_t count,
                     double* gate_sums, double* measured_sums) noexcept;
  runtime::Isa isa;
};

// The tables, one per instruction set, filled by FrameLanes (kernels_impl.h)
// in kernels_sse2.cpp and kernels_avx2.cpp. Take them through best() and
// for_isa(), which check that the processor runs them.
extern const Table kSse2Table;
extern const Table kAvx2Table;

// The table of the widest instruction set this machine runs.
inline const Table& best() noexcept {
  return runtime::widest(kSse2Table, kAvx2Table);
}

// The table for isa, or nullptr when this machine cannot run it (tests hand
// each table to the estimate and compare it with the reference path).
inline const Table* for_isa(runtime::Isa isa) noexcept {
  return runtime::for_isa(isa, kSse2Table, kAvx2Table);
}

}  // namespace quenbar::kernels
