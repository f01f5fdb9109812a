// lumetra.h as a C host sees it: it compiles as C (abi_lumetra.c) and names
// the same entry point that C++ code calls.
#include <gtest/gtest.h>

#include "lumetra.h"

extern "C" void (*am_c_lumetra_entry())(const emxArray_real_T*, const emxArray_real_T*, double,
                                        double, double, double*, double*, double*, double*);

TEST(LumetraAbi, CAndCxxNameTheSameEntryPoint) {
  EXPECT_EQ(reinterpret_cast<void*>(am_c_lumetra_entry()),
            reinterpret_cast<void*>(&lumetra_estimation));
}
