// How the C heap is watched on each platform:
//   - under AddressSanitizer or ThreadSanitizer, which replace the
//     allocator: its count of bytes allocated, and a malloc hook that counts
//     the calls;
//   - with glibc: mallinfo2 (bytes in the arenas and in mapped blocks), and
//     malloc, calloc, realloc, aligned_alloc (aligned new) and free defined
//     in this program, which count each call and hand it to glibc's own functions
//     (the program's definitions take the place of the C library's for the
//     whole process);
//   - on Windows: the busy blocks of every heap of the process; the calls
//     are not counted.
// Whatever the way, a probe checks once that it sees a block come and go
// (under valgrind, which puts its own allocator in place of every one of
// these, neither way works, and the probes say so).
#include "support/heap.h"

#include <atomic>
#include <cstdlib>

#if defined(__has_feature)
#if __has_feature(address_sanitizer) || __has_feature(thread_sanitizer)
#define AM_SANITIZER_HEAP 1
#endif
#endif
#if defined(__SANITIZE_ADDRESS__) || defined(__SANITIZE_THREAD__)
#define AM_SANITIZER_HEAP 1
#endif

#if defined(AM_SANITIZER_HEAP)
extern "C" {
std::size_t __sanitizer_get_current_allocated_bytes();
int __sanitizer_install_malloc_and_free_hooks(void (*malloc_hook)(const volatile void*,
                                                                  std::size_t),
                                              void (*free_hook)(const volatile void*));
}
#elif defined(__GLIBC__)
#include <malloc.h>
#elif defined(_WIN32)
#include <windows.h>
#endif

namespace {

std::atomic<long> g_allocations{0};

[[maybe_unused]] void count() noexcept {
  g_allocations.fetch_add(1, std::memory_order_relaxed);
}

// Called through a volatile pointer, so that the probe's blocks are really
// asked for.
void* (*volatile g_malloc)(std::size_t) = std::malloc;

}  // namespace

#if defined(AM_SANITIZER_HEAP)

namespace {
void on_malloc(const volatile void*, std::size_t) {
  count();
}
void on_free(const volatile void*) {}
bool hooks_installed() {
  static const bool installed = __sanitizer_install_malloc_and_free_hooks(on_malloc, on_free) != 0;
  return installed;
}
}  // namespace

std::size_t testing_support::heap_bytes() {
  return __sanitizer_get_current_allocated_bytes();
}
long testing_support::heap_allocations() {
  return hooks_installed() ? g_allocations.load(std::memory_order_relaxed) : 0;
}

#elif defined(__GLIBC__)

extern "C" {
void* __libc_malloc(std::size_t size);
void* __libc_calloc(std::size_t count, std::size_t size);
void* __libc_realloc(void* block, std::size_t size);
void* __libc_memalign(std::size_t alignment, std::size_t size);
void __libc_free(void* block);

// glibc declares them noexcept.
void* malloc(std::size_t size) noexcept {
  count();
  return __libc_malloc(size);
}
void* calloc(std::size_t n, std::size_t size) noexcept {
  count();
  return __libc_calloc(n, size);
}
void* realloc(void* block, std::size_t size) noexcept {
  count();
  return __libc_realloc(block, size);
}
void free(void* block) noexcept {
  __libc_free(block);
}
void* aligned_alloc(std::size_t alignment, std::size_t size) noexcept {
  count();
  return __libc_memalign(alignment, size);
}
}

std::size_t testing_support::heap_bytes() {
  const struct mallinfo2 m = mallinfo2();
  return m.uordblks + m.hblkhd;
}
long testing_support::heap_allocations() {
  return g_allocations.load(std::memory_order_relaxed);
}

#else

std::size_t testing_support::heap_bytes() {
#if defined(_WIN32)
  HANDLE heaps[256];
  const DWORD n = GetProcessHeaps(256, heaps);
  std::size_t busy = 0;
  for (DWORD i = 0; i < n && i < 256; ++i) {
    if (!HeapLock(heaps[i])) {
      continue;
    }
    PROCESS_HEAP_ENTRY entry{};
    while (HeapWalk(heaps[i], &entry)) {
      if ((entry.wFlags & PROCESS_HEAP_ENTRY_BUSY) != 0) {
        busy += entry.cbData;
      }
    }
    HeapUnlock(heaps[i]);
  }
  return busy;
#else
  return 0;
#endif
}
long testing_support::heap_allocations() {
  return 0;
}

#endif

const char* testing_support::heap_bytes_unavailable() {
  static const char* const why = []() -> const char* {
    constexpr std::size_t kProbe = std::size_t{1} << 20;
    const std::size_t before = heap_bytes();
    void* block = g_malloc(kProbe);
    const std::size_t during = heap_bytes();
    std::free(block);
    const std::size_t after = heap_bytes();
    if (block == nullptr || during < before + kProbe ||
        after > before + static_cast<std::size_t>(kHeapSlack)) {
      return "the C heap's figure does not follow a 1 MiB block in this process";
    }
    return nullptr;
  }();
  return why;
}

const char* testing_support::heap_calls_unavailable() {
  static const char* const why = []() -> const char* {
    const long before = heap_allocations();
    std::free(g_malloc(64));
    if (heap_allocations() != before + 1) {
      return "the C heap's allocation calls are not counted in this process";
    }
    return nullptr;
  }();
  return why;
}

std::string testing_support::expect_heap(const HeapWatch& watch, long calls) {
  std::string why;
  if (const char* uncounted = heap_calls_unavailable()) {
    why = uncounted;
  } else {
    EXPECT_EQ(watch.allocations(), calls) << "allocation calls of the C heap";
  }
  if (const char* unread = heap_bytes_unavailable()) {
    why += (why.empty() ? "" : "; ") + std::string(unread);
  } else {
    EXPECT_LE(watch.growth(), kHeapSlack) << "C heap growth, bytes";
  }
  return why;
}
