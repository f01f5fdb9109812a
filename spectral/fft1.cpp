// The static twiddle tables of the exported functions: a quarter-wave cosine
// table, unfolded into full tables.
//
// The quarter wave depends on nothing but N, so it is evaluated once, on the
// first call that needs it, and kept; everything else (the exported full
// tables and the engine's own tables) is unfolded from it by sign flips and
// copies, which gives the same values as evaluating it afresh every time.
#include "runtime/fp_guard.h"
#include "runtime/huge_pages.h"
#include "spectral/engine.h"
#include "spectral/spectral.h"

namespace spectral {
namespace {

// The cached quarter wave, and the engine's tables (see Tables in engine.h).
// The two large ones (4 MiB and 32 MiB) are on huge pages where the kernel
// offers them, advised before they are first written.
alignas(runtime::kLargeBufferAlign) double g_quarter[kQuarterLength];
bool g_quarter_built = false;

alignas(64) double g_block_cos[kBlock];
alignas(64) double g_block_sin[2][kBlock];
alignas(runtime::kLargeBufferAlign) double g_column[kColumnDoubles];
bool g_tables_built = false;

}  // namespace

const double* cached_quarter_wave() noexcept {
  if (!g_quarter_built) {
    runtime::advise_huge_pages(g_quarter, sizeof g_quarter);
    evaluate_quarter_wave(g_quarter);
    g_quarter_built = true;
  }
  return g_quarter;
}

const Tables& tables() noexcept {
  static constexpr Tables kTables{g_block_cos, {g_block_sin[0], g_block_sin[1]}, g_column};
  if (!g_tables_built) {
    runtime::advise_huge_pages(g_column, sizeof g_column);
    build_tables(cached_quarter_wave(), {g_block_cos, {g_block_sin[0], g_block_sin[1]}, g_column});
    g_tables_built = true;
  }
  return kTables;
}

void quarter_wave(std::span<double, kQuarterLength> q) noexcept {
  const double* cached = cached_quarter_wave();
  for (int n = 0; n < kQuarterLength; ++n) {
    q[n] = cached[n];
  }
}

void twiddle_tables(std::span<double, kTableLength> costab, std::span<double, kTableLength> sintab,
                    bool inverse) noexcept {
  const double* q = cached_quarter_wave();
  costab[0] = 1.0;
  sintab[0] = 0.0;
  // Negation flips the sign bit, so signed zeros come out as the quadrant
  // implies: costab[N/4] = +0, costab[N/2] = -1, forward sintab[N/2] = -0.
  for (int k = 1; k <= kQuarter; ++k) {
    const double near = q[k];
    const double far = q[kQuarter - k];
    costab[k] = near;
    costab[kQuarter + k] = -far;
    sintab[k] = inverse ? far : -far;
    sintab[kQuarter + k] = inverse ? near : -near;
  }
}

}  // namespace spectral

namespace {

// The exported builders' body: both arrays, or nothing.
void exported_tables(double* costab, double* sintab, bool inverse) noexcept {
  using Table = std::span<double, spectral::kTableLength>;
  if (costab != nullptr && sintab != nullptr) {
    spectral::twiddle_tables(Table(costab, Table::extent), Table(sintab, Table::extent), inverse);
  }
}

}  // namespace

extern "C" {

void generate_twiddle_tables(double costab[1048577], double sintab[1048577]) noexcept {
  const runtime::FpGuard guard;
  exported_tables(costab, sintab, false);
}

void b_generate_twiddle_tables(double costab[1048577], double sintab[1048577]) noexcept {
  const runtime::FpGuard guard;
  exported_tables(costab, sintab, true);
}

}  // extern "C"
