#include "support/library_cases.h"

#include <bit>
#include <cstddef>
#include <cstdint>
#include <limits>
#include <type_traits>
#include <utility>

#include "lumetra.h"
#include "support/common.h"

#ifdef _WIN32
#include <windows.h>
#else
#include <dlfcn.h>
#endif

namespace cases {
namespace {

// quenbar's entry points (lumetra.h, included for the shared types, declares
// lumetra's functions of the same names).
using QuenbarSum = double (*)(const emxArray_real_T*) noexcept;
using SnrEstimation = void (*)(const emxArray_real_T*, const emxArray_real_T*, double, double*,
                               double*) noexcept;
using Initialize = void (*)() noexcept;
using InitInfAndNaN = void (*)(std::size_t) noexcept;
using RecordSum = double (*)(const emxArray_real_T*) noexcept;

using testing_support::noise;

class Runner {
 public:
  Runner(Run& run, CallHooks* hooks) : run_(run), hooks_(hooks) {}

  // f(args...), between the hooks' enter and leave.
  template <class F, class... Args>
  auto call(const char* entry_point, F f, Args... args) {
    if (hooks_ != nullptr) {
      hooks_->enter();
    }
    if constexpr (std::is_void_v<std::invoke_result_t<F, Args...>>) {
      f(args...);
      if (hooks_ != nullptr) {
        hooks_->leave(entry_point);
      }
    } else {
      const auto result = f(args...);
      if (hooks_ != nullptr) {
        hooks_->leave(entry_point);
      }
      return result;
    }
  }

  void add(std::string name, Kind kind, std::vector<double> values) {
    run_.outputs.push_back({std::move(name), kind, std::move(values)});
  }
  void add(std::string name, Kind kind, double value) {
    add(std::move(name), kind, std::vector<double>{value});
  }
  // Looks up an exported name; a missing one leaves the case out, and says so.
  void* need_symbol(const Library& lib, const char* name, const char* case_name) {
    void* symbol = lib.symbol(name);
    if (symbol == nullptr) {
      run_.skipped.push_back(std::string(case_name) + " (" + name + " is not exported by " +
                             lib.path() + ")");
    }
    return symbol;
  }
  template <class F>
  F need(const Library& lib, const char* name, const char* case_name) {
    return reinterpret_cast<F>(need_symbol(lib, name, case_name));
  }

 private:
  Run& run_;
  CallHooks* hooks_;
};

void initialize(Runner& r, const Library& lib, const char* initialize_name, const char* prefix) {
  if (auto init = lib.function<Initialize>(initialize_name)) {
    r.call(initialize_name, init);
  } else if (auto rt = r.need<InitInfAndNaN>(lib, "rt_InitInfAndNaN", prefix)) {
    r.call("rt_InitInfAndNaN", rt, std::size_t{8});
  }
  // The exported variables, read through their exported addresses.
  std::vector<double> globals;
  for (const char* name : {"rtInf", "rtMinusInf", "rtNaN"}) {
    if (const auto* v = static_cast<const double*>(r.need_symbol(lib, name, prefix))) {
      globals.push_back(*v);
    }
  }
  for (const char* name : {"rtInfF", "rtMinusInfF", "rtNaNF"}) {
    if (const auto* v = static_cast<const float*>(r.need_symbol(lib, name, prefix))) {
      globals.push_back(static_cast<double>(std::bit_cast<std::uint32_t>(*v)));
    }
  }
  r.add(std::string(prefix) + ".globals", Kind::kExact, std::move(globals));
}

void record_sums(Runner& r, const Library& lib, const char* prefix, const char* record_sum) {
  std::vector<double> x = noise(100001, 30000.0, 11);
  Wrapped w(x);
  if (auto f = r.need<RecordSum>(lib, "combineVectorElements", prefix)) {
    r.add(std::string(prefix) + ".combineVectorElements", Kind::kExact,
          r.call("combineVectorElements", f, &w.record));
  }
  if (auto f = r.need<RecordSum>(lib, record_sum, prefix)) {
    r.add(std::string(prefix) + "." + record_sum, Kind::kExact, r.call(record_sum, f, &w.record));
  }
}

void lumetra_levels(Runner& r, const Library& lib) {
  std::vector<double> x = noise(720000, 12000.0, 21);
  if (auto f = r.need<decltype(&::sum)>(lib, "sum", "lumetra.sum")) {
    r.add("lumetra.sum", Kind::kExact, r.call("sum", f, x.data()));
  }
  if (auto f = r.need<decltype(&::rms)>(lib, "rms", "lumetra.rms")) {
    r.add("lumetra.rms", Kind::kExact, r.call("rms", f, x.data()));
  }
  if (auto f = r.need<decltype(&::b_rms)>(lib, "b_rms", "lumetra.b_rms")) {
    std::vector<double> frame(x.begin(), x.begin() + 12345);
    Wrapped w(frame);
    r.add("lumetra.b_rms", Kind::kExact, r.call("b_rms", f, &w.record));
    // Many short frames: every square root the C runtime could round
    // differently shows here.
    std::vector<double> levels(40000);
    std::size_t start = 0;
    for (std::size_t k = 0; k < levels.size(); ++k) {
      const std::size_t length = 1 + k % 64;
      std::vector<double> part(x.begin() + start, x.begin() + start + length);
      Wrapped p(part);
      levels[k] = r.call("b_rms", f, &p.record);
      start = (start + length) % (x.size() - 64);
    }
    r.add("lumetra.b_rms(short frames)", Kind::kExact, std::move(levels));
  }
  if (auto f = r.need<decltype(&::b_log10)>(lib, "b_log10", "lumetra.b_log10")) {
    // Levels of RMS values from silence to full scale, as the alignment forms them.
    std::vector<double> v(20000);
    for (std::size_t k = 0; k < v.size(); ++k) {
      v[k] = (x[k] < 0.0 ? -x[k] : x[k]) * 2.7 + 1e-6;
    }
    // The degenerate arguments: -Inf, NaN (of either sign) and +Inf.
    const double inf = std::numeric_limits<double>::infinity();
    const double nan = std::numeric_limits<double>::quiet_NaN();
    v.insert(v.end(), {1e-6, 1.0, 0.0, -0.0, -1.0, inf, -inf, nan, -nan});
    for (double& value : v) {
      r.call("b_log10", f, &value);
    }
    r.add("lumetra.b_log10", Kind::kLibm, std::move(v));
  }
}

void lumetra_transforms(Runner& r, const Library& lib) {
  constexpr std::size_t kTable = 1048577;
  constexpr std::size_t kN = 2097152;
  constexpr std::size_t kSpan = 720000;
  constexpr std::size_t kLags = 2 * kSpan - 1;
  using Tables = decltype(&::generate_twiddle_tables);
  for (const char* name : {"generate_twiddle_tables", "b_generate_twiddle_tables"}) {
    if (auto f = r.need<Tables>(lib, name, name)) {
      std::vector<double> costab(kTable);
      std::vector<double> sintab(kTable);
      r.call(name, f, costab.data(), sintab.data());
      r.add(std::string("lumetra.") + name + ".costab", Kind::kLibm, std::move(costab));
      r.add(std::string("lumetra.") + name + ".sintab", Kind::kLibm, std::move(sintab));
    }
  }

  const std::vector<double> x = noise(kSpan, 8000.0, 31);
  std::vector<complex_T> spectrum(kN);
  auto as_doubles = [](const std::vector<complex_T>& c) {
    std::vector<double> d;
    d.reserve(2 * c.size());
    for (const complex_T& v : c) {
      d.push_back(v.re);
      d.push_back(v.im);
    }
    return d;
  };
  auto fft = r.need<decltype(&::fft)>(lib, "fft", "lumetra.fft");
  if (fft != nullptr) {
    r.call("fft", fft, x.data(), spectrum.data());
    r.add("lumetra.fft", Kind::kDerived, as_doubles(spectrum));
  }
  if (auto ifft = r.need<decltype(&::ifft)>(lib, "ifft", "lumetra.ifft"); ifft && fft) {
    std::vector<complex_T> back(kN);
    r.call("ifft", ifft, spectrum.data(), back.data());
    r.add("lumetra.ifft", Kind::kDerived, as_doubles(back));
  }
  spectrum = {};

  // A copy of x delayed by 4321 samples, under noise: a clear correlation peak.
  std::vector<double> y = noise(kSpan, 50.0, 32);
  for (std::size_t n = 4321; n < kSpan; ++n) {
    y[n] += 0.5 * x[n - 4321];
  }
  if (auto xcorr = r.need<decltype(&::xcorr)>(lib, "xcorr", "lumetra.xcorr")) {
    std::vector<double> c(kLags);
    r.call("xcorr", xcorr, x.data(), y.data(), c.data());
    if (auto abs = r.need<decltype(&::b_abs)>(lib, "b_abs", "lumetra.b_abs")) {
      std::vector<double> a(kLags);
      r.call("b_abs", abs, c.data(), a.data());
      r.add("lumetra.b_abs(xcorr)", Kind::kDerived, std::move(a));
    }
    r.add("lumetra.xcorr", Kind::kDerived, std::move(c));
  }
}

// One full-length estimation: a stepped reference (silence, then noise whose
// amplitude changes at every step) and a recording that lags it by 12000
// samples at half the amplitude, under a little noise of its own.
void lumetra_estimation_case(Runner& r, const Library& lib) {
  auto f = r.need<decltype(&::lumetra_estimation)>(lib, "lumetra_estimation",
                                                   "lumetra.lumetra_estimation");
  if (f == nullptr) {
    return;
  }
  constexpr std::size_t kSpan = 720000;
  constexpr std::size_t kStep = 1185600;  // 24.7 s at 48000 Hz
  constexpr std::size_t kReference = kSpan + 11 * kStep;
  constexpr std::size_t kDelay = 12000;
  std::vector<double> reference = noise(kReference, 1.0, 41);
  for (std::size_t n = 0; n < kReference; ++n) {
    if (n < 96000) {
      reference[n] = 0.0;
    } else if (n < kSpan) {
      reference[n] *= 9000.0;
    } else {
      reference[n] *= 20000.0 / static_cast<double>(1 + (n - kSpan) / kStep);
    }
  }
  std::vector<double> recording = noise(kReference + kDelay, 2.0, 42);
  for (std::size_t n = kDelay; n < recording.size(); ++n) {
    recording[n] += 0.5 * reference[n - kDelay];
  }
  Wrapped ref(reference);
  Wrapped rec(recording);
  std::vector<double> level(11);
  std::vector<double> range(11);
  double peak = 0.0;
  double failed = 0.0;
  r.call("lumetra_estimation", f, &ref.record, &rec.record, 0.0, 0.0, 1.0, level.data(),
         range.data(), &peak, &failed);
  r.add("lumetra.lumetra_estimation.stepLevel", Kind::kDerived, std::move(level));
  r.add("lumetra.lumetra_estimation.stepRange", Kind::kDerived, std::move(range));
  r.add("lumetra.lumetra_estimation.peakLevel", Kind::kDerived, peak);
  r.add("lumetra.lumetra_estimation.failed", Kind::kExact, failed);

  // A recording shorter than the 15 s opening: refused, every level NaN.
  std::vector<double> opening(recording.begin(), recording.begin() + kSpan - 1);
  Wrapped cut(opening);
  std::vector<double> refused(11 + 11 + 2);
  r.call("lumetra_estimation", f, &ref.record, &cut.record, 0.0, 0.0, 0.0, refused.data(),
         refused.data() + 11, refused.data() + 22, refused.data() + 23);
  r.add("lumetra.lumetra_estimation(short recording)", Kind::kExact, std::move(refused));
}

// Gates that alternate between speech-like bursts and near silence every
// 100 ms; the measured signal is the gate, attenuated, under steady noise.
void snr_cases(Runner& r, const Library& lib) {
  auto f = r.need<SnrEstimation>(lib, "SNR_estimation", "quenbar.SNR_estimation");
  if (f == nullptr) {
    return;
  }
  for (const double fs : {48000.0, 44100.0, 8000.0}) {
    const auto n = static_cast<std::size_t>(fs) * 3 + 17;
    const auto block = static_cast<std::size_t>(fs) / 10;
    std::vector<double> gate = noise(n, 1.0, 51);
    for (std::size_t k = 0; k < n; ++k) {
      gate[k] *= (k / block) % 2 == 0 ? 6000.0 : 0.5;
    }
    std::vector<double> measured = noise(n, 30.0, 52);
    for (std::size_t k = 0; k < n; ++k) {
      measured[k] += 0.8 * gate[k];
    }
    Wrapped g(gate);
    Wrapped m(measured);
    double snr = 0.0;
    double extra = 1.0;
    r.call("SNR_estimation", f, &g.record, &m.record, fs, &snr, &extra);
    const std::string name =
        "quenbar.SNR_estimation(fs=" + std::to_string(static_cast<int>(fs)) + ")";
    r.add(name + ".snrDb", Kind::kDerived, snr);
    r.add(name + ".extraOut", Kind::kExact, extra);
  }

  // Degenerate inputs: rates without a whole sample per frame, one-sample
  // frames, non-finite gate samples, silence in the inactive frames, no
  // frame at all. NaN, infinities and the floor come out of the arithmetic.
  const double inf = std::numeric_limits<double>::infinity();
  const double nan = std::numeric_limits<double>::quiet_NaN();
  std::vector<double> gate = noise(4000, 1.0, 53);
  std::vector<double> measured = noise(4000, 20.0, 54);
  for (std::size_t k = 0; k < gate.size(); ++k) {
    gate[k] *= (k / 400) % 2 == 0 ? 3000.0 : 0.25;
  }
  std::vector<double> edge;
  auto estimate = [&](std::vector<double>& g, std::vector<double>& m, double fs) {
    Wrapped wg(g);
    Wrapped wm(m);
    double snr = 0.0;
    r.call("SNR_estimation", f, &wg.record, &wm.record, fs, &snr, nullptr);
    edge.push_back(snr);
  };
  for (const double fs : {0.0, -8000.0, 199.0, nan, inf, 200.0, 1e300}) {
    estimate(gate, measured, fs);
  }
  std::vector<double> with_nan = gate;
  with_nan[1234] = nan;
  estimate(with_nan, measured, 8000.0);
  std::vector<double> with_inf = gate;
  with_inf[2345] = -inf;
  estimate(with_inf, measured, 8000.0);
  std::vector<double> silent_noise = measured;
  for (std::size_t k = 0; k < silent_noise.size(); ++k) {
    silent_noise[k] = (k / 400) % 2 == 0 ? silent_noise[k] : 0.0;
  }
  estimate(gate, silent_noise, 8000.0);
  std::vector<double> short_gate(gate.begin(), gate.begin() + 39);
  estimate(short_gate, measured, 8000.0);
  r.add("quenbar.SNR_estimation(degenerate inputs).snrDb", Kind::kDerived, std::move(edge));
}

// Subnormal numbers, which flush-to-zero and denormals-are-zero would turn
// into zeros: sums of subnormal values, b_rms of values whose squares are
// subnormal, and the SNR of such a measured signal under a gate that is
// active in every other 5 ms frame at 8000 Hz.
void subnormal_cases(Runner& r, const Library& lumetra, const Library& quenbar) {
  constexpr std::size_t kN = 400;  // ten 40-sample frames at 8000 Hz
  std::vector<double> tiny(kN);
  std::vector<double> small(kN);
  std::vector<double> gate(kN);
  for (std::size_t k = 0; k < kN; ++k) {
    tiny[k] = static_cast<double>(k % 7 + 1) * 0x1p-1070;
    small[k] = static_cast<double>(k % 5 + 1) * 0x1p-530;
    gate[k] = k / 40 % 2 == 0 ? 3000.0 : 0.0;
  }
  Wrapped t(tiny);
  Wrapped m(small);
  Wrapped g(gate);
  if (auto f = r.need<RecordSum>(lumetra, "b_sum", "lumetra.b_sum(subnormal)")) {
    r.add("lumetra.b_sum(subnormal)", Kind::kExact, r.call("b_sum", f, &t.record));
  }
  if (auto f = r.need<QuenbarSum>(quenbar, "sum", "quenbar.sum(subnormal)")) {
    r.add("quenbar.sum(subnormal)", Kind::kExact, r.call("sum", f, &t.record));
  }
  if (auto f = r.need<RecordSum>(lumetra, "b_rms", "lumetra.b_rms(subnormal squares)")) {
    r.add("lumetra.b_rms(subnormal squares)", Kind::kExact, r.call("b_rms", f, &m.record));
  }
  const char* snr_case = "quenbar.SNR_estimation(subnormal measured)";
  if (auto f = r.need<SnrEstimation>(quenbar, "SNR_estimation", snr_case)) {
    double snr = 0.0;
    double extra = 1.0;
    r.call("SNR_estimation", f, &g.record, &m.record, 8000.0, &snr, &extra);
    r.add(std::string(snr_case) + ".snrDb", Kind::kDerived, snr);
    r.add(std::string(snr_case) + ".extraOut", Kind::kExact, extra);
  }
}

}  // namespace

const char* kind_name(Kind kind) {
  switch (kind) {
    case Kind::kExact:
      return "exact";
    case Kind::kLibm:
      return "libm";
    case Kind::kDerived:
      return "derived";
  }
  return "?";
}

#ifdef _WIN32
Library::Library(const std::string& path) : path_(path) {
  handle_ = reinterpret_cast<void*>(LoadLibraryA(path.c_str()));
}
Library::~Library() {
  if (handle_ != nullptr) {
    FreeLibrary(static_cast<HMODULE>(handle_));
  }
}
void* Library::symbol(const char* name) const {
  if (handle_ == nullptr) {
    return nullptr;
  }
  return reinterpret_cast<void*>(GetProcAddress(static_cast<HMODULE>(handle_), name));
}
#else
Library::Library(const std::string& path) : path_(path) {
  handle_ = dlopen(path.c_str(), RTLD_NOW | RTLD_LOCAL);
}
Library::~Library() {
  if (handle_ != nullptr) {
    dlclose(handle_);
  }
}
void* Library::symbol(const char* name) const {
  return handle_ == nullptr ? nullptr : dlsym(handle_, name);
}
#endif

std::string lumetra_library() {
  return AM_LUMETRA_LIBRARY;
}
std::string quenbar_library() {
  return AM_QUENBAR_LIBRARY;
}

Run run_all(const Library& lumetra, const Library& quenbar, CallHooks* hooks) {
  Run run;
  Runner r(run, hooks);
  initialize(r, lumetra, "lumetra_estimation_initialize", "lumetra");
  record_sums(r, lumetra, "lumetra", "b_sum");
  lumetra_levels(r, lumetra);
  lumetra_transforms(r, lumetra);
  lumetra_estimation_case(r, lumetra);
  initialize(r, quenbar, "SNR_estimation_initialize", "quenbar");
  record_sums(r, quenbar, "quenbar", "sum");
  snr_cases(r, quenbar);
  subnormal_cases(r, lumetra, quenbar);
  return run;
}

}  // namespace cases
