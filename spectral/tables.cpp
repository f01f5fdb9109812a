// Twiddle tables of the engine, built into any storage from the quarter
// wave, and the process's one set of them on the heap.
//
// The quarter wave depends on nothing but N; the engine's tables are unfolded
// from it by sign flips and copies, so every set built from it holds the
// same values, wherever it lives.
#include <atomic>
#include <cmath>
#include <thread>

#include "runtime/huge_pages.h"
#include "spectral/engine.h"

namespace spectral {
namespace {

// Entry j (0 <= j <= N/2) of the forward tables, as the unfolding of the
// exported tables writes it: costab[k] = q[k], sintab[k] = -q[Q-k],
// costab[Q+k] = -q[Q-k], sintab[Q+k] = -q[k] for k = 1..Q.
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

// The heap set: its arrays in one block (the column table first, on huge
// pages), described by g_shared_tables once g_shared_state says it is built.
// A lock of the C++ library would bring its exceptions' start-up code into
// the libraries (code at load time); an atomic state does the job: one call
// moves it from kNone to kBuilding and builds, the others wait.
constexpr long kHeapTableDoubles = kColumnDoubles + 3L * kBlock;
enum : int { kNone, kBuilding, kBuilt };
Tables g_shared_tables{};
std::atomic<int> g_shared_state{kNone};

// Builds the heap set into g_shared_tables; false when the memory cannot be
// had.
bool build_shared_tables() noexcept {
  auto* block = static_cast<double*>(runtime::allocate_large(sizeof(double) * kHeapTableDoubles));
  auto* q = static_cast<double*>(runtime::allocate_large(sizeof(double) * kQuarterLength));
  if (block == nullptr || q == nullptr) {
    runtime::release_large(block);
    runtime::release_large(q);
    return false;
  }
  const TableStorage s{block + kColumnDoubles,
                       {block + kColumnDoubles + kBlock, block + kColumnDoubles + 2L * kBlock},
                       block};
  evaluate_quarter_wave(q);
  build_tables(q, s);
  // Nothing else reads this quarter wave: the exported builders keep their
  // own, beside the static tables.
  runtime::release_large(q);
  g_shared_tables = Tables{s.block_cos, {s.block_sin[0], s.block_sin[1]}, s.column};
  return true;
}

}  // namespace

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

void build_tables(const double* q, const TableStorage& s) noexcept {
  // Pass A: stage with half-span h keeps W(m), j = m N / (2h), at h + m.
  for (int h = 1; h < kBlock; h <<= 1) {
    for (int m = 0; m < h; ++m) {
      double sine = 0.0;
      forward_entry(q, m * (kHalf / h), &s.block_cos[h + m], &sine);
      s.block_sin[0][h + m] = sine;
      s.block_sin[1][h + m] = -sine;
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
        double* out = s.column + (g * kGroupTwiddles + r - 1 + c0) * kChunkDoubles;
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

const Tables* shared_tables() noexcept {
  // Acquire pairs with the release of kBuilt: a call that sees kBuilt sees
  // the tables.
  int state = g_shared_state.load(std::memory_order_acquire);
  while (state != kBuilt) {
    if (state == kNone) {
      // On failure state holds what another call made of it.
      if (g_shared_state.compare_exchange_strong(state, kBuilding, std::memory_order_acquire)) {
        const bool built = build_shared_tables();
        g_shared_state.store(built ? kBuilt : kNone, std::memory_order_release);
        return built ? &g_shared_tables : nullptr;
      }
    } else {
      // Another call builds them (a few tens of milliseconds, once).
      std::this_thread::yield();
      state = g_shared_state.load(std::memory_order_acquire);
    }
  }
  return &g_shared_tables;
}

}  // namespace spectral
