// The engine on the x86-64 baseline: SSE2, four lanes in two registers.
#include "runtime/simd_sse2.h"
#include "spectral/engine_impl.h"

namespace spectral {

constinit const Engine kEngineSse2 = make_engine<runtime::simd::Sse2>();

}  // namespace spectral
