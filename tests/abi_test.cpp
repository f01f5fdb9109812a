// The array record's layout, pinned: hosts written in any language rely on it.
#include <gtest/gtest.h>

#include <cstddef>

#include "emx_runtime.h"

extern "C" std::size_t am_c_layout(int field);

TEST(Abi, ArrayRecordLayoutIsPinnedInCAndCxx) {
  const std::size_t expected[] = {32, 0, 8, 16, 20, 24, 1};
  const std::size_t cxx[] = {sizeof(emxArray_real_T),
                             offsetof(emxArray_real_T, data),
                             offsetof(emxArray_real_T, size),
                             offsetof(emxArray_real_T, capacity),
                             offsetof(emxArray_real_T, numDims),
                             offsetof(emxArray_real_T, ownsData),
                             sizeof(emxArray_real_T::ownsData)};
  for (int field = 0; field < 7; ++field) {
    EXPECT_EQ(am_c_layout(field), expected[field]) << "field " << field;
    EXPECT_EQ(cxx[field], expected[field]) << "field " << field;
  }
}
