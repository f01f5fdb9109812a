/* A host of lumetra built against an installation: the header, the entry
 * points, and the documented answer to missing records. */
#include <stdio.h>

#include "lumetra.h"

int main(void) {
  lumetra_estimation_initialize();
  double levels[11];
  double ranges[11];
  double peak = 0.0;
  double failed = 0.0;
  lumetra_estimation(NULL, NULL, 0.0, 0.0, 0.0, levels, ranges, &peak, &failed);
  lumetra_estimation_terminate();
  int nan_levels = 0;
  for (int k = 0; k < 11; ++k) {
    nan_levels += rtIsNaN(levels[k]) != 0;
  }
  printf("lumetra: failed %.0f, %d NaN step levels\n", failed, nan_levels);
  return failed == 1.0 && nan_levels == 11 ? 0 : 1;
}
