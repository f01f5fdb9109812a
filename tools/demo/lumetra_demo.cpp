// A host of the lumetra library: loads it by name, creates its input arrays
// through its own array API, and runs initialize, estimation and terminate.
#include <cmath>
#include <cstdio>
#include <vector>

#include "demo.h"
#include "lumetra.h"
#include "shared_library.h"
#include "stimulus.h"

namespace {

// The library's file name, from the build (liblumetra.so, lumetra.dll).
constexpr const char* kLibrary = LUMETRA_LIBRARY_FILE;

struct Api {
  decltype(&lumetra_estimation_initialize) initialize;
  decltype(&lumetra_estimation) estimation;
  decltype(&lumetra_estimation_terminate) terminate;
  decltype(&emxCreateWrapper_real_T) wrap;
  decltype(&emxDestroyArray_real_T) destroy;
};

struct Result {
  double level[11];
  double range[11];
  double peak;
  double failed;
};

// One estimation through the library, the host's samples wrapped in place.
Result measure(const Api& api, std::vector<double>& reference, std::vector<double>& recording) {
  Result r{};
  emxArray_real_T* ref = api.wrap(reference.data(), static_cast<int32_t>(reference.size()), 1);
  emxArray_real_T* rec = api.wrap(recording.data(), static_cast<int32_t>(recording.size()), 1);
  api.estimation(ref, rec, 0.0, 0.0, 0.0, r.level, r.range, &r.peak, &r.failed);
  api.destroy(rec);
  api.destroy(ref);
  return r;
}

}  // namespace

bool run_lumetra_demo() {
  std::printf("lumetra: a simulated device measured through %s\n", kLibrary);
  SharedLibrary library(kLibrary);
  Api api{};
  if (library.loaded()) {
    api.initialize = library.function<decltype(api.initialize)>("lumetra_estimation_initialize");
    api.estimation = library.function<decltype(api.estimation)>("lumetra_estimation");
    api.terminate = library.function<decltype(api.terminate)>("lumetra_estimation_terminate");
    api.wrap = library.function<decltype(api.wrap)>("emxCreateWrapper_real_T");
    api.destroy = library.function<decltype(api.destroy)>("emxDestroyArray_real_T");
  }
  if (!library.loaded() || !api.initialize || !api.estimation || !api.terminate || !api.wrap ||
      !api.destroy) {
    std::printf("  cannot use %s: %s\n", kLibrary, library.error().c_str());
    return false;
  }

  const stimulus::Stepped stepped;  // 25.2 s steps
  std::vector<double> reference = stimulus::stepped_reference(stepped);
  // The device: 257 ms late, a gain of its own on every step, noise at -80 dB.
  stimulus::Device device;
  device.delay = 12345;
  device.step_gain_db = {0.5, -1.0, 1.5, -2.0, 2.5, -3.0, 0.25, -0.75, 3.5, -1.25, 1.0};
  device.noise_db = -80.0;
  std::vector<double> recording = stimulus::record(reference, device, stepped.step_seconds);
  // A loopback (same delay, unit gain, no noise) measures the reference's own
  // steps: the truth is that level plus the device's gain.
  stimulus::Device loopback;
  loopback.delay = device.delay;
  std::vector<double> looped = stimulus::record(reference, loopback, stepped.step_seconds);

  api.initialize();
  const Result own = measure(api, reference, looped);
  const Result got = measure(api, reference, recording);
  api.terminate();

  std::printf("  reference: %zu samples, 15 s opening, 11 steps of %.1f s\n", reference.size(),
              stepped.step_seconds);
  std::printf("  device: %lld samples late (%.3f ms), per-step gains, noise at %.0f dB\n",
              static_cast<long long>(device.delay), static_cast<double>(device.delay) / 48.0,
              device.noise_db);
  std::printf("  step  reference  gain    truth   measured  error   spread  spread\n");
  std::printf("        dB         dB      dB      dB        dB      truth   measured\n");
  bool close = true;
  for (int k = 0; k < 11; ++k) {
    const double truth = own.level[k] + device.step_gain_db[k];
    const double error = got.level[k] - truth;
    if (!(std::fabs(error) <= 0.05)) {
      close = false;
    }
    std::printf("  %4d  %8.3f  %+5.2f  %8.3f  %8.3f  %+6.3f  %6.3f  %6.3f\n", k + 1, own.level[k],
                device.step_gain_db[k], truth, got.level[k], error, own.range[k], got.range[k]);
  }
  std::printf("  peak level %.3f dB; failed %.0f (loopback %.0f)\n", got.peak, got.failed,
              own.failed);
  const bool ok = close && got.failed == 0.0 && own.failed == 0.0;
  std::printf("  %s\n", ok ? "every step within 0.05 dB of the truth"
                           : "MISMATCH: a step is off or the alignment failed");
  return ok;
}
