// The engine's work arrays.
#include "spectral/engine.h"

#include "runtime/huge_pages.h"

namespace spectral {
namespace {

// The work arrays (96 MiB) on huge pages where the kernel offers them.
alignas(runtime::kLargeBufferAlign) double g_work[3][kWorkDoubles];
alignas(64) double g_cross[kBlock * kChunkDoubles];

}  // namespace

const WorkArrays& work_arrays() noexcept {
  static constexpr WorkArrays kArrays{{g_work[0], g_work[1], g_work[2]}, g_cross};
  // Advised on first use, before anything touches them.
  static bool advised = false;
  if (!advised) {
    runtime::advise_huge_pages(g_work, sizeof g_work);
    advised = true;
  }
  return kArrays;
}

}  // namespace spectral
