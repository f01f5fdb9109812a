// The cost of a process's first estimation: lumetra_estimation_initialize and
// the first lumetra_estimation, timed together, beside a later call in the
// same process, on the demonstration pair (a complete 25.2 s reference and a
// recording of it 12345 samples late, with per-step gains and noise at
// -80 dB). A first call happens once per process, so this is a plain program
// rather than a Google Benchmark: run it in a few fresh processes and take
// the best. It prints `key value` lines:
//
//   first_call_ms     initialize + first call, milliseconds
//   later_call_ms     the best of three later calls, milliseconds
//   first_call_ratio  first_call_ms / later_call_ms
//   first_call_cpu_ms, later_call_cpu_ms  the same in processor time
//   first_call_page_faults  minor page faults during initialize + first call
#include <sys/resource.h>

#include <time.h>

#include <chrono>
#include <cstdio>
#include <vector>

#include "lumetra.h"
#include "stimulus.h"

namespace {

using Clock = std::chrono::steady_clock;

double milliseconds_since(Clock::time_point start) {
  return std::chrono::duration<double, std::milli>(Clock::now() - start).count();
}

// Processor time of this process (it runs one thread), in milliseconds: less
// sensitive than wall time to other programs sharing the machine.
double cpu_ms() {
  timespec t{};
  clock_gettime(CLOCK_PROCESS_CPUTIME_ID, &t);
  return static_cast<double>(t.tv_sec) * 1e3 + static_cast<double>(t.tv_nsec) * 1e-6;
}

// Minor page faults of this process so far: a count that, unlike a time, does
// not depend on what else the machine runs.
long minor_faults() {
  rusage usage{};
  getrusage(RUSAGE_SELF, &usage);
  return usage.ru_minflt;
}

}  // namespace

int main() {
  const stimulus::Stepped stepped;
  std::vector<double> reference = stimulus::stepped_reference(stepped);
  stimulus::Device device;
  device.delay = 12345;
  device.step_gain_db = {0.5, -1.0, 1.5, -2.0, 2.5, -3.0, 0.25, -0.75, 3.5, -1.25, 1.0};
  device.noise_db = -80.0;
  std::vector<double> recording = stimulus::record(reference, device, stepped.step_seconds);
  emxArray_real_T* ref =
      emxCreateWrapper_real_T(reference.data(), static_cast<int>(reference.size()), 1);
  emxArray_real_T* rec =
      emxCreateWrapper_real_T(recording.data(), static_cast<int>(recording.size()), 1);

  double level[11];
  double range[11];
  double peak = 0.0;
  double failed = 0.0;
  const long faults_before = minor_faults();
  const double cpu_before = cpu_ms();
  const Clock::time_point start = Clock::now();
  lumetra_estimation_initialize();
  lumetra_estimation(ref, rec, 0.0, 0.0, 0.0, level, range, &peak, &failed);
  const double first = milliseconds_since(start);
  const double first_cpu = cpu_ms() - cpu_before;
  const long first_faults = minor_faults() - faults_before;

  double later = 0.0;
  double later_cpu = 0.0;
  for (int i = 0; i < 3; ++i) {
    const double cpu_again = cpu_ms();
    const Clock::time_point again = Clock::now();
    lumetra_estimation(ref, rec, 0.0, 0.0, 0.0, level, range, &peak, &failed);
    const double t = milliseconds_since(again);
    const double c = cpu_ms() - cpu_again;
    later = i == 0 || t < later ? t : later;
    later_cpu = i == 0 || c < later_cpu ? c : later_cpu;
  }
  lumetra_estimation_terminate();
  emxDestroyArray_real_T(ref);
  emxDestroyArray_real_T(rec);

  std::printf("first_call_ms %.3f\n", first);
  std::printf("later_call_ms %.3f\n", later);
  std::printf("first_call_ratio %.3f\n", first / later);
  std::printf("first_call_cpu_ms %.3f\n", first_cpu);
  std::printf("later_call_cpu_ms %.3f\n", later_cpu);
  std::printf("first_call_page_faults %ld\n", first_faults);
  return failed == 0.0 ? 0 : 1;
}
