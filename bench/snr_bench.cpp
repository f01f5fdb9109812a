// SNR_estimation on 30 minutes of a gate/measured pair at 48 kHz, beside the
// memory-bandwidth bound measured in the same run: one pass over both arrays
// that sums their squares. The ratio of the two times is the figure to watch
// (target: the estimate within 2x of the pass); the kernels and the
// straightforward reference path run on the same data for comparison.
#include <benchmark/benchmark.h>

#include <cstddef>
#include <vector>

#if defined(__SSE2__)
#include <emmintrin.h>
#endif

#include "quenbar.h"
#include "quenbar/snr.h"
#include "support/snr_reference.h"
#include "synth.h"

namespace {

constexpr double kFs = 48000.0;
constexpr std::size_t kSamples = 30 * 60 * 48000;  // 30 minutes: 86.4 million per signal

struct Pair {
  std::vector<double> gate;
  std::vector<double> measured;
  emxArray_real_T* gate_record = nullptr;
  emxArray_real_T* measured_record = nullptr;
};

// One minute of speech-like bursts in noise at 20 dB, repeated to 30 minutes
// (made once, on first use, outside any timing).
const Pair& pair() {
  static const Pair p = [] {
    const synth::SnrScene minute = synth::speech_in_noise(kFs, 60.0, 20.0, 1);
    Pair q;
    q.gate.reserve(kSamples);
    q.measured.reserve(kSamples);
    while (q.gate.size() < kSamples) {
      const std::size_t n = std::min(minute.gate.size(), kSamples - q.gate.size());
      q.gate.insert(q.gate.end(), minute.gate.begin(), minute.gate.begin() + n);
      q.measured.insert(q.measured.end(), minute.measured.begin(), minute.measured.begin() + n);
    }
    const auto n = static_cast<int32_t>(kSamples);
    q.gate_record = emxCreateWrapper_real_T(q.gate.data(), n, 1);
    q.measured_record = emxCreateWrapper_real_T(q.measured.data(), n, 1);
    return q;
  }();
  return p;
}

void count_samples(benchmark::State& state) {
  const auto per_iteration = static_cast<double>(kSamples);
  state.counters["samples/s"] = benchmark::Counter(
      per_iteration * static_cast<double>(state.iterations()), benchmark::Counter::kIsRate);
  state.SetBytesProcessed(static_cast<int64_t>(state.iterations()) *
                          static_cast<int64_t>(2 * kSamples * sizeof(double)));
}

// The bound: both arrays read once, squares summed in independent
// accumulators (any order will do here), so that only memory limits it.
void BM_StreamingSquares(benchmark::State& state) {
  const Pair& p = pair();
  const double* g = p.gate.data();
  const double* m = p.measured.data();
  for (auto _ : state) {
#if defined(__SSE2__)
    __m128d acc[4] = {_mm_setzero_pd(), _mm_setzero_pd(), _mm_setzero_pd(), _mm_setzero_pd()};
    for (std::size_t k = 0; k + 4 <= kSamples; k += 4) {
      const __m128d g0 = _mm_loadu_pd(g + k);
      const __m128d g1 = _mm_loadu_pd(g + k + 2);
      const __m128d m0 = _mm_loadu_pd(m + k);
      const __m128d m1 = _mm_loadu_pd(m + k + 2);
      acc[0] = _mm_add_pd(acc[0], _mm_mul_pd(g0, g0));
      acc[1] = _mm_add_pd(acc[1], _mm_mul_pd(g1, g1));
      acc[2] = _mm_add_pd(acc[2], _mm_mul_pd(m0, m0));
      acc[3] = _mm_add_pd(acc[3], _mm_mul_pd(m1, m1));
    }
    benchmark::DoNotOptimize(acc);
#else
    double acc[4] = {};
    for (std::size_t k = 0; k + 2 <= kSamples; k += 2) {
      acc[0] += g[k] * g[k];
      acc[1] += g[k + 1] * g[k + 1];
      acc[2] += m[k] * m[k];
      acc[3] += m[k + 1] * m[k + 1];
    }
    benchmark::DoNotOptimize(acc);
#endif
  }
  count_samples(state);
}
BENCHMARK(BM_StreamingSquares)->Unit(benchmark::kMillisecond);

// The exported entry point, as a host calls it (widest kernel).
void BM_SnrEstimation(benchmark::State& state) {
  const Pair& p = pair();
  for (auto _ : state) {
    double snr = 0.0;
    double extra = 0.0;
    SNR_estimation(p.gate_record, p.measured_record, kFs, &snr, &extra);
    benchmark::DoNotOptimize(snr);
  }
  count_samples(state);
}
BENCHMARK(BM_SnrEstimation)->Unit(benchmark::kMillisecond);

// Each kernel table: 0 two frames side by side (SSE2), 1 four (AVX2).
void BM_SnrKernel(benchmark::State& state) {
  const Pair& p = pair();
  const runtime::Isa isa = runtime::kIsas[state.range(0)];
  const quenbar::kernels::Table* kernels = quenbar::kernels::for_isa(isa);
  if (kernels == nullptr) {
    state.SkipWithError("this processor cannot run the table");
    return;
  }
  for (auto _ : state) {
    benchmark::DoNotOptimize(quenbar::estimate(p.gate_record, p.measured_record, kFs, *kernels));
  }
  count_samples(state);
}
BENCHMARK(BM_SnrKernel)->Arg(0)->Arg(1)->Unit(benchmark::kMillisecond);

// The straightforward path of the tests: per-frame scratch record, record sums.
void BM_SnrReference(benchmark::State& state) {
  const Pair& p = pair();
  for (auto _ : state) {
    benchmark::DoNotOptimize(reference::snr(p.gate_record, p.measured_record, kFs).snr_db);
  }
  count_samples(state);
}
BENCHMARK(BM_SnrReference)->Unit(benchmark::kMillisecond);

}  // namespace
