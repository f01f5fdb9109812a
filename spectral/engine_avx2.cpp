// The engine with AVX2, four lanes per register. This file alone is compiled
// with -mavx2 (never -mfma: each product is rounded before it is added);
// engine_for() and engine() hand it out only where the processor runs it.
#include "runtime/simd_avx2.h"
#include "spectral/engine_impl.h"

namespace spectral {

constinit const Engine kEngineAvx2 = make_engine<runtime::simd::Avx2>();

}  // namespace spectral
