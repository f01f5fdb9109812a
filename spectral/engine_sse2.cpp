// The engine on the x86-64 baseline: SSE2, two lanes per register.
#include "spectral/kernels.h"
#include "spectral/simd_sse2.h"

namespace spectral {

const Engine kEngineSse2 = make_engine<Sse2>();

}  // namespace spectral
