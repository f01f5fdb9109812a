/* The C host of audiomeasure_host.c. */
#ifndef AUDIOMEASURE_HOST_H
#define AUDIOMEASURE_HOST_H

#include "audiomeasure.h"

#ifdef __cplusplus
extern "C" {
#endif

/* chunk 0: am_gain_measure; else a reference prepared and a recording fed
 * in chunks of that many samples. Returns the status. */
int host_gain(const double* reference, int64_t reference_length, const double* recording,
              int64_t recording_length, int step_period, int64_t chunk, am_gain_report* report);

/* gate_chunk 0: am_snr_measure; else the two signals fed side by side in
 * chunks of their own sizes. Returns the status. */
int host_snr(const double* gate, int64_t gate_length, const double* measured,
             int64_t measured_length, double fs, int align, int64_t gate_chunk,
             int64_t measured_chunk, am_snr_report* report);

#ifdef __cplusplus
}
#endif

#endif
