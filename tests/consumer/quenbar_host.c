/* A host of quenbar built against an installation: the header, the import
 * of exported variables, and one estimate whose value is known. */
#include <math.h>
#include <stdio.h>

#include "quenbar.h"

int main(void) {
  SNR_estimation_initialize();
  /* The variables come from the library (as data on Windows). */
  if (!rtIsNaN(rtNaN) || !rtIsInf(rtInf)) {
    fprintf(stderr, "quenbar: rtNaN or rtInf not as set by the library\n");
    return 1;
  }
  /* At 200 Hz a frame is one sample: frame 0 is active (gate 1000), frame 1
   * inactive (gate 0). Measured powers 9 and 1: the signal power is 9 - 1. */
  double gate[2] = {1000.0, 0.0};
  double measured[2] = {3.0, 1.0};
  emxArray_real_T* g = emxCreateWrapper_real_T(gate, 2, 1);
  emxArray_real_T* m = emxCreateWrapper_real_T(measured, 2, 1);
  double snr_db = 0.0;
  double extra = 1.0;
  SNR_estimation(g, m, 200.0, &snr_db, &extra);
  emxDestroyArray_real_T(g);
  emxDestroyArray_real_T(m);
  SNR_estimation_terminate();
  const double expected = 10.0 * log10(1e-12 + 8.0);
  printf("quenbar: SNR %.6f dB (expected %.6f)\n", snr_db, expected);
  return fabs(snr_db - expected) < 1e-9 && extra == 0.0 ? 0 : 1;
}
