// quenbar as a host uses it: load the library, initialize it, create the
// input records with its array API, estimate, release, terminate.
#include <cmath>
#include <cstdio>
#include <vector>

#include "demo.h"
#include "quenbar.h"
#include "shared_library.h"
#include "synth.h"

namespace {

// The library's file name, from the build (libquenbar.so, quenbar.dll).
constexpr const char* kLibrary = QUENBAR_LIBRARY_FILE;

constexpr double kSeconds = 20.0;
// An estimate further than this from the truth means something is broken: the
// statistical error over 20 s of bursts is about a hundredth of a dB.
constexpr double kToleranceDb = 0.25;

struct Api {
  decltype(&SNR_estimation_initialize) initialize;
  decltype(&SNR_estimation) estimate;
  decltype(&SNR_estimation_terminate) terminate;
  decltype(&emxCreateND_real_T) create;
  decltype(&emxDestroyArray_real_T) destroy;
};

// A column record holding a copy of the samples, made by the library.
emxArray_real_T* to_record(const Api& api, const std::vector<double>& samples) {
  const int32_t size[1] = {static_cast<int32_t>(samples.size())};
  emxArray_real_T* r = api.create(1, size);
  if (r != nullptr) {
    for (std::size_t k = 0; k < samples.size(); ++k) {
      r->data[k] = samples[k];
    }
  }
  return r;
}

}  // namespace

bool run_quenbar_demo() {
  std::printf("quenbar: SNR of speech-like bursts in white noise, %.0f s per case\n", kSeconds);
  SharedLibrary library(kLibrary);
  Api api{};
  if (library.loaded()) {
    api.initialize = library.function<decltype(api.initialize)>("SNR_estimation_initialize");
    api.estimate = library.function<decltype(api.estimate)>("SNR_estimation");
    api.terminate = library.function<decltype(api.terminate)>("SNR_estimation_terminate");
    api.create = library.function<decltype(api.create)>("emxCreateND_real_T");
    api.destroy = library.function<decltype(api.destroy)>("emxDestroyArray_real_T");
  }
  if (!library.loaded() || !api.initialize || !api.estimate || !api.terminate || !api.create ||
      !api.destroy) {
    std::printf("  cannot use %s: %s\n", kLibrary, library.error().c_str());
    return false;
  }

  struct Case {
    double fs;
    double snr_db;
  };
  const Case cases[] = {{48000.0, 0.0},  {48000.0, 10.0}, {48000.0, 20.0}, {48000.0, 30.0},
                        {48000.0, 45.0}, {44100.0, 20.0}, {16000.0, 20.0}, {8000.0, 20.0}};
  api.initialize();
  bool ok = true;
  std::printf("  %8s %10s %10s %8s\n", "fs (Hz)", "true (dB)", "est. (dB)", "error");
  unsigned seed = 1;
  for (const Case& c : cases) {
    const synth::SnrScene scene = synth::speech_in_noise(c.fs, kSeconds, c.snr_db, seed++);
    emxArray_real_T* gate = to_record(api, scene.gate);
    emxArray_real_T* measured = to_record(api, scene.measured);
    double snr_db = 0.0;
    double extra = 1.0;
    api.estimate(gate, measured, c.fs, &snr_db, &extra);
    api.destroy(gate);
    api.destroy(measured);
    const double error = snr_db - scene.snr_db;
    const bool good = gate != nullptr && measured != nullptr && std::isfinite(snr_db) &&
                      std::fabs(error) <= kToleranceDb && extra == 0.0;
    ok = ok && good;
    std::printf("  %8.0f %10.2f %10.2f %+8.3f%s\n", c.fs, scene.snr_db, snr_db, error,
                good ? "" : "  <- unexpected");
  }
  api.terminate();
  return ok;
}
