// The static workspace of the exported transforms and correlation.
#include <atomic>

#include "runtime/huge_pages.h"
#include "spectral/engine.h"

namespace spectral {
namespace {

// The work arrays (64 MiB) on huge pages where the kernel offers them.
alignas(runtime::kLargeBufferAlign) double g_work[2][kWorkDoubles];
alignas(64) double g_cross[kCrossDoubles];
alignas(64) double g_scratch[kScratchDoubles];

}  // namespace

const Workspace& static_workspace() noexcept {
  static constexpr Workspace kWorkspace{{g_work[0], g_work[1]}, g_cross, g_scratch};
  // Advised on first use, before anything touches them.
  static std::atomic<bool> advised{false};
  if (!advised.load(std::memory_order_relaxed)) {
    runtime::advise_huge_pages(g_work, sizeof g_work);
    advised.store(true, std::memory_order_relaxed);
  }
  return kWorkspace;
}

}  // namespace spectral
