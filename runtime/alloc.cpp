#include "alloc.h"

#include <atomic>
#include <cstdint>
#include <cstdlib>

namespace runtime {
namespace {

// Requests seen since the last reset, and the request number that must fail
// (0: none). Atomic because quenbar's estimates may run on several threads.
std::atomic<long> g_requests{0};
std::atomic<long> g_fail_at{0};
std::atomic<std::size_t> g_last_bytes{0};
std::atomic<std::size_t> g_limit{0};  // largest request served; 0: any
std::atomic<long> g_live{0};          // blocks handed out, not yet released

bool refused(std::size_t bytes) noexcept {
  g_last_bytes.store(bytes, std::memory_order_relaxed);
  const long n = g_requests.fetch_add(1, std::memory_order_relaxed) + 1;
  const std::size_t limit = g_limit.load(std::memory_order_relaxed);
  return n == g_fail_at.load(std::memory_order_relaxed) || (limit != 0 && bytes > limit);
}

void* counted(void* block) noexcept {
  if (block != nullptr) {
    g_live.fetch_add(1, std::memory_order_relaxed);
  }
  return block;
}

}  // namespace

void* allocate_zeroed(std::size_t count, std::size_t elem) noexcept {
  const std::size_t bytes = elem != 0 && count > SIZE_MAX / elem ? SIZE_MAX : count * elem;
  if (refused(bytes)) {
    return nullptr;
  }
  // calloc checks count * elem for overflow itself.
  return counted(std::calloc(count == 0 ? 1 : count, elem == 0 ? 1 : elem));
}

void* allocate(std::size_t bytes) noexcept {
  if (refused(bytes)) {
    return nullptr;
  }
  return counted(std::malloc(bytes == 0 ? 1 : bytes));
}

void release(void* block) noexcept {
  if (block != nullptr) {
    g_live.fetch_sub(1, std::memory_order_relaxed);
  }
  std::free(block);
}

bool reuse_granted(std::size_t bytes) noexcept {
  if (refused(bytes)) {
    return false;
  }
  g_live.fetch_add(1, std::memory_order_relaxed);
  return true;
}

void set_aside() noexcept {
  g_live.fetch_sub(1, std::memory_order_relaxed);
}

namespace alloc_seam {
void fail_nth(long k) noexcept {
  g_requests.store(0, std::memory_order_relaxed);
  g_fail_at.store(k, std::memory_order_relaxed);
}
void reset() noexcept {
  fail_nth(0);
}
void limit_bytes(std::size_t bytes) noexcept {
  g_limit.store(bytes, std::memory_order_relaxed);
}
long requests() noexcept {
  return g_requests.load(std::memory_order_relaxed);
}
long live_blocks() noexcept {
  return g_live.load(std::memory_order_relaxed);
}
std::size_t last_request_bytes() noexcept {
  return g_last_bytes.load(std::memory_order_relaxed);
}
}  // namespace alloc_seam

}  // namespace runtime
