// The lane algorithms behind kernels::Table, written once over the
// instruction-set traits (runtime/simd_sse2.h, runtime/simd_avx2.h) and
// included by kernels_sse2.cpp and kernels_avx2.cpp only.
//
// Everything here has internal linkage and calls nothing from the standard
// library: the two files are compiled for different instruction sets, and an
// out-of-line helper shared between them (an inline function, a template
// instance) could be merged by the linker into the AVX2 copy and then run on
// a processor without AVX2.
//
// Of the traits it uses: V (a vector of kWidth doubles), zero(), splat(a),
// add(a, b), mul(a, b), max_skip(v, m) (the larger of v and m, m when v is
// NaN), load(p), store(p, v), load_transposed(p, o, out) (out[t] holds
// p[l][o + t] in lane l, t < kWidth) and gather(p, o) (p[l][o] in lane l).
#pragma once

#include <cstdint>

#include "lumetra/constants.h"
#include "lumetra/kernels.h"

namespace lumetra::kernels {
namespace {

template <class Isa>
struct Lanes {
  using V = typename Isa::V;
  static constexpr int W = Isa::kWidth;
  static_assert(kHop % W == 0 && kBlock % W == 0);

  // Sums of squares of frames first .. first + count - 1 (lanes are frames).
  static void frame_sums(const double* x, std::int64_t first, std::int64_t count,
                         double* sums) noexcept {
    constexpr int kGroups = 3;  // vectors in flight, to cover the add latency
    std::int64_t f = 0;
    for (; f + kGroups * W <= count; f += kGroups * W) {
      frame_group<kGroups>(x, first + f, sums + f);
    }
    for (; f + W <= count; f += W) {
      frame_group<1>(x, first + f, sums + f);
    }
    for (; f < count; ++f) {
      const double* p = x + kHop * (first + f);
      // acc holds p[0]^2 + ... + p[k-1]^2, added left to right.
      double acc = 0.0;
      for (int k = 0; k < kFrame; ++k) {
        const double sq = p[k] * p[k];
        acc += sq;
      }
      sums[f] = acc;
    }
  }

  template <int G>
  static void frame_group(const double* x, std::int64_t first, double* sums) noexcept {
    const double* p[G * W];
    for (int l = 0; l < G * W; ++l) {
      p[l] = x + kHop * (first + l);
    }
    V acc[G];
    for (int g = 0; g < G; ++g) {
      acc[g] = Isa::zero();
    }
    // Lane l of acc[g] holds the squares of frame g * W + l up to offset o.
    for (std::int64_t o = 0; o < kHop; o += W) {
      for (int g = 0; g < G; ++g) {
        V v[W];
        Isa::load_transposed(p + g * W, o, v);
        for (int t = 0; t < W; ++t) {
          acc[g] = Isa::add(acc[g], Isa::mul(v[t], v[t]));
        }
      }
    }
    // The frame's last sample, shared with the next frame.
    for (int g = 0; g < G; ++g) {
      const V v = Isa::gather(p + g * W, kHop);
      acc[g] = Isa::add(acc[g], Isa::mul(v, v));
      Isa::store(sums + g * W, acc[g]);
    }
  }

  // Lanes are steps: one pass of G vectors of W lanes each over the blocks.
  template <int G>
  static void step_group(const double* const* p, std::int64_t blocks, double* step_sums,
                         double* block_sums, std::int64_t stride, double* max) noexcept {
    V step[G];
    V high[G];
    for (int g = 0; g < G; ++g) {
      step[g] = Isa::zero();
      high[g] = Isa::splat(*max);
    }
    for (std::int64_t j = 0; j < blocks; ++j) {
      V block[G];
      for (int g = 0; g < G; ++g) {
        block[g] = Isa::zero();
      }
      const std::int64_t end = (j + 1) * kBlock;
      for (std::int64_t o = j * kBlock; o < end; o += W) {
        for (int g = 0; g < G; ++g) {
          V v[W];
          Isa::load_transposed(p + g * W, o, v);
          for (int t = 0; t < W; ++t) {
            const V sq = Isa::mul(v[t], v[t]);
            step[g] = Isa::add(step[g], sq);
            block[g] = Isa::add(block[g], sq);
            high[g] = Isa::max_skip(v[t], high[g]);
          }
        }
      }
      for (int g = 0; g < G; ++g) {
        double lanes[W];
        Isa::store(lanes, block[g]);
        for (int l = 0; l < W; ++l) {
          block_sums[(g * W + l) * stride + j] = lanes[l];
        }
      }
    }
    for (int g = 0; g < G; ++g) {
      Isa::store(step_sums + g * W, step[g]);
      double lanes[W];
      Isa::store(lanes, high[g]);
      for (int l = 0; l < W; ++l) {
        if (lanes[l] > *max) {
          *max = lanes[l];
        }
      }
    }
  }

  static void step_lanes(const double* const* lane, int lanes, std::int64_t blocks,
                         double* step_sums, double* block_sums, std::int64_t stride,
                         double* max) noexcept {
    // Three vectors in flight keep the adds busy without spilling registers.
    int l = 0;
    for (; l + 3 * W <= lanes; l += 3 * W) {
      step_group<3>(lane + l, blocks, step_sums + l, block_sums + l * stride, stride, max);
    }
    if (l + 2 * W <= lanes) {
      step_group<2>(lane + l, blocks, step_sums + l, block_sums + l * stride, stride, max);
      l += 2 * W;
    }
    if (l + W <= lanes) {
      step_group<1>(lane + l, blocks, step_sums + l, block_sums + l * stride, stride, max);
    }
  }

  static double max_skip_nan(const double* x, std::int64_t n, double running) noexcept {
    constexpr int kUnroll = 4;
    V high[kUnroll];
    for (int u = 0; u < kUnroll; ++u) {
      high[u] = Isa::splat(running);
    }
    std::int64_t i = 0;
    for (; i + kUnroll * W <= n; i += kUnroll * W) {
      for (int u = 0; u < kUnroll; ++u) {
        high[u] = Isa::max_skip(Isa::load(x + i + u * W), high[u]);
      }
    }
    for (; i + W <= n; i += W) {
      high[0] = Isa::max_skip(Isa::load(x + i), high[0]);
    }
    double result = running;
    for (int u = 0; u < kUnroll; ++u) {
      double lanes[W];
      Isa::store(lanes, high[u]);
      for (int l = 0; l < W; ++l) {
        if (lanes[l] > result) {
          result = lanes[l];
        }
      }
    }
    // A NaN compares false and never wins.
    for (; i < n; ++i) {
      if (x[i] > result) {
        result = x[i];
      }
    }
    return result;
  }

  static constexpr Table table() noexcept {
    return Table{&frame_sums, &step_lanes, &max_skip_nan, W, Isa::kIsa};
  }
};

}  // namespace
}  // namespace lumetra::kernels
