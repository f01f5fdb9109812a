/* lumetra.h compiled as C: the spectral declarations must be valid C. Each
 * function is assigned to a pointer of the type a C host would expect. */
#include "lumetra.h"

struct am_lumetra_spectral {
  void (*fft)(const double*, complex_T*);
  void (*ifft)(const complex_T*, complex_T*);
  void (*generate_twiddle_tables)(double*, double*);
  void (*b_generate_twiddle_tables)(double*, double*);
  void (*xcorr)(const double*, const double*, double*);
  void (*b_abs)(const double*, double*);
  double (*rms)(const double*);
  double (*b_rms)(const emxArray_real_T*);
  void (*b_log10)(double*);
  double (*b_sum)(const emxArray_real_T*);
  double (*sum)(const double*);
};

const struct am_lumetra_spectral am_lumetra_spectral_api = {fft,
                                                            ifft,
                                                            generate_twiddle_tables,
                                                            b_generate_twiddle_tables,
                                                            xcorr,
                                                            b_abs,
                                                            rms,
                                                            b_rms,
                                                            b_log10,
                                                            b_sum,
                                                            sum};
