// The AVX2 kernel table: four lanes per vector. This file alone is compiled
// with -mavx2 (never -mfma); best() and for_isa() hand its table out only
// where the processor and the operating system support AVX2.
#include "lumetra/kernels_impl.h"
#include "runtime/simd_avx2.h"

namespace lumetra::kernels {

constinit const Table kAvx2Table = Lanes<runtime::simd::Avx2>::table();

}  // namespace lumetra::kernels
