// Heap access of both libraries. Every allocation goes through here so that a
// test can make one chosen allocation fail and watch the callers cope.
#pragma once

#include <cstddef>

namespace runtime {

// Zero-filled block of count elements of elem bytes, or nullptr when the
// allocation fails, is refused by the fault seam or count * elem overflows.
void* allocate_zeroed(std::size_t count, std::size_t elem) noexcept;

// Uninitialised block of bytes, or nullptr (as above).
void* allocate(std::size_t bytes) noexcept;

// Releases a block from allocate or allocate_zeroed; nullptr is ignored.
void release(void* block) noexcept;

// For an owner that keeps blocks it freed to hand them out again (the
// working memory of measurements): taking one back counts as a request of
// `bytes` for the seam below, refused like any (false), and the block is
// live again; putting one aside makes it not live.
bool reuse_granted(std::size_t bytes) noexcept;
void set_aside() noexcept;

// Test seam. Counts every allocation request; once armed with k >= 1, the
// k-th request from then on fails (that one only). Not exported.
namespace alloc_seam {
void fail_nth(long k) noexcept;
void reset() noexcept;  // disarm and zero the count (the byte limit stays)
// Refuses every request for more than bytes (0: no limit), as a heap of that
// size would: lets a fuzz harness pass extents of any size without the
// process asking the system for gigabytes.
void limit_bytes(std::size_t bytes) noexcept;
long requests() noexcept;  // requests since the last reset
// Blocks handed out and not yet released, since the process started: a
// call that leaks nothing leaves it as it found it.
long live_blocks() noexcept;
// Bytes asked for by the latest request, refused or not (count * elem for
// allocate_zeroed, saturated at SIZE_MAX): lets a test see how much a caller
// wanted without the memory being handed out.
std::size_t last_request_bytes() noexcept;
}  // namespace alloc_seam

}  // namespace runtime
