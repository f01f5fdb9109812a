// lumetra's fft, ifft and xcorr beside FFTW in the same run:
//   fft, ifft   against FFTW's complex 2^21-point transform (FFTW_MEASURE plan);
//   xcorr       against FFTW's full correlation of two 720000-sample signals
//               (copy into zero-padded buffers, two real-to-complex
//               transforms, X * conj(Y) with the 1/M scaling folded in, one
//               complex-to-real transform, lags copied out in xcorr's order),
//               for each transform size tried; the fastest is the peer.
// After the runs a table gives lumetra's time over the peer's (medians and
// minima of the repetitions). Plans are made outside the timed loops and kept
// as FFTW wisdom beside the executable, so only the first run pays for them.
//
// Extra flag: --fftw_patient also tries FFTW_PATIENT plans for the
// correlation (planning takes many minutes on the first run).
#include <benchmark/benchmark.h>
#include <fftw3.h>

#include <algorithm>
#include <cstdio>
#include <cstring>
#include <map>
#include <random>
#include <string>
#include <vector>

#include "lumetra.h"

namespace {

constexpr int kSpan = 720000;
constexpr int kLags = 2 * kSpan - 1;
constexpr int kN = 1 << 21;

// 64-byte aligned arrays from FFTW's allocator, for both sides alike.
template <class T>
T* aligned(std::size_t count) {
  return static_cast<T*>(fftw_malloc(sizeof(T) * count));
}

struct Signals {
  double* x = aligned<double>(kSpan);
  double* y = aligned<double>(kSpan);
  Signals() {
    std::mt19937_64 gen(2024);
    std::uniform_real_distribution<double> u(-32767.0, 32767.0);
    for (int n = 0; n < kSpan; ++n) {
      x[n] = u(gen);
    }
    // y: x delayed by 4800 samples plus noise, as a recording would be.
    for (int n = 0; n < kSpan; ++n) {
      y[n] = (n >= 4800 ? 0.5 * x[n - 4800] : 0.0) + 0.01 * u(gen);
    }
  }
};
const Signals& signals() {
  static const Signals s;
  return s;
}

std::string g_wisdom_file;

void save_wisdom() {
  if (!g_wisdom_file.empty()) {
    fftw_export_wisdom_to_filename(g_wisdom_file.c_str());
  }
}

// ------------------------------------------------------------- lumetra --

void BM_lumetra_fft(benchmark::State& state) {
  complex_T* y = aligned<complex_T>(kN);
  fft(signals().x, y);  // first call builds the tables
  for (auto _ : state) {
    fft(signals().x, y);
    benchmark::DoNotOptimize(y);
    benchmark::ClobberMemory();
  }
  fftw_free(y);
}

void BM_lumetra_ifft(benchmark::State& state) {
  complex_T* x = aligned<complex_T>(kN);
  complex_T* y = aligned<complex_T>(kN);
  fft(signals().x, x);
  ifft(x, y);
  for (auto _ : state) {
    ifft(x, y);
    benchmark::DoNotOptimize(y);
    benchmark::ClobberMemory();
  }
  fftw_free(x);
  fftw_free(y);
}

void BM_lumetra_xcorr(benchmark::State& state) {
  double* r = aligned<double>(kLags);
  xcorr(signals().x, signals().y, r);
  for (auto _ : state) {
    xcorr(signals().x, signals().y, r);
    benchmark::DoNotOptimize(r);
    benchmark::ClobberMemory();
  }
  fftw_free(r);
}

// ---------------------------------------------------------------- FFTW --

void BM_fftw_complex(benchmark::State& state) {
  fftw_complex* in = fftw_alloc_complex(kN);
  fftw_complex* out = fftw_alloc_complex(kN);
  const fftw_plan plan = fftw_plan_dft_1d(kN, in, out, FFTW_FORWARD, FFTW_MEASURE);
  save_wisdom();
  // The same input as fft: 720000 samples, then zeros.
  for (int n = 0; n < kN; ++n) {
    in[n][0] = n < kSpan ? signals().x[n] : 0.0;
    in[n][1] = 0.0;
  }
  for (auto _ : state) {
    fftw_execute(plan);
    benchmark::DoNotOptimize(out);
    benchmark::ClobberMemory();
  }
  fftw_destroy_plan(plan);
  fftw_free(in);
  fftw_free(out);
}

// Full correlation through real transforms of size M >= 1439999.
void BM_fftw_xcorr(benchmark::State& state) {
  const int m = static_cast<int>(state.range(0));
  const unsigned flags = state.range(1) != 0 ? FFTW_PATIENT : FFTW_MEASURE;
  const int bins = m / 2 + 1;
  double* px = fftw_alloc_real(m);
  double* py = fftw_alloc_real(m);
  double* pr = fftw_alloc_real(m);
  fftw_complex* sx = fftw_alloc_complex(bins);
  fftw_complex* sy = fftw_alloc_complex(bins);
  const fftw_plan fx = fftw_plan_dft_r2c_1d(m, px, sx, flags);
  const fftw_plan fy = fftw_plan_dft_r2c_1d(m, py, sy, flags);
  const fftw_plan back = fftw_plan_dft_c2r_1d(m, sx, pr, flags);
  save_wisdom();
  // Out-of-place real-to-complex plans keep their input: the padding is
  // written once.
  std::fill(px, px + m, 0.0);
  std::fill(py, py + m, 0.0);
  double* r = aligned<double>(kLags);
  const double scale = 1.0 / m;
  for (auto _ : state) {
    std::memcpy(px, signals().x, sizeof(double) * kSpan);
    std::memcpy(py, signals().y, sizeof(double) * kSpan);
    fftw_execute(fx);
    fftw_execute(fy);
    for (int k = 0; k < bins; ++k) {
      const double re = sx[k][0] * sy[k][0] + sx[k][1] * sy[k][1];
      const double im = sx[k][1] * sy[k][0] - sx[k][0] * sy[k][1];
      sx[k][0] = re * scale;
      sx[k][1] = im * scale;
    }
    fftw_execute(back);  // destroys sx, rewritten next time
    std::memcpy(r, pr + (m - (kSpan - 1)), sizeof(double) * (kSpan - 1));
    std::memcpy(r + (kSpan - 1), pr, sizeof(double) * kSpan);
    benchmark::DoNotOptimize(r);
    benchmark::ClobberMemory();
  }
  fftw_destroy_plan(fx);
  fftw_destroy_plan(fy);
  fftw_destroy_plan(back);
  fftw_free(px);
  fftw_free(py);
  fftw_free(pr);
  fftw_free(sx);
  fftw_free(sy);
  fftw_free(r);
}

double minimum(const std::vector<double>& v) {
  return *std::min_element(v.begin(), v.end());
}

void register_benchmarks(bool patient) {
  auto common = [](benchmark::internal::Benchmark* b) {
    b->Unit(benchmark::kMillisecond)->UseRealTime()->ComputeStatistics("min", minimum);
  };
  common(benchmark::RegisterBenchmark("fftw_complex_2^21", BM_fftw_complex));
  common(benchmark::RegisterBenchmark("lumetra_fft", BM_lumetra_fft));
  common(benchmark::RegisterBenchmark("lumetra_ifft", BM_lumetra_ifft));
  // Sizes: 2^21, and 1440000 = 2^8 3^2 5^4, the smallest size >= 1439999
  // made of small factors that FFTW handles well.
  for (int m : {1 << 21, 1440000}) {
    for (int p : patient ? std::vector<int>{0, 1} : std::vector<int>{0}) {
      const std::string name =
          "fftw_xcorr_r2c_" + std::to_string(m) + (p != 0 ? "_patient" : "_measure");
      common(benchmark::RegisterBenchmark(name.c_str(), BM_fftw_xcorr)->Args({m, p}));
    }
  }
  common(benchmark::RegisterBenchmark("lumetra_xcorr", BM_lumetra_xcorr));
}

// The console output, plus each benchmark's median and minimum kept for the
// ratios (or its single time when there were no repetitions).
class RatioReporter : public benchmark::ConsoleReporter {
 public:
  struct Times {
    double median = 0.0;
    double min = 0.0;
  };
  std::map<std::string, Times> times;

  void ReportRuns(const std::vector<Run>& reports) override {
    ConsoleReporter::ReportRuns(reports);
    for (const Run& run : reports) {
      std::string name = run.run_name.function_name;
      name = name.substr(0, name.find('/'));
      Times& t = times[name];
      const double ms = run.GetAdjustedRealTime();
      if (run.run_type == Run::RT_Aggregate) {
        if (run.aggregate_name == "median") {
          t.median = ms;
        } else if (run.aggregate_name == "min") {
          t.min = ms;
        }
      } else if (t.min == 0.0 || ms < t.min) {
        t.min = ms;
        t.median = ms;
      }
    }
  }
};

void print_ratios(const RatioReporter& rep) {
  auto find = [&](const std::string& prefix, bool fastest) {
    const RatioReporter::Times* best = nullptr;
    std::string best_name;
    for (const auto& [name, t] : rep.times) {
      if (name.rfind(prefix, 0) == 0 && (best == nullptr || (fastest && t.median < best->median))) {
        best = &t;
        best_name = name;
      }
    }
    return std::make_pair(best, best_name);
  };
  const auto [c2c, c2c_name] = find("fftw_complex", false);
  const auto [corr, corr_name] = find("fftw_xcorr", true);
  std::printf("\nlumetra time / peer time (median; min):\n");
  auto line = [](const char* what, const RatioReporter::Times* ours,
                 const RatioReporter::Times* peer, const std::string& peer_name, double target) {
    if (ours == nullptr || peer == nullptr || peer->median == 0.0) {
      return;
    }
    std::printf("  %-6s / %-30s %.2f ; %.2f   (target <= %.1f)\n", what, peer_name.c_str(),
                ours->median / peer->median, peer->min > 0.0 ? ours->min / peer->min : 0.0, target);
  };
  line("fft", find("lumetra_fft", false).first, c2c, c2c_name, 0.8);
  line("ifft", find("lumetra_ifft", false).first, c2c, c2c_name, 1.0);
  line("xcorr", find("lumetra_xcorr", false).first, corr, corr_name, 2.2);
}

}  // namespace

int main(int argc, char** argv) {
  bool patient = false;
  std::vector<char*> args;
  for (int i = 0; i < argc; ++i) {
    if (std::strcmp(argv[i], "--fftw_patient") == 0) {
      patient = true;
    } else {
      args.push_back(argv[i]);
    }
  }
  int count = static_cast<int>(args.size());
  benchmark::Initialize(&count, args.data());
  if (benchmark::ReportUnrecognizedArguments(count, args.data())) {
    return 1;
  }
  const std::string self = argv[0];
  const std::size_t slash = self.find_last_of('/');
  g_wisdom_file =
      (slash == std::string::npos ? std::string(".") : self.substr(0, slash)) + "/fftw-wisdom";
  fftw_import_wisdom_from_filename(g_wisdom_file.c_str());

  register_benchmarks(patient);
  RatioReporter reporter;
  benchmark::RunSpecifiedBenchmarks(&reporter);
  print_ratios(reporter);
  benchmark::Shutdown();
  return 0;
}
