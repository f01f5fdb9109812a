// Huge-page advice for large buffers (see huge_pages.h).
#include "runtime/huge_pages.h"

#include <cstdint>

#include "runtime/alloc.h"

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

void* allocate_large(std::size_t bytes) noexcept {
  // The block from the allocator holds, in front of the aligned start, the
  // pointer release_large hands back to it.
  constexpr std::size_t kFront = kLargeBufferAlign + sizeof(void*);
  if (bytes > SIZE_MAX - kFront) {
    return nullptr;
  }
  void* base = allocate(bytes + kFront);
  if (base == nullptr) {
    return nullptr;
  }
  const auto first = reinterpret_cast<std::uintptr_t>(base) + sizeof(void*);
  auto* aligned =
      reinterpret_cast<void**>((first + kLargeBufferAlign - 1) & ~(kLargeBufferAlign - 1));
  aligned[-1] = base;
  advise_huge_pages(aligned, bytes);
  return aligned;
}

void release_large(void* block) noexcept {
  if (block != nullptr) {
    release(static_cast<void**>(block)[-1]);
  }
}

}  // namespace runtime
