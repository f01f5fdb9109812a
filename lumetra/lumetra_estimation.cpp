// The entry point, over the estimation core in the library's static
// workspace: the spectral toolkit's work arrays and tables, which xcorr,
// fft and ifft use too (calls into lumetra do not overlap).
#include <algorithm>

#include "lumetra.h"
#include "lumetra/estimation.h"
#include "runtime/fp_guard.h"
#include "spectral/engine.h"

namespace lumetra {

const Workspace& static_workspace() noexcept {
  // Filled on the first call, which builds the tables. Constant-initialised:
  // a guarded static would bring the C++ library's exception support, and
  // its start-up code, into the library.
  static Workspace workspace{};
  if (workspace.tables == nullptr) {
    workspace = {spectral::static_workspace(), &spectral::tables()};
  }
  return workspace;
}

}  // namespace lumetra

extern "C" void lumetra_estimation(const emxArray_real_T* reference,
                                   const emxArray_real_T* recording, double spareA, double spareB,
                                   double stepMode, double stepLevel[11], double stepRange[11],
                                   double* peakLevel, double* failed) noexcept {
  const runtime::FpGuard guard;
  static_cast<void>(spareA);
  static_cast<void>(spareB);
  const lumetra::Estimate e =
      lumetra::estimate(reference, recording, stepMode, lumetra::static_workspace());
  if (stepLevel != nullptr) {
    std::copy_n(e.step_level, lumetra::kSteps, stepLevel);
  }
  if (stepRange != nullptr) {
    std::copy_n(e.step_range, lumetra::kSteps, stepRange);
  }
  if (peakLevel != nullptr) {
    *peakLevel = e.peak_level;
  }
  if (failed != nullptr) {
    *failed = e.failed;
  }
}
