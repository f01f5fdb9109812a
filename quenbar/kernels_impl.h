// The frame sums behind kernels::Table, written once over the instruction-set
// traits (runtime/simd_sse2.h, runtime/simd_avx2.h) and included by
// kernels_sse2.cpp and kernels_avx2.cpp only. Everything here has internal
// linkage and calls nothing from the standard library, so that no code built
// for AVX2 can stand in for baseline code (see runtime/simd_avx2.h).
//
// Frames are independent of one another, so several are summed side by side,
// one SIMD lane per frame; within a frame the sum still runs from its first
// sample to its last in one accumulator, which keeps every bit of the
// straightforward loop. Indices count from 0.
#pragma once

#include <cstddef>
#include <cstdint>

#include "quenbar/kernels.h"

namespace quenbar::kernels {
namespace {

template <class Isa>
struct FrameLanes {
  using V = typename Isa::V;
  static constexpr int W = Isa::kWidth;

  static V square(V v) noexcept { return Isa::mul(v, v); }

  static void frame_sums(const double* g, const double* m, std::size_t len, std::size_t count,
                         double* gate_sums, double* measured_sums) noexcept {
    // Lane i walks its own run of q consecutive frames, i*q .. i*q + q - 1,
    // so that each lane reads one unbroken stream of each signal (which the
    // processor's prefetcher follows); the frames left over go one at a time.
    const std::size_t q = count / W;
    const std::size_t run = q * len;
    for (std::size_t f = 0; f < q; ++f) {
      const double* gl[W];
      const double* ml[W];
      for (int i = 0; i < W; ++i) {
        gl[i] = g + f * len + i * run;
        ml[i] = m + f * len + i * run;
      }
      // Lane i holds frame i*q + f's sum over samples 0 .. k-1; W samples of
      // W frames are loaded and transposed so that each addition brings the
      // next sample of every frame.
      V acc_g = square(Isa::gather(gl, 0));
      V acc_m = square(Isa::gather(ml, 0));
      std::size_t k = 1;
      for (; k + W <= len; k += W) {
        V vg[W];
        V vm[W];
        Isa::load_transposed(gl, static_cast<std::int64_t>(k), vg);
        Isa::load_transposed(ml, static_cast<std::int64_t>(k), vm);
        for (int t = 0; t < W; ++t) {
          acc_g = Isa::add(acc_g, square(vg[t]));
          acc_m = Isa::add(acc_m, square(vm[t]));
        }
      }
      for (; k < len; ++k) {
        acc_g = Isa::add(acc_g, square(Isa::gather(gl, static_cast<std::int64_t>(k))));
        acc_m = Isa::add(acc_m, square(Isa::gather(ml, static_cast<std::int64_t>(k))));
      }
      double lanes_g[W];
      double lanes_m[W];
      Isa::store(lanes_g, acc_g);
      Isa::store(lanes_m, acc_m);
      for (int i = 0; i < W; ++i) {
        gate_sums[i * q + f] = lanes_g[i];
        measured_sums[i * q + f] = lanes_m[i];
      }
    }
    for (std::size_t j = W * q; j < count; ++j) {
      one_frame(g + j * len, m + j * len, len, gate_sums + j, measured_sums + j);
    }
  }

  // acc_g holds g[0]^2 + ... + g[k-1]^2, added left to right; acc_m likewise.
  static void one_frame(const double* g, const double* m, std::size_t len, double* gate_sum,
                        double* measured_sum) noexcept {
    double acc_g = g[0] * g[0];
    double acc_m = m[0] * m[0];
    for (std::size_t k = 1; k < len; ++k) {
      const double sg = g[k] * g[k];
      const double sm = m[k] * m[k];
      acc_g = acc_g + sg;
      acc_m = acc_m + sm;
    }
    *gate_sum = acc_g;
    *measured_sum = acc_m;
  }

  static constexpr Table table() noexcept { return Table{&frame_sums, Isa::kIsa}; }
};

}  // namespace
}  // namespace quenbar::kernels
