// The baseline kernel table: two frames per SSE2 vector.
#include "quenbar/kernels_impl.h"
#include "runtime/simd_sse2.h"

namespace quenbar::kernels {

constinit const Table kSse2Table = FrameLanes<runtime::simd::Sse2>::table();

}  // namespace quenbar::kernels
