// lumetra_estimation end to end on a complete stepped reference (12864000
// samples) and a recording of it, beside one xcorr call in the same run: the
// estimation calls xcorr once and adds only linear work, so its time over
// xcorr's is the measure of that work. The linear work alone is timed with
// the correlation replaced by a copy of a stored one.
//
//   lumetra_bench --benchmark_repetitions=5 --benchmark_report_aggregates_only=true
#include <benchmark/benchmark.h>
#include <sys/resource.h>

#include <algorithm>
#include <vector>

#include "lumetra.h"
#include "lumetra/estimation.h"
#include "lumetra/kernels.h"
#include "spectral/spectral.h"
#include "stimulus.h"

namespace {

struct Signals {
  Signals() {
    reference = stimulus::stepped_reference({});
    stimulus::Device device;
    device.delay = 12345;
    device.step_gain_db = {0.5, -1.0, 1.5, -2.0, 2.5, -3.0, 0.25, -0.75, 3.5, -1.25, 1.0};
    device.noise_db = -80.0;
    recording = stimulus::record(reference, device, 25.2);
    ref = emxCreateWrapper_real_T(reference.data(), static_cast<int>(reference.size()), 1);
    rec = emxCreateWrapper_real_T(recording.data(), static_cast<int>(recording.size()), 1);
    lumetra_estimation_initialize();
  }
  std::vector<double> reference;
  std::vector<double> recording;
  emxArray_real_T* ref;
  emxArray_real_T* rec;
};

const Signals& signals() {
  static const Signals s;
  return s;
}

// The correlation of this pair, computed once for the linear-work runs.
std::vector<double>& stored() {
  static std::vector<double> r(lumetra::kLags);
  return r;
}
void stored_xcorr(const double*, const double*, double* r) noexcept {
  std::copy(stored().begin(), stored().end(), r);
}

void report_peak_memory(benchmark::State& state) {
  rusage usage{};
  getrusage(RUSAGE_SELF, &usage);
  state.counters["peak_rss_MB"] = static_cast<double>(usage.ru_maxrss) / 1024.0;
}

void BM_Xcorr(benchmark::State& state) {
  const Signals& s = signals();
  static std::vector<double> r(lumetra::kLags);
  for (auto _ : state) {
    spectral::cross_correlate(
        std::span<const double, lumetra::kSpan>(s.reference.data(), lumetra::kSpan),
        std::span<const double, lumetra::kSpan>(s.recording.data(), lumetra::kSpan),
        std::span<double, lumetra::kLags>(r.data(), lumetra::kLags), spectral::static_workspace(),
        spectral::tables());
    benchmark::DoNotOptimize(r.data());
  }
  report_peak_memory(state);
}

void BM_Estimation(benchmark::State& state) {
  const Signals& s = signals();
  double level[11];
  double range[11];
  double peak = 0.0;
  double failed = 0.0;
  for (auto _ : state) {
    lumetra_estimation(s.ref, s.rec, 0.0, 0.0, 0.0, level, range, &peak, &failed);
    benchmark::DoNotOptimize(level);
  }
  if (failed != 0.0) {
    state.SkipWithError("the estimation failed");
  }
  report_peak_memory(state);
}

// Everything but the three transforms, with the given kernels.
void linear_work(benchmark::State& state, const lumetra::kernels::Table& kernels) {
  const Signals& s = signals();
  const lumetra::Estimate e = lumetra::estimate(s.ref, s.rec, 0.0, lumetra::static_workspace());
  if (stored()[0] == 0.0) {
    // Recreate the correlation the estimation made: its inputs are the
    // reference opening and the coarsely moved recording opening.
    std::vector<double> moved(lumetra::kSpan);
    double delay = 0.0;
    double too_large = 0.0;
    lumetra::crude_align(
        {s.reference.data(), s.reference.size()}, &delay, &too_large,
        std::span<const double, lumetra::kSpan>(s.recording.data(), lumetra::kSpan),
        std::span<double, lumetra::kSpan>(moved.data(), lumetra::kSpan), kernels);
    spectral::cross_correlate(
        std::span<const double, lumetra::kSpan>(s.reference.data(), lumetra::kSpan),
        std::span<const double, lumetra::kSpan>(moved.data(), lumetra::kSpan),
        std::span<double, lumetra::kLags>(stored().data(), lumetra::kLags),
        spectral::static_workspace(), spectral::tables());
  }
  lumetra::Estimate copy{};
  for (auto _ : state) {
    copy =
        lumetra::estimate(s.ref, s.rec, 0.0, lumetra::static_workspace(), {stored_xcorr, &kernels});
    benchmark::DoNotOptimize(copy);
  }
  if (copy.failed != 0.0 || copy.step_level[0] != e.step_level[0]) {
    state.SkipWithError("the linear work does not reproduce the estimation");
  }
  report_peak_memory(state);
}

void BM_LinearWorkSse2(benchmark::State& state) {
  linear_work(state, *lumetra::kernels::for_isa(runtime::Isa::kSse2));
}

void BM_LinearWorkBest(benchmark::State& state) {
  linear_work(state, lumetra::kernels::best());
}

void BM_StoredCorrelationCopy(benchmark::State& state) {
  static std::vector<double> r(lumetra::kLags);
  for (auto _ : state) {
    stored_xcorr(nullptr, nullptr, r.data());
    benchmark::DoNotOptimize(r.data());
  }
}

}  // namespace

BENCHMARK(BM_Xcorr)->Unit(benchmark::kMillisecond);
BENCHMARK(BM_Estimation)->Unit(benchmark::kMillisecond);
BENCHMARK(BM_LinearWorkSse2)->Unit(benchmark::kMillisecond);
BENCHMARK(BM_LinearWorkBest)->Unit(benchmark::kMillisecond);
BENCHMARK(BM_StoredCorrelationCopy)->Unit(benchmark::kMillisecond);
