// Large buffers on huge pages. A first estimation touches about 105 MB of
// buffers for the first time; with 4 KiB pages that is some 26000 page
// faults, which cost several times the estimation itself. Where
// the kernel offers transparent huge pages on request (Linux, the `madvise`
// mode), asking for them turns those faults into a few dozen. Elsewhere it
// does nothing. Nothing here runs when a library loads: callers ask on first
// use of their buffers.
#pragma once

#include <cstddef>

namespace runtime {

// Alignment of the large buffers, static or on the heap: a huge page (2 MiB)
// on Linux, so that a buffer covers whole huge pages; a cache line elsewhere.
#if defined(__linux__)
inline constexpr std::size_t kLargeBufferAlign = std::size_t{1} << 21;
#else
inline constexpr std::size_t kLargeBufferAlign = 64;
#endif

// Asks the kernel to back the whole 2 MiB pages inside [begin, begin + bytes)
// with huge pages (madvise MADV_HUGEPAGE). Advice only: the contents and
// every result stay the same whether or not it is taken, and a refusal is
// ignored. Idempotent. Does nothing off Linux.
void advise_huge_pages(void* begin, std::size_t bytes) noexcept;

// An uninitialised heap block of bytes that starts on a kLargeBufferAlign
// boundary, its whole huge pages advised; nullptr when the allocation
// (through runtime/alloc.h, one request) fails. Release it with
// release_large, which ignores nullptr.
void* allocate_large(std::size_t bytes) noexcept;
void release_large(void* block) noexcept;

}  // namespace runtime
