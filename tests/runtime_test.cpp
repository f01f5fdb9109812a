#include <gtest/gtest.h>

#include "emx_runtime.h"
#include "runtime/sum.h"

TEST(Sum, RunsStrictlyFirstToLast) {
  double v[3] = {1e16, 1.0, -1e16};
  emxArray_real_T* x = emxCreateWrapper_real_T(v, 3, 1);
  ASSERT_NE(x, nullptr);
  EXPECT_EQ(combineVectorElements(x), 0.0);
  emxDestroyArray_real_T(x);
}
