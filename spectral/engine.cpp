// Choice of the engine variant at run time.
#include "spectral/engine.h"

#include "runtime/cpu.h"

namespace spectral {
namespace {

const Engine* g_engine = nullptr;  // chosen on first use: nothing runs at load time

alignas(64) double g_work[3][kWorkDoubles];
alignas(64) double g_cross[kBlock * kChunkDoubles];

}  // namespace

const WorkArrays& work_arrays() noexcept {
  static constexpr WorkArrays kArrays{{g_work[0], g_work[1], g_work[2]}, g_cross};
  return kArrays;
}

const Engine& engine() noexcept {
  if (g_engine == nullptr) {
    g_engine = runtime::cpu_has_avx2() ? &kEngineAvx2 : &kEngineSse2;
  }
  return *g_engine;
}

bool select_engine(Isa isa) noexcept {
  if (isa == Isa::kAvx2 && !runtime::cpu_has_avx2()) {
    return false;
  }
  g_engine = isa == Isa::kAvx2 ? &kEngineAvx2 : &kEngineSse2;
  return true;
}

}  // namespace spectral
