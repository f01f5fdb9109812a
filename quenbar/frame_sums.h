// Sums of squares of consecutive frames of the gate and the measured signal.
#pragma once

#include <cstddef>

namespace quenbar {

// For frames j = 0 .. count-1 of len >= 1 samples each (frame j starts at
// sample j * len, counting from 0):
//   gate_sums[j]     = g[j*len]^2 + g[j*len + 1]^2 + ... + g[j*len + len - 1]^2
//   measured_sums[j] = the same over m,
// each formed in one accumulator from the frame's first sample to its last,
// so that every sum has the bits of the straightforward loop. The kernels
// differ only in how many frames they carry side by side (one SIMD lane per
// frame, each lane taking a run of consecutive frames); they read g and m at
// samples 0 .. count*len - 1 and nothing else.
using FrameSums = void (*)(const double* g, const double* m, std::size_t len, std::size_t count,
                           double* gate_sums, double* measured_sums) noexcept;

// One frame at a time.
void frame_sums_scalar(const double* g, const double* m, std::size_t len, std::size_t count,
                       double* gate_sums, double* measured_sums) noexcept;

#if defined(__SSE2__)
// Two frames per step (SSE2, part of the x86-64 baseline).
void frame_sums_sse2(const double* g, const double* m, std::size_t len, std::size_t count,
                     double* gate_sums, double* measured_sums) noexcept;
#endif

#if defined(QUENBAR_AVX2_KERNEL)
// Four frames per step. Only where runtime::cpu_has_avx2() says so.
void frame_sums_avx2(const double* g, const double* m, std::size_t len, std::size_t count,
                     double* gate_sums, double* measured_sums) noexcept;
#endif

}  // namespace quenbar
