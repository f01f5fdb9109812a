/* lumetra.h compiled as C (C99, no extensions). */
#include "lumetra.h"

/* The entry point's type as a C host sees it. */
typedef void (*lumetra_estimation_fn)(const emxArray_real_T*, const emxArray_real_T*, double,
                                      double, double, double*, double*, double*, double*);

lumetra_estimation_fn am_c_lumetra_entry(void) {
  return &lumetra_estimation;
}
