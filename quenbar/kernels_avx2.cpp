// The AVX2 kernel table: four frames per vector. This file alone is compiled
// with -mavx2 (never -mfma); best() and for_isa() hand its table out only
// where the processor and the operating system support AVX2.
#include "quenbar/kernels_impl.h"
#include "runtime/simd_avx2.h"

namespace quenbar::kernels {

constinit const Table kAvx2Table = FrameLanes<runtime::simd::Avx2>::table();

}  // namespace quenbar::kernels
