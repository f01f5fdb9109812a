// Helpers shared by the fuzz harnesses: records and samples made from the
// fuzz input the way a careless but honest host makes them. Extents may be
// anything (negative, zero, huge, overflowing), numDims too, and size or data
// may be null; but a non-null data pointer always holds at least the elements
// that valid extents describe, so that every out-of-bounds read the
// sanitizers report is the library's.
#pragma once

#include <fuzzer/FuzzedDataProvider.h>

#include <algorithm>
#include <bit>
#include <cmath>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <limits>
#include <vector>

#include "emx_runtime.h"
#include "support/common.h"

namespace fuzz {

// A finding: print what broke and abort, which libFuzzer reports as a crash
// and saves the input.
[[noreturn]] inline void fail(const char* what) {
  std::fprintf(stderr, "fuzz check failed: %s\n", what);
  std::abort();
}

inline void check(bool ok, const char* what) {
  if (!ok) {
    fail(what);
  }
}

using testing_support::bits;
using testing_support::same_result;

// FNV-1a of the whole input: picks the costly checks for a share of the
// inputs that the corpus cannot steer.
inline std::uint64_t input_hash(const std::uint8_t* data, std::size_t size) {
  return testing_support::fnv1a(data, size);
}

// A double that sample and rate fields like to receive: specials, boundaries
// and arbitrary bit patterns.
inline double interesting_double(FuzzedDataProvider& in) {
  constexpr double kInf = std::numeric_limits<double>::infinity();
  static constexpr double kSpecial[] = {0.0,
                                        -0.0,
                                        1.0,
                                        -1.0,
                                        std::numeric_limits<double>::quiet_NaN(),
                                        -std::numeric_limits<double>::quiet_NaN(),
                                        kInf,
                                        -kInf,
                                        std::numeric_limits<double>::max(),
                                        std::numeric_limits<double>::min(),
                                        std::numeric_limits<double>::denorm_min(),
                                        1e-6,
                                        10.36,
                                        32767.0,
                                        -32768.0,
                                        1e154,
                                        1e300};
  switch (in.ConsumeIntegralInRange<int>(0, 2)) {
    case 0:
      return kSpecial[in.ConsumeIntegralInRange<std::size_t>(0, std::size(kSpecial) - 1)];
    case 1:
      return static_cast<double>(in.ConsumeIntegral<std::int16_t>());
    default:
      return std::bit_cast<double>(in.ConsumeIntegral<std::uint64_t>());
  }
}

// A sample rate: the usual ones, the edge of one sample per frame, and
// anything else (NaN, zero, negative, huge).
inline double sample_rate(FuzzedDataProvider& in) {
  static constexpr double kRates[] = {8000.0, 16000.0, 44100.0, 48000.0, 96000.0,
                                      200.0,  199.0,   199.99,  400.0,   1000.0};
  if (in.ConsumeBool()) {
    return kRates[in.ConsumeIntegralInRange<std::size_t>(0, std::size(kRates) - 1)];
  }
  return interesting_double(in);
}

// An extent: mostly small, sometimes a boundary or any int32_t.
inline std::int32_t extent(FuzzedDataProvider& in, std::int32_t small_limit) {
  static constexpr std::int32_t kSpecial[] = {
      0, 1, -1, 2, 16, 17, 65536, 1 << 30, (1 << 30) + 1, INT32_MAX, INT32_MIN, -65536};
  switch (in.ConsumeIntegralInRange<int>(0, 5)) {
    case 0:
      return kSpecial[in.ConsumeIntegralInRange<std::size_t>(0, std::size(kSpecial) - 1)];
    case 1:
      return in.ConsumeIntegral<std::int32_t>();
    default:
      return in.ConsumeIntegralInRange<std::int32_t>(0, small_limit);
  }
}

// Element count of extents, or -1 when one is negative or the product passes
// int32_t: what a record may claim to hold.
inline std::int64_t element_count(const std::vector<std::int32_t>& extents) {
  std::int64_t count = 1;
  for (const std::int32_t e : extents) {
    if (e < 0) {
      return -1;
    }
    count *= e;
    if (count > INT32_MAX) {
      return -1;
    }
  }
  return count;
}

// Samples from the fuzz input: raw doubles, 16-bit values or specials, the
// bytes used cyclically when the input runs out.
class Samples {
 public:
  explicit Samples(FuzzedDataProvider& in) {
    const int count = in.ConsumeIntegralInRange<int>(0, 64);
    for (int k = 0; k < count && in.remaining_bytes() > 0; ++k) {
      values_.push_back(interesting_double(in));
    }
    if (values_.empty()) {
      values_.push_back(0.0);
    }
    stride_ = in.ConsumeIntegralInRange<std::size_t>(1, 7);
  }
  // Fills x cyclically; a stride other than 1 spreads the values unevenly.
  void fill(double* x, std::size_t n) const {
    for (std::size_t k = 0; k < n; ++k) {
      x[k] = values_[(k * stride_ + k / values_.size()) % values_.size()];
    }
  }

 private:
  std::vector<double> values_;
  std::size_t stride_ = 1;
};

// A record that a host built by hand. Its size array and storage live here.
class HostRecord {
 public:
  // budget: the most elements whose storage this harness will provide.
  HostRecord(FuzzedDataProvider& in, const Samples& samples, std::int32_t budget) {
    const int dims = in.ConsumeIntegralInRange<int>(-2, 4);
    record_.numDims = dims;
    null_record_ = in.ConsumeIntegralInRange<int>(0, 31) == 0;
    if (dims > 0) {
      for (int k = 0; k < dims; ++k) {
        // One long dimension, the others short, as vectors come.
        extents_.push_back(extent(in, k == 0 ? budget : 3));
      }
    }
    const bool null_size = dims > 0 && in.ConsumeIntegralInRange<int>(0, 15) == 0;
    record_.size = null_size ? nullptr : extents_.data();
    // What the record claims to hold: a zero-dimensional record one
    // element; otherwise its element count, and storage for at least size[0]
    // elements even where the other extents hold fewer (a {5, 0} or {5, -1}
    // record), so that a library reading size[0] values regardless would
    // read this harness's own samples and be caught by the result check,
    // not only by the sanitizers. A negative numDims, a null size or a
    // negative size[0] claims nothing.
    std::int64_t claimed = -1;
    if (dims == 0) {
      claimed = 1;
    } else if (dims > 0 && !null_size && extents_[0] >= 0) {
      claimed = std::max<std::int64_t>(element_count(extents_), extents_[0]);
    }
    // More than this harness provides: data stays null.
    const bool too_large = claimed > budget;
    const bool null_data = too_large || in.ConsumeIntegralInRange<int>(0, 15) == 0;
    if (!null_data && (claimed >= 0 || in.ConsumeBool())) {
      // Storage for what is claimed and a few samples more (a record that
      // claims nothing still points somewhere, at a few samples).
      const std::int64_t extra = in.ConsumeIntegralInRange<std::int64_t>(claimed > 0 ? 0 : 1, 3);
      storage_.resize(static_cast<std::size_t>((claimed > 0 ? claimed : 0) + extra));
      samples.fill(storage_.data(), storage_.size());
      record_.data = storage_.data();
    }
    record_.capacity = claimed > 0 && !too_large ? static_cast<std::int32_t>(claimed) : 0;
    record_.ownsData = 0;
  }
  HostRecord(const HostRecord&) = delete;
  HostRecord& operator=(const HostRecord&) = delete;

  const emxArray_real_T* get() const { return null_record_ ? nullptr : &record_; }
  // Samples that the record's data holds (0 when data is null).
  std::size_t held() const { return record_.data == nullptr ? 0 : storage_.size(); }
  std::vector<double>& storage() { return storage_; }

 private:
  std::vector<std::int32_t> extents_;
  std::vector<double> storage_;
  emxArray_real_T record_{};
  bool null_record_ = false;
};

}  // namespace fuzz
