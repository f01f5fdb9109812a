// Choice of the kernel table at run time.
#include "lumetra/kernels.h"
#include "runtime/cpu.h"

namespace lumetra::kernels {

extern const Table kAvx2Table;

const Table* avx2() noexcept {
  return runtime::cpu_has_avx2() ? &kAvx2Table : nullptr;
}

const Table& best() noexcept {
  const Table* wide = avx2();
  return wide != nullptr ? *wide : sse2();
}

}  // namespace lumetra::kernels
