// Huge-page advice for large static buffers (see huge_pages.h).
#include "runtime/huge_pages.h"

#include <cstdint>

#if defined(__linux__)
#include <sys/mman.h>
#endif

namespace runtime {

void advise_huge_pages(void* begin, std::size_t bytes) noexcept {
#if defined(__linux__) && defined(MADV_HUGEPAGE)
  constexpr std::uintptr_t kHuge = std::uintptr_t{1} << 21;
  const auto first = reinterpret_cast<std::uintptr_t>(begin);
  // The whole huge pages inside the buffer: first rounded up, end down.
  const std::uintptr_t from = (first + kHuge - 1) & ~(kHuge - 1);
  const std::uintptr_t to = (first + bytes) & ~(kHuge - 1);
  if (to > from) {
    // A kernel without transparent huge pages refuses (EINVAL): the buffer
    // then stays on small pages, which is only slower.
    static_cast<void>(madvise(reinterpret_cast<void*>(from), to - from, MADV_HUGEPAGE));
  }
#else
  static_cast<void>(begin);
  static_cast<void>(bytes);
#endif
}

}  // namespace runtime
