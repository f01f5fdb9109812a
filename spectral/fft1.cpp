// Twiddle tables: a quarter-wave cosine table, unfolded into full tables.
//
// The quarter wave depends on nothing but N, so it is evaluated once, on the
// first call that needs it, and kept; everything else (the exported full
// tables and the engine's own tables) is unfolded from it by sign flips and
// copies, which gives the same values as evaluating it afresh every time.
#include <cmath>

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
alignas(runtime::kLargeBufferAlign) double g_column[kColumnGroups * kGroupTwiddles * kChunkDoubles];
bool g_tables_built = false;

void evaluate_quarter_wave(double* q) noexcept {
  q[0] = 1.0;
  q[1] = kCosStep;
  // Up to N/8 the cosine itself; the angle n*e is one rounded product.
  for (int n = 2; n <= kEighth; ++n) {
    q[n] = std::cos(static_cast<double>(n) * kAngleStep);
  }
  q[kEighth + 1] = kSinAt262143;
  // Above pi/4 the cosine is the sine of the complementary angle; the
  // difference (N/4 - n) is exact, then one rounded product.
  for (int n = kEighth + 2; n < kQuarter; ++n) {
    q[n] = std::sin(static_cast<double>(kQuarter - n) * kAngleStep);
  }
  q[kQuarter] = 0.0;
}

// Entry j (0 <= j <= N/2) of the forward tables, as the unfolding below
// writes it: costab[k] = q[k], sintab[k] = -q[Q-k], costab[Q+k] = -q[Q-k],
// sintab[Q+k] = -q[k] for k = 1..Q.
void forward_entry(const double* q, int j, double* c, double* s) noexcept {
  if (j == 0) {
    *c = 1.0;
    *s = 0.0;
  } else if (j <= kQuarter) {
    *c = q[j];
    *s = -q[kQuarter - j];
  } else {
    *c = -q[kHalf - j];
    *s = -q[j - kQuarter];
  }
}

void build_engine_tables(const double* q) noexcept {
  // Pass A: stage with half-span h keeps W(m), j = m N / (2h), at h + m.
  for (int h = 1; h < kBlock; h <<= 1) {
    for (int m = 0; m < h; ++m) {
      double s = 0.0;
      forward_entry(q, m * (kHalf / h), &g_block_cos[h + m], &s);
      g_block_sin[0][h + m] = s;
      g_block_sin[1][h + m] = -s;
    }
  }
  // Pass B: per column group g, per stage, per row offset c, 4 cosines and 4
  // sines; lane l, row offset c at stage s has m = l + c * kBlock. Filled in
  // tiles of up to 16 row offsets across all groups, so that both the reads
  // of q and the writes run in order.
  for (int r = 1; r < kRows; r <<= 1) {       // r = 2^(s-13): stage s
    const int stride = kHalf / (r * kBlock);  // N / 2^s
    const int tile = r < 16 ? r : 16;
    for (int c0 = 0; c0 < r; c0 += tile) {
      for (int g = 0; g < kColumnGroups; ++g) {
        double* out = g_column + (g * kGroupTwiddles + r - 1 + c0) * kChunkDoubles;
        for (int c = c0; c < c0 + tile; ++c, out += kChunkDoubles) {
          for (int lane = 0; lane < kLanes; ++lane) {
            const int m = g * kLanes + lane + c * kBlock;
            forward_entry(q, m * stride, &out[lane], &out[kLanes + lane]);
          }
        }
      }
    }
  }
}

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
    build_engine_tables(cached_quarter_wave());
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
