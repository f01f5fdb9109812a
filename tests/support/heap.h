// The heap as the robustness tests watch it. The libraries' allocation seam
// (runtime/alloc.h) counts every request and block of theirs on every
// platform; the C heap as a whole shows a block that a library took from
// malloc or new directly, past the seam. Where the C heap cannot be watched
// (heap.cpp says how it is watched where it can), a check reports itself
// as not applicable: the test is counted as skipped, with the reason.
#pragma once

#include <gtest/gtest.h>

#include <cstddef>
#include <cstdint>
#include <string>

#include "runtime/alloc.h"

namespace testing_support {

// Why the C heap's bytes in use cannot be read here, or nullptr when
// heap_bytes() follows them (found out once, by watching a 1 MiB block come
// and go).
const char* heap_bytes_unavailable();
// Bytes the C heap holds for the program. Blocks an allocator keeps in its
// caches count as held, so the figure moves by a few hundred bytes without
// a leak: growth is bounded by kHeapSlack.
std::size_t heap_bytes();
inline constexpr std::int64_t kHeapSlack = 16384;

// Why the C heap's allocation calls cannot be counted here, or nullptr.
const char* heap_calls_unavailable();
// Allocation calls (malloc, calloc, realloc and the aligned forms, and new
// through them) since counting began, on every thread.
long heap_allocations();

// What the C heap did from its construction on.
class HeapWatch {
 public:
  // The probes of the ways of watching run first, once, outside the watch.
  HeapWatch() {
    heap_calls_unavailable();
    heap_bytes_unavailable();
    bytes_ = static_cast<std::int64_t>(heap_bytes());
    allocations_ = heap_allocations();
  }
  std::int64_t growth() const { return static_cast<std::int64_t>(heap_bytes()) - bytes_; }
  long allocations() const { return heap_allocations() - allocations_; }

 private:
  std::int64_t bytes_ = 0;
  long allocations_ = 0;
};

// Expects `calls` allocation calls of the C heap since `watch` began and a
// heap no larger by more than kHeapSlack; returns why a part cannot be
// watched here ("" when none).
std::string expect_heap(const HeapWatch& watch, long calls);
// The same, and what cannot be watched here makes the test report itself
// as not applicable (skipped, with the reason), after the rest of it.
#define AM_EXPECT_HEAP(watch, calls)                                              \
  if (const std::string am_heap_why = testing_support::expect_heap(watch, calls); \
      !am_heap_why.empty())                                                       \
  GTEST_SKIP() << "not applicable here: " << am_heap_why

// Every test starts and ends with the seam disarmed, its count zero and no
// byte limit.
class DisarmedSeam : public ::testing::Test {
 protected:
  void SetUp() override { disarm(); }
  void TearDown() override { disarm(); }

 private:
  static void disarm() {
    runtime::alloc_seam::reset();
    runtime::alloc_seam::limit_bytes(0);
  }
};

}  // namespace testing_support
