// The gain estimation written out step by step, the way the procedure reads:
// the reference against which the library's fast path is proven
// bit-identical. It calls the library's exported building blocks (rms, b_rms,
// b_log10, sum, b_sum, b_abs and the array API), keeps every working array
// as a record, takes one b_rms per onset frame and per block, and sums
// nothing side by side. It is slow and allocates freely; tests only.
#pragma once

#include <cstdint>
#include <vector>

#include "emx_runtime.h"
#include "lumetra/estimation.h"

namespace straight {

// The coarse alignment: 200-entry windows shifted every frame, counted with
// sum(); one 241-sample frame record and one b_rms per frame and signal.
// Reference positions at or past reference_length read as 0.0.
lumetra::Onsets crude_align(const double* reference, std::int64_t reference_length, double* delay,
                            double* delay_too_large, const double* sig_tmp, double* b_sig_tmp);

// The first-maximum scan over the 1439999 magnitudes, 1-based.
lumetra::Peak find_peak(const double* cross_cor);

// Steps, block spreads and peak level of an aligned recording held in a
// record of Nref samples (the reference's length).
lumetra::Levels measure(const emxArray_real_T* aligned, double step_period);

// The whole estimation for valid input (both records readable and long
// enough), with its diagnostics; the correlation through `correlate`.
lumetra::Estimate estimate(const emxArray_real_T* reference, const emxArray_real_T* recording,
                           double stepMode, lumetra::Correlator correlate);

// Every output and diagnostic of an estimate, as bits: two estimates are the
// same when these are.
std::vector<std::uint64_t> estimate_bits(const lumetra::Estimate& e);

// xcorr that keeps its last inputs and result: a call whose inputs equal the
// last ones, element for element, copies the kept result. Lets a fast and a
// straight estimation of one case share a single correlation.
void remembered_xcorr(const double* x, const double* y, double* r) noexcept;

}  // namespace straight
