// Internal core of SNR_estimation, for the library's entry point, tests and
// benchmarks.
#pragma once

#include <cstdint>

#include "emx_runtime.h"

namespace quenbar {

// How the frames' sums of squares are formed. All kernels give the same bits;
// they differ in speed. A kernel that this build or processor lacks falls back
// to the next narrower one.
enum class Kernel : std::uint8_t {
  kScalar,  // one frame at a time
  kSse2,    // two frames side by side (x86-64 baseline)
  kAvx2,    // four frames side by side, where the processor has AVX2
};

// The widest kernel that this build and processor can run.
Kernel fastest_kernel() noexcept;

// The estimate that SNR_estimation writes to snrDb, with the chosen kernel.
// Reads the records only; allocates nothing; keeps no state.
double estimate(const emxArray_real_T* gate, const emxArray_real_T* measured, double fs,
                Kernel kernel) noexcept;

inline double estimate(const emxArray_real_T* gate, const emxArray_real_T* measured,
                       double fs) noexcept {
  return estimate(gate, measured, fs, fastest_kernel());
}

}  // namespace quenbar
