// The hosts' library's C API as a careless host calls it: option structs of
// any bytes and any struct_size, lengths negative, huge or short, null
// pointers, rates of any value, and the streaming calls in any order with
// chunks of any size.
//
// Checks: every call returns AM_OK or one of the documented statuses, never
// crashes or reads outside the caller's buffers (the sanitizers); a refusal
// leaves the report as it was; an SNR measurement streamed in any chunks,
// in any interleaving, gives the whole-array report byte for byte, or the
// same refusal; every allocation failure is a status; nothing leaks.
// Gain measurements past their refusals need a full-length reference, too
// slow for a fuzz input: their options, lengths and the reference's calls
// are fuzzed up to there.
#include <cmath>
#include <cstdint>
#include <cstring>
#include <limits>
#include <vector>

#include "audiomeasure.h"
#include "fuzz/fuzz_support.h"
#include "runtime/alloc.h"

namespace {

bool known_status(int s) {
  return s <= AM_OK && s >= AM_ERR_UNRELIABLE_LAG;
}

// The two forms' reports byte for byte, but for one freedom: with NaN or
// infinite samples among the frames (verdict non_finite_samples) a NaN
// figure may carry a sample's own payload in one form and the default NaN
// in the other, as the frames' sums meet the samples in another order.
bool same_report(am_snr_report a, am_snr_report b) {
  if (a.verdict == AM_VERDICT_NON_FINITE_SAMPLES && b.verdict == AM_VERDICT_NON_FINITE_SAMPLES) {
    for (am_snr_report* r : {&a, &b}) {
      for (double* v : {&r->snr_db, &r->active_power_sum, &r->inactive_power_sum, &r->noise_power,
                        &r->signal_power, &r->noise_power_db, &r->signal_power_db}) {
        if (std::isnan(*v)) {
          *v = std::numeric_limits<double>::quiet_NaN();
        }
      }
    }
  }
  return std::memcmp(&a, &b, sizeof a) == 0;
}

// An options struct made of fuzz bytes: sometimes initialised and then
// spoilt in one field, sometimes raw.
template <class Options>
Options fuzzed_options(FuzzedDataProvider& in, void (*init)(Options*)) {
  Options o;
  init(&o);
  switch (in.ConsumeIntegralInRange<int>(0, 3)) {
    case 0:
      break;
    case 1:
      o.struct_size = in.ConsumeIntegral<std::uint32_t>();
      break;
    case 2: {
      const std::vector<std::uint8_t> raw = in.ConsumeBytes<std::uint8_t>(sizeof o);
      if (!raw.empty()) {  // (an empty vector's data() may be null)
        std::memcpy(&o, raw.data(), raw.size());
      }
      break;
    }
    default: {
      std::int32_t field = in.ConsumeIntegralInRange<std::int32_t>(-2, 4);
      std::memcpy(reinterpret_cast<char*>(&o) + 4, &field, sizeof field);
      break;
    }
  }
  return o;
}

std::int64_t fuzzed_length(FuzzedDataProvider& in, std::int64_t small) {
  switch (in.ConsumeIntegralInRange<int>(0, 5)) {
    case 0:
      return -in.ConsumeIntegralInRange<std::int64_t>(1, INT64_MAX);
    case 1:
      return in.ConsumeIntegralInRange<std::int64_t>(std::int64_t{1} << 31, INT64_MAX);
    default:
      return in.ConsumeIntegralInRange<std::int64_t>(0, small);
  }
}

void snr_case(FuzzedDataProvider& in) {
  const double fs = fuzz::sample_rate(in);
  const am_snr_options options = fuzzed_options<am_snr_options>(in, am_snr_options_init);
  const bool null_options = in.ConsumeBool();
  constexpr std::int64_t kBudget = 1 << 14;
  const std::int64_t n_gate = fuzzed_length(in, kBudget);
  const std::int64_t n_measured = fuzzed_length(in, kBudget);
  const fuzz::Samples gate_samples(in);
  const fuzz::Samples measured_samples(in);
  // Storage for the lengths a host could pass (never more than the budget).
  std::vector<double> gate(static_cast<std::size_t>(n_gate >= 0 && n_gate <= kBudget ? n_gate : 0));
  std::vector<double> measured(
      static_cast<std::size_t>(n_measured >= 0 && n_measured <= kBudget ? n_measured : 0));
  gate_samples.fill(gate.data(), gate.size());
  measured_samples.fill(measured.data(), measured.size());
  const bool lengths_fit = gate.size() == static_cast<std::size_t>(n_gate) &&
                           measured.size() == static_cast<std::size_t>(n_measured);
  const am_snr_options* o = null_options ? nullptr : &options;

  am_snr_report whole;
  am_snr_report_init(&whole);
  whole.snr_db = 42.0;
  const int status =
      lengths_fit ? am_snr_measure(gate.data(), n_gate, measured.data(), n_measured, fs, o, &whole)
                  : am_snr_measure(nullptr, n_gate, nullptr, n_measured, fs, o, &whole);
  fuzz::check(known_status(status), "am_snr_measure: an unknown status");
  fuzz::check(status == AM_OK || whole.snr_db == 42.0, "a refusal wrote the report");
  if (!lengths_fit) {
    fuzz::check(status != AM_OK, "lengths without samples were measured");
    return;
  }

  // The same signals streamed: chunks of any size, either signal ahead.
  am_snr_measurement* m = nullptr;
  const int created = am_snr_create(o, fs, &m);
  fuzz::check(known_status(created) && (created == AM_OK) == (m != nullptr), "am_snr_create");
  if (created != AM_OK) {
    fuzz::check(status != AM_OK || created == AM_ERR_OUT_OF_MEMORY,
                "the streaming form refused what the whole form measured");
    return;
  }
  std::size_t g = 0;
  std::size_t k = 0;
  int fed = AM_OK;
  while (fed == AM_OK && (g < gate.size() || k < measured.size())) {
    const std::size_t step = in.ConsumeIntegralInRange<std::size_t>(1, 5000);
    if (in.ConsumeBool() && g < gate.size()) {
      const std::size_t n = std::min(step, gate.size() - g);
      fed = am_snr_feed_gate(m, gate.data() + g, static_cast<std::int64_t>(n));
      g += n;
    } else if (k < measured.size()) {
      const std::size_t n = std::min(step, measured.size() - k);
      fed = am_snr_feed_measured(m, measured.data() + k, static_cast<std::int64_t>(n));
      k += n;
    } else if (g < gate.size()) {
      const std::size_t n = std::min(step, gate.size() - g);
      fed = am_snr_feed_gate(m, gate.data() + g, static_cast<std::int64_t>(n));
      g += n;
    }
  }
  fuzz::check(fed == AM_OK || fed == AM_ERR_OUT_OF_MEMORY, "feeding failed");
  am_snr_report streamed;
  am_snr_report_init(&streamed);
  const int finished = fed == AM_OK ? am_snr_finish(m, &streamed) : fed;
  // Out of memory in one form and not the other is the seam's doing.
  if (finished != AM_ERR_OUT_OF_MEMORY && status != AM_ERR_OUT_OF_MEMORY) {
    fuzz::check(finished == status, "the streaming form's status differs from the whole form's");
    fuzz::check(status != AM_OK || same_report(streamed, whole),
                "the streamed report differs from the whole-array report");
  }
  if (finished == AM_OK) {
    fuzz::check(am_snr_feed_gate(m, gate.data(), 0) == AM_ERR_STATE, "fed after finish");
  }
  am_snr_destroy(m);
}

void gain_case(FuzzedDataProvider& in) {
  const am_gain_options options = fuzzed_options<am_gain_options>(in, am_gain_options_init);
  const std::int64_t n_ref = fuzzed_length(in, std::int64_t{1} << 25);
  const std::int64_t n_rec = fuzzed_length(in, 1 << 21);
  // No storage: a reference long enough to be measured is beyond a fuzz
  // input, so whatever passes the refusals is refused here for its null
  // samples, never read.
  am_gain_report report;
  am_gain_report_init(&report);
  report.peak_level = 42.0;
  const int status = am_gain_measure(nullptr, n_ref, nullptr, n_rec, &options, &report);
  fuzz::check(known_status(status) && status != AM_OK, "am_gain_measure measured null samples");
  fuzz::check(report.peak_level == 42.0, "a refusal wrote the report");

  am_gain_reference* r = nullptr;
  const int created = am_gain_reference_create(&options, n_ref, &r);
  fuzz::check(known_status(created) && (created == AM_OK) == (r != nullptr),
              "am_gain_reference_create");
  if (r == nullptr) {
    return;
  }
  std::vector<double> chunk(in.ConsumeIntegralInRange<std::size_t>(0, 4096), 1.0);
  for (int call = in.ConsumeIntegralInRange<int>(0, 4); call > 0; --call) {
    const int s = am_gain_reference_feed(r, chunk.data(), static_cast<std::int64_t>(chunk.size()));
    fuzz::check(s == AM_OK || s == AM_ERR_LENGTH, "am_gain_reference_feed");
  }
  fuzz::check(am_gain_reference_finish(r) == AM_ERR_REFERENCE_LENGTH,
              "a reference fed short was finished");
  am_gain_measurement* m = nullptr;
  fuzz::check(am_gain_create(r, &m) == AM_ERR_STATE && m == nullptr,
              "a measurement against an unfinished reference");
  am_gain_reference_destroy(r);
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  FuzzedDataProvider in(data, size);
  // Any one allocation may fail; every call must say so with a status.
  runtime::alloc_seam::fail_nth(in.ConsumeIntegralInRange<long>(0, 6));
  if (in.ConsumeBool()) {
    snr_case(in);
  } else {
    gain_case(in);
  }
  runtime::alloc_seam::reset();
  return 0;
}
