// The hosts' library beside the fixed library it stands on, in the same run,
// both loaded as a host loads them (through their shared libraries):
//   - am_gain_measure with the step period given, and with "auto", against
//     lumetra_estimation on the same arrays (the ratios are printed at the
//     end);
//   - four pairs measured by one thread and by two at once (throughput);
//   - the memory of one measurement and of the shared tables: the peak
//     resident size of a fresh process measuring one pair, and two at once,
//     over what it held before.
//
//   audiomeasure_bench --benchmark_repetitions=5 --benchmark_report_aggregates_only=true
#include <benchmark/benchmark.h>
#include <sys/wait.h>
#include <unistd.h>

#include <array>
#include <cstdio>
#include <fstream>
#include <map>
#include <string>
#include <thread>
#include <vector>

#include "audiomeasure.h"
#include "lumetra.h"
#include "stimulus.h"

namespace {

constexpr int kPairs = 4;

struct Pairs {
  Pairs() {
    reference = stimulus::stepped_reference({});
    for (int i = 0; i < kPairs; ++i) {
      stimulus::Device device;
      device.delay = 12345 + 1000 * i;
      device.step_gain_db = {0.5, -1.0, 1.5, -2.0, 2.5, -3.0, 0.25, -0.75, 3.5, -1.25, 1.0};
      device.step_gain_db[static_cast<std::size_t>(i)] += 1.0;
      device.noise_db = -80.0;
      device.seed = 2 + static_cast<std::uint64_t>(i);
      recordings.push_back(stimulus::record(reference, device, 25.2));
    }
    lumetra_estimation_initialize();
  }
  std::vector<double> reference;
  std::vector<std::vector<double>> recordings;
};

const Pairs& pairs() {
  static const Pairs p;
  return p;
}

int measure(int pair, int period) {
  const Pairs& p = pairs();
  am_gain_options options;
  am_gain_options_init(&options);
  options.step_period = period;
  am_gain_report report;
  am_gain_report_init(&report);
  const std::vector<double>& rec = p.recordings[static_cast<std::size_t>(pair)];
  return am_gain_measure(p.reference.data(), static_cast<std::int64_t>(p.reference.size()),
                         rec.data(), static_cast<std::int64_t>(rec.size()), &options, &report);
}

void BM_LumetraEstimation(benchmark::State& state) {
  const Pairs& p = pairs();
  auto* ref = emxCreateWrapper_real_T(const_cast<double*>(p.reference.data()),
                                      static_cast<int>(p.reference.size()), 1);
  auto* rec = emxCreateWrapper_real_T(const_cast<double*>(p.recordings[0].data()),
                                      static_cast<int>(p.recordings[0].size()), 1);
  double level[11];
  double range[11];
  double peak = 0.0;
  double failed = 0.0;
  for (auto _ : state) {
    lumetra_estimation(ref, rec, 0.0, 0.0, 0.0, level, range, &peak, &failed);
    benchmark::DoNotOptimize(peak);
  }
  emxDestroyArray_real_T(ref);
  emxDestroyArray_real_T(rec);
}
BENCHMARK(BM_LumetraEstimation)->Unit(benchmark::kMillisecond)->UseRealTime();

void BM_GainMeasurePeriodGiven(benchmark::State& state) {
  for (auto _ : state) {
    benchmark::DoNotOptimize(measure(0, AM_PERIOD_25_2));
  }
}
BENCHMARK(BM_GainMeasurePeriodGiven)->Unit(benchmark::kMillisecond)->UseRealTime();

void BM_GainMeasureAuto(benchmark::State& state) {
  for (auto _ : state) {
    benchmark::DoNotOptimize(measure(0, AM_PERIOD_AUTO));
  }
}
BENCHMARK(BM_GainMeasureAuto)->Unit(benchmark::kMillisecond)->UseRealTime();

// Four pairs per iteration, shared out between the threads.
void BM_FourPairs(benchmark::State& state) {
  const int threads = static_cast<int>(state.range(0));
  for (auto _ : state) {
    std::vector<std::thread> workers;
    for (int t = 0; t < threads; ++t) {
      workers.emplace_back([t, threads] {
        for (int i = t; i < kPairs; i += threads) {
          benchmark::DoNotOptimize(measure(i, AM_PERIOD_25_2));
        }
      });
    }
    for (std::thread& w : workers) {
      w.join();
    }
  }
  state.SetItemsProcessed(state.iterations() * kPairs);
}
BENCHMARK(BM_FourPairs)->Arg(1)->Arg(2)->Unit(benchmark::kMillisecond)->UseRealTime();

// kB of a field of /proc/self/status ("VmRSS", "VmHWM").
long status_kb(const char* field) {
  std::ifstream in("/proc/self/status");
  std::string line;
  while (std::getline(in, line)) {
    if (line.rfind(field, 0) == 0) {
      return std::stol(line.substr(line.find(':') + 1));
    }
  }
  return -1;
}

// The peak resident size a fresh process adds while it measures `together`
// pairs at once, over what it held with its arrays made, in MB.
double added_peak_mb(int together) {
  int fd[2];
  if (pipe(fd) != 0) {
    return -1.0;
  }
  const pid_t child = fork();
  if (child == 0) {
    close(fd[0]);
    pairs();
    const long before = status_kb("VmRSS");
    std::vector<std::thread> workers;
    for (int t = 0; t < together; ++t) {
      workers.emplace_back([t] { measure(t, AM_PERIOD_25_2); });
    }
    for (std::thread& w : workers) {
      w.join();
    }
    const double mb = static_cast<double>(status_kb("VmHWM") - before) * 1024.0 / 1e6;
    const ssize_t written = write(fd[1], &mb, sizeof mb);
    _exit(written == sizeof mb ? 0 : 1);
  }
  close(fd[1]);
  double mb = -1.0;
  if (read(fd[0], &mb, sizeof mb) != sizeof mb) {
    mb = -1.0;
  }
  close(fd[0]);
  waitpid(child, nullptr, 0);
  return mb;
}

// Median real times by benchmark name, for the ratios.
class Collector : public benchmark::ConsoleReporter {
 public:
  void ReportRuns(const std::vector<Run>& runs) override {
    for (const Run& r : runs) {
      if (r.aggregate_name == "median" ||
          (r.aggregate_name.empty() && !times_.count(r.run_name.str()))) {
        times_[r.run_name.str()] = r.GetAdjustedRealTime();
      }
    }
    ConsoleReporter::ReportRuns(runs);
  }
  double time(const std::string& name) const {
    const auto it = times_.find(name);
    return it != times_.end() ? it->second : 0.0;
  }

 private:
  std::map<std::string, double> times_;
};

}  // namespace

int main(int argc, char** argv) {
  benchmark::Initialize(&argc, argv);
  // First, in processes that find no tables built yet.
  const double once = added_peak_mb(1);
  const double twice = added_peak_mb(2);
  Collector collector;
  benchmark::RunSpecifiedBenchmarks(&collector);
  const double fixed = collector.time("BM_LumetraEstimation/real_time");
  const double given = collector.time("BM_GainMeasurePeriodGiven/real_time");
  const double autop = collector.time("BM_GainMeasureAuto/real_time");
  const double one = collector.time("BM_FourPairs/1/real_time");
  const double two = collector.time("BM_FourPairs/2/real_time");
  if (fixed > 0.0) {
    std::printf("am_gain_measure (period given) / lumetra_estimation  %.3f  (target <= 1.05)\n",
                given / fixed);
    std::printf("am_gain_measure (auto) / lumetra_estimation          %.3f\n", autop / fixed);
  }
  if (two > 0.0) {
    std::printf("four pairs: two threads' throughput / one thread's   %.2f  (target >= 1.7)\n",
                one / two);
  }
  std::printf("peak memory added by one measurement (tables + working memory)  %.1f MB\n", once);
  std::printf("peak memory added by two at once                                %.1f MB\n", twice);
  std::printf(
      "working memory of one measurement (the difference)              %.1f MB"
      "  (target <= 100)\n",
      twice - once);
  std::printf("shared tables (one measurement less its working memory)        %.1f MB\n",
              once - (twice - once));
  return 0;
}
