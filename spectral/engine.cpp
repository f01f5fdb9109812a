// The engine's work arrays, and the choice of its variant.
#include "spectral/engine.h"

namespace spectral {
namespace {

alignas(64) double g_work[3][kWorkDoubles];
alignas(64) double g_cross[kBlock * kChunkDoubles];

constexpr runtime::IsaTables<Engine> kEngines{kEngineSse2, kEngineAvx2};

}  // namespace

const WorkArrays& work_arrays() noexcept {
  static constexpr WorkArrays kArrays{{g_work[0], g_work[1], g_work[2]}, g_cross};
  return kArrays;
}

const Engine& engine() noexcept {
  return kEngines.best();
}

const Engine* engine_for(runtime::Isa isa) noexcept {
  return kEngines.find(isa);
}

}  // namespace spectral
