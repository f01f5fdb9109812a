// The engine's work arrays.
#include "spectral/engine.h"

namespace spectral {
namespace {

alignas(64) double g_work[3][kWorkDoubles];
alignas(64) double g_cross[kBlock * kChunkDoubles];

}  // namespace

const WorkArrays& work_arrays() noexcept {
  static constexpr WorkArrays kArrays{{g_work[0], g_work[1], g_work[2]}, g_cross};
  return kArrays;
}

}  // namespace spectral
