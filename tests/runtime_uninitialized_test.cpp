// Before the initialize function runs, the non-finite globals read as zero:
// they live in zero-initialised storage and nothing runs when the library
// loads. (Its own program, since any other test may initialize first.)
#include <gtest/gtest.h>

#include "quenbar.h"
#include "support/records.h"

using testing_support::bits;

TEST(Uninitialized, GlobalsReadZeroUntilInitialize) {
  EXPECT_EQ(bits(rtInf), 0u);
  EXPECT_EQ(bits(rtMinusInf), 0u);
  EXPECT_EQ(bits(rtNaN), 0u);
  EXPECT_EQ(bits(rtInfF), 0u);
  EXPECT_EQ(bits(rtMinusInfF), 0u);
  EXPECT_EQ(bits(rtNaNF), 0u);
  // The infinity test reads the globals: before initialization it takes 0.0
  // for an infinity. The NaN test and the getters need no initialization.
  EXPECT_EQ(rtIsInf(0.0), 1);
  EXPECT_EQ(rtIsInf(rtGetInf()), 0);
  EXPECT_EQ(rtIsNaN(rtGetNaN()), 1);
  SNR_estimation_initialize();
  EXPECT_EQ(rtIsInf(0.0), 0);
  EXPECT_EQ(rtIsInf(rtGetInf()), 1);
}
