// lumetra_estimation's input checks: records of any extents and numDims, null
// records, sizes and data, short and odd lengths, any stepMode, null output
// pointers. No input here is long enough to be estimated (the harness never
// provides the 12.6 million samples a reference needs), so every call must be
// refused quickly, with failed 1.0 and NaN levels, and without reading a
// single sample: the records' storage is poisoned for the address sanitizer
// during the call.
#include <sanitizer/asan_interface.h>

#include <cmath>
#include <cstdint>

#include "fuzz/fuzz_support.h"
#include "lumetra.h"
#include "lumetra/estimation.h"

namespace {

constexpr std::int32_t kBudget = 1 << 16;

void poison(fuzz::HostRecord& r, bool on) {
  std::vector<double>& s = r.storage();
  if (s.empty()) {
    return;
  }
  if (on) {
    ASAN_POISON_MEMORY_REGION(s.data(), s.size() * sizeof(double));
  } else {
    ASAN_UNPOISON_MEMORY_REGION(s.data(), s.size() * sizeof(double));
  }
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  FuzzedDataProvider in(data, size);
  const double step_mode = fuzz::interesting_double(in);
  const fuzz::Samples samples(in);
  fuzz::HostRecord reference(in, samples, kBudget);
  fuzz::HostRecord recording(in, samples, kBudget);
  const int null_outputs = in.ConsumeIntegralInRange<int>(0, 15);

  poison(reference, true);
  poison(recording, true);
  const lumetra::Estimate e =
      lumetra::estimate(reference.get(), recording.get(), step_mode, lumetra::static_workspace());
  double level[11];
  double range[11];
  double peak = 0.0;
  double failed = 0.0;
  lumetra_estimation(
      reference.get(), recording.get(), 0.0, 0.0, step_mode,
      (null_outputs & 1) != 0 ? nullptr : level, (null_outputs & 2) != 0 ? nullptr : range,
      (null_outputs & 4) != 0 ? nullptr : &peak, (null_outputs & 8) != 0 ? nullptr : &failed);
  poison(reference, false);
  poison(recording, false);

  fuzz::check(e.failed == 1.0, "short or unreadable input was not refused");
  const std::uint32_t refusals = lumetra::kUnreadableInput | lumetra::kShortInput;
  fuzz::check(e.diagnostics.causes != 0 && (e.diagnostics.causes & ~refusals) == 0,
              "refusal with other causes");
  for (int k = 0; k < lumetra::kSteps; ++k) {
    fuzz::check(std::isnan(e.step_level[k]) && std::isnan(e.step_range[k]), "refusal level");
    fuzz::check((null_outputs & 1) != 0 || std::isnan(level[k]), "exported stepLevel");
    fuzz::check((null_outputs & 2) != 0 || std::isnan(range[k]), "exported stepRange");
  }
  fuzz::check(std::isnan(e.peak_level), "refusal peak level");
  fuzz::check((null_outputs & 4) != 0 || std::isnan(peak), "exported peakLevel");
  fuzz::check((null_outputs & 8) != 0 || failed == 1.0, "exported failed");
  return 0;
}
