// The entry point, over the estimate of snr.cpp.
#include "quenbar.h"
#include "quenbar/snr.h"
#include "runtime/fp_guard.h"

extern "C" void SNR_estimation(const emxArray_real_T* gateSignal,
                               const emxArray_real_T* measuredSignal, double fs, double* snrDb,
                               double* extraOut) noexcept {
  const runtime::FpGuard guard;
  if (extraOut != nullptr) {
    *extraOut = 0.0;
  }
  const quenbar::Estimate e = quenbar::estimate_with_diagnostics(gateSignal, measuredSignal, fs);
  if (snrDb != nullptr) {
    *snrDb = e.snr_db;
  }
}
