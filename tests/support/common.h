// What most tests need besides records: exact comparison of doubles, the
// kernel tables this processor runs, and inputs that are the same on every
// platform. No GoogleTest here, so that the fuzz harnesses use it too.
#pragma once

#include <bit>
#include <cmath>
#include <cstddef>
#include <cstdint>
#include <limits>
#include <span>
#include <vector>

#include "runtime/dispatch.h"

namespace testing_support {

inline constexpr double kNaN = std::numeric_limits<double>::quiet_NaN();
inline constexpr double kInf = std::numeric_limits<double>::infinity();
// The NaN the libraries return (rtNaN): the negative quiet NaN.
inline constexpr std::uint64_t kNaNBits = 0xFFF8000000000000;

inline std::uint64_t bits(double x) {
  return std::bit_cast<std::uint64_t>(x);
}
inline std::uint32_t bits(float x) {
  return std::bit_cast<std::uint32_t>(x);
}

// The same result: identical bits, or both NaN (a NaN's payload follows the
// operands' NaNs, which the result does not promise).
inline bool same_result(double a, double b) {
  return bits(a) == bits(b) || (std::isnan(a) && std::isnan(b));
}

// The first index where a and b differ (by same_result, or by their bits
// when `nan_payloads` counts), -1 when they agree; 0 when their lengths
// differ.
inline std::int64_t first_difference(std::span<const double> a, std::span<const double> b,
                                     bool nan_payloads = true) {
  if (a.size() != b.size()) {
    return 0;
  }
  for (std::size_t k = 0; k < a.size(); ++k) {
    if (nan_payloads ? bits(a[k]) != bits(b[k]) : !same_result(a[k], b[k])) {
      return static_cast<std::int64_t>(k);
    }
  }
  return -1;
}

// FNV-1a over bytes.
inline std::uint64_t fnv1a(const void* data, std::size_t size,
                           std::uint64_t h = 0xCBF29CE484222325u) {
  for (std::size_t k = 0; k < size; ++k) {
    h = (h ^ static_cast<const std::uint8_t*>(data)[k]) * 0x100000001B3u;
  }
  return h;
}

// Every kernel table (or engine) that this processor runs, narrowest first:
// runnable(lumetra::kernels::for_isa). Each one's `isa` names it.
template <class ForIsa>
auto runnable(ForIsa for_isa) {
  std::vector<decltype(for_isa(runtime::Isa::kSse2))> tables;
  for (const runtime::Isa isa : runtime::kIsas) {
    if (const auto table = for_isa(isa)) {
      tables.push_back(table);
    }
  }
  return tables;
}

// splitmix64: the same sequence on every platform and standard library.
class Random {
 public:
  explicit Random(std::uint64_t seed) : state_(seed) {}
  std::uint64_t next() {
    state_ += 0x9E3779B97F4A7C15u;
    std::uint64_t z = state_;
    z = (z ^ (z >> 30)) * 0xBF58476D1CE4E5B9u;
    z = (z ^ (z >> 27)) * 0x94D049BB133111EBu;
    return z ^ (z >> 31);
  }
  // Uniform in [-1, 1): k * 2^-52 - 1 with k < 2^53, both steps exact.
  double uniform() { return static_cast<double>(next() >> 11) * 0x1p-52 - 1.0; }

 private:
  std::uint64_t state_;
};

// n values uniform in [-amplitude, amplitude), the same everywhere.
inline std::vector<double> noise(std::size_t n, double amplitude, std::uint64_t seed) {
  Random random(seed);
  std::vector<double> x(n);
  for (double& v : x) {
    v = amplitude * random.uniform();
  }
  return x;
}

}  // namespace testing_support
