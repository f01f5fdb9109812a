// A host that loads the shared lumetra library by name, runs initialize, two
// estimations and terminate on a simulated device, and finds every step
// level within 0.05 dB of the truth.
#include <gtest/gtest.h>

#include "demo/lumetra_demo.h"

TEST(LumetraDemo, MeasuresTheSimulatedDeviceThroughTheLoadedLibrary) {
  EXPECT_EQ(run_lumetra_demo(), 0);
}
