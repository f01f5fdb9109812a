// A host program linked against the shared lumetra library through its
// public header alone (on Windows: the import library and dllimport
// declarations, the exported variables included).
#include <gtest/gtest.h>

#include <bit>
#include <cstdint>
#include <vector>

#include "lumetra.h"

namespace {

TEST(LumetraHost, ExportedVariablesAreReadThroughTheImport) {
  rt_InitInfAndNaN(8);
  EXPECT_EQ(std::bit_cast<std::uint64_t>(rtNaN), 0xFFF8000000000000u);
  EXPECT_EQ(std::bit_cast<std::uint32_t>(rtInfF), 0x7F800000u);
  EXPECT_EQ(std::bit_cast<std::uint32_t>(rtMinusInfF), 0xFF800000u);
  EXPECT_EQ(rtIsInf(rtInf), 1);
}

// The unit sample at n = 0 transforms to (1, 0) in every bin, exactly.
TEST(LumetraHost, TransformsThroughTheLibrary) {
  std::vector<double> x(720000, 0.0);
  x[0] = 1.0;
  std::vector<complex_T> y(2097152, complex_T{-1.0, -1.0});
  fft(x.data(), y.data());
  for (std::size_t k = 0; k < y.size(); ++k) {
    ASSERT_EQ(std::bit_cast<std::uint64_t>(y[k].re), 0x3FF0000000000000u) << k;
    ASSERT_EQ(std::bit_cast<std::uint64_t>(y[k].im), 0u) << k;
  }
}

}  // namespace
