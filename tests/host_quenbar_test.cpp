// A host program linked against the shared quenbar library through its
// public header alone (on Windows: the import library and dllimport
// declarations, the exported variables included).
#include <gtest/gtest.h>

#include <bit>
#include <cstdint>
#include <vector>

#include "quenbar.h"

namespace {

TEST(QuenbarHost, ExportedVariablesAreReadThroughTheImport) {
  SNR_estimation_initialize();
  EXPECT_EQ(std::bit_cast<std::uint64_t>(rtNaN), 0xFFF8000000000000u);
  EXPECT_EQ(std::bit_cast<std::uint64_t>(rtInf), 0x7FF0000000000000u);
  EXPECT_EQ(std::bit_cast<std::uint64_t>(rtMinusInf), 0xFFF0000000000000u);
  EXPECT_EQ(std::bit_cast<std::uint32_t>(rtNaNF), 0xFFC00000u);
  EXPECT_EQ(rtIsInf(rtMinusInf), 1);
  SNR_estimation_terminate();
}

// 200 frames of 240 samples at 48000 Hz: 100 loud, 100 silent in the gate;
// the measured signal has power 4 in the loud frames and 1 in the silent
// ones: (4 - 1) / 1 = 3, about 4.77 dB.
TEST(QuenbarHost, EstimatesThroughRecordsMadeByTheLibrary) {
  SNR_estimation_initialize();
  std::vector<double> gate(48000);
  std::vector<double> measured(48000);
  for (std::size_t k = 0; k < gate.size(); ++k) {
    const bool loud = k < 24000;
    gate[k] = loud ? 10000.0 : 0.0;
    measured[k] = (k % 2 == 0 ? 1.0 : -1.0) * (loud ? 2.0 : 1.0);
  }
  emxArray_real_T* g = emxCreateWrapper_real_T(gate.data(), 48000, 1);
  emxArray_real_T* m = emxCreateWrapper_real_T(measured.data(), 48000, 1);
  ASSERT_NE(g, nullptr);
  ASSERT_NE(m, nullptr);
  double snr = 0.0;
  double extra = 1.0;
  SNR_estimation(g, m, 48000.0, &snr, &extra);
  EXPECT_NEAR(snr, 4.7712125471966244, 1e-9);
  EXPECT_EQ(extra, 0.0);
  emxDestroyArray_real_T(g);
  emxDestroyArray_real_T(m);
  SNR_estimation_terminate();
}

}  // namespace
