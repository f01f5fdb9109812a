// The first NaN or infinite sample of a signal.
#pragma once

#include <cstdint>

namespace am {

// A signal's first non-finite sample: its position from 0 (-1: none) and
// its value.
struct NonFinite {
  std::int64_t position = -1;
  double value = 0.0;

  explicit operator bool() const noexcept { return position >= 0; }
};

// The first non-finite value of x[0 .. n), its position counted from
// `offset`; none when every value is finite.
NonFinite first_non_finite(const double* x, std::int64_t n, std::int64_t offset = 0) noexcept;

// Keeps the first one seen: `found` unless it is none, else the first of
// x[0 .. n) counted from `offset`.
inline void note_non_finite(NonFinite& found, const double* x, std::int64_t n,
                            std::int64_t offset) noexcept {
  if (!found) {
    found = first_non_finite(x, n, offset);
  }
}

}  // namespace am
