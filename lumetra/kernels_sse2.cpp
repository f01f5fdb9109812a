// The baseline kernel table: two lanes per SSE2 vector.
#include "lumetra/kernels_impl.h"
#include "runtime/simd_sse2.h"

namespace lumetra::kernels {

constinit const Table kSse2Table = Lanes<runtime::simd::Sse2>::table();

}  // namespace lumetra::kernels
