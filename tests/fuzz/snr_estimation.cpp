// SNR_estimation on arbitrary records and rates: lengths, extents and
// numDims of any value, null records, sizes and data, rates that are NaN,
// zero, negative, tiny or huge, and samples of any bit pattern.
//
// Checks: nothing is read outside the records (the sanitizers); extraOut is
// 0.0; nothing is allocated; every kernel gives the bits of the exported
// function; bad input (as quenbar.h lists it) gives exactly the library's NaN
// and is reported as bad input or a bad rate by the diagnostics, which name a
// reason for every non-finite estimate and for no finite one; valid input
// gives the straightforward reference path's result.
#include <cmath>
#include <cstdint>

#include "fuzz/fuzz_support.h"
#include "quenbar.h"
#include "quenbar/snr.h"
#include "runtime/alloc.h"
#include "support/common.h"
#include "support/snr_reference.h"

namespace {

constexpr std::int32_t kBudget = 1 << 15;  // samples a record may hold here
constexpr std::uint64_t kNaNBits = 0xFFF8000000000000;

// Whether quenbar.h calls this input valid: a readable gate and measured
// signal covering the whole frames, at a rate of at least one sample per
// frame. Records here never claim more than they hold, so "holds" is the
// element count.
bool valid_input(const emxArray_real_T* gate, const emxArray_real_T* measured, double fs) {
  if (gate == nullptr || measured == nullptr || gate->numDims < 1 || gate->size == nullptr) {
    return false;
  }
  const std::vector<std::int32_t> gate_extents(gate->size, gate->size + gate->numDims);
  const std::int64_t gate_elements = fuzz::element_count(gate_extents);
  const double L = std::floor(0.005 * fs);
  if (gate_elements < 0 || !(L >= 1.0) || std::isinf(L)) {
    return false;
  }
  const double F = std::floor(static_cast<double>(gate->size[0]) / L);
  if (F < 1.0) {
    return true;  // no frame: nothing is read
  }
  std::int64_t measured_elements = -1;
  if (measured->numDims == 0) {
    measured_elements = 1;
  } else if (measured->numDims > 0 && measured->size != nullptr) {
    measured_elements = fuzz::element_count(
        std::vector<std::int32_t>(measured->size, measured->size + measured->numDims));
  }
  const auto span = static_cast<std::int64_t>(F * L);
  return gate->data != nullptr && measured->data != nullptr && gate_elements >= span &&
         measured_elements >= span;
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  FuzzedDataProvider in(data, size);
  const double fs = fuzz::sample_rate(in);
  const fuzz::Samples gate_samples(in);
  const fuzz::Samples measured_samples(in);
  fuzz::HostRecord gate(in, gate_samples, kBudget);
  fuzz::HostRecord measured(in, measured_samples, kBudget);

  // Whichever allocation the seam refuses, the estimate asks for none.
  runtime::alloc_seam::fail_nth(in.ConsumeIntegralInRange<long>(0, 3));
  double snr = 1.0;
  double extra = 1.0;
  SNR_estimation(gate.get(), measured.get(), fs, &snr, &extra);
  fuzz::check(runtime::alloc_seam::requests() == 0, "SNR_estimation asked for memory");
  runtime::alloc_seam::reset();
  fuzz::check(fuzz::bits(extra) == 0, "extraOut is not +0.0");
  SNR_estimation(gate.get(), measured.get(), fs, nullptr, nullptr);

  quenbar::Reason reason = quenbar::Reason::kFinite;
  for (const quenbar::kernels::Table* kernels :
       testing_support::runnable(quenbar::kernels::for_isa)) {
    const quenbar::Estimate e =
        quenbar::estimate_with_diagnostics(gate.get(), measured.get(), fs, *kernels);
    fuzz::check(fuzz::same_result(e.snr_db, snr), "kernels disagree");
    reason = e.diagnostics.reason;
  }
  // The diagnostics name the reason of every non-finite estimate, and only
  // of those.
  fuzz::check((reason == quenbar::Reason::kFinite) == std::isfinite(snr),
              "reason does not match the estimate");

  if (!valid_input(gate.get(), measured.get(), fs)) {
    fuzz::check(fuzz::bits(snr) == kNaNBits, "bad input did not give the library's NaN");
    fuzz::check(reason == quenbar::Reason::kBadInput || reason == quenbar::Reason::kBadRate,
                "bad input not reported as such");
    return 0;
  }
  fuzz::check(reason != quenbar::Reason::kBadInput && reason != quenbar::Reason::kBadRate,
              "valid input reported as bad");
  const double expected = reference::snr(gate.get(), measured.get(), fs).snr_db;
  fuzz::check(fuzz::same_result(expected, snr), "estimate differs from the reference path");
  return 0;
}
