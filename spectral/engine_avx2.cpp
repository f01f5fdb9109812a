// The engine with AVX2, four lanes per register. This file alone is compiled
// with -mavx2 (never -mfma: each product is rounded before it is added) and
// runs only after cpu_has_avx2() said yes.
#include "spectral/kernels.h"
#include "spectral/simd_avx2.h"

namespace spectral {

const Engine kEngineAvx2 = make_engine<Avx2>();

}  // namespace spectral
