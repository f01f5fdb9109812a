/*
 * example.c - a Windows host that loads quenbar.dll at run time and estimates
 * the SNR of a signal it makes: 100 ms tone bursts at 48000 Hz, and the same
 * bursts in white noise 20 dB below them. Prints "SNR 20.0 dB" or so.
 *
 *   MinGW-w64:  x86_64-w64-mingw32-gcc -I include example.c -o example.exe
 *   MSVC:       cl /I include example.c
 *
 * Run it with bin\quenbar.dll beside example.exe (or bin\ on PATH).
 * lumetra.dll is used the same way: lumetra_estimation_initialize,
 * lumetra_estimation, lumetra_estimation_terminate (include\lumetra.h).
 */
#include <math.h>
#include <stdio.h>
#include <stdlib.h>
#include <windows.h>

#include "quenbar.h"

/* The functions called, as quenbar.h declares them. */
typedef void (*lifecycle_fn)(void);
typedef emxArray_real_T* (*wrap_fn)(double* data, int32_t rows, int32_t cols);
typedef void (*destroy_fn)(emxArray_real_T* record);
typedef void (*snr_fn)(const emxArray_real_T* gate, const emxArray_real_T* measured, double fs,
                       double* snrDb, double* extraOut);

enum { kRate = 48000, kSamples = 2 * kRate, kBurst = kRate / 10 };

/* GetProcAddress returns a generic function pointer; a missing name is fatal. */
static FARPROC need(HMODULE dll, const char* name) {
  FARPROC f = GetProcAddress(dll, name);
  if (f == NULL) {
    fprintf(stderr, "quenbar.dll has no function %s\n", name);
    exit(1);
  }
  return f;
}

int main(void) {
  HMODULE dll = LoadLibraryW(L"quenbar.dll");
  if (dll == NULL) {
    fprintf(stderr, "cannot load quenbar.dll (error %lu)\n", (unsigned long)GetLastError());
    return 1;
  }
  lifecycle_fn initialize = (lifecycle_fn)(void (*)(void))need(dll, "SNR_estimation_initialize");
  lifecycle_fn terminate = (lifecycle_fn)(void (*)(void))need(dll, "SNR_estimation_terminate");
  wrap_fn wrap = (wrap_fn)(void (*)(void))need(dll, "emxCreateWrapper_real_T");
  destroy_fn destroy = (destroy_fn)(void (*)(void))need(dll, "emxDestroyArray_real_T");
  snr_fn estimate = (snr_fn)(void (*)(void))need(dll, "SNR_estimation");

  /* Samples on the 16-bit scale (full scale 32767): a 1 kHz tone of
   * amplitude 10000 (RMS 7071) every other 100 ms; noise uniform in
   * [-1225, 1225] (RMS 707), 20 dB below the tone. */
  static double gate[kSamples];
  static double measured[kSamples];
  const double pi = 3.14159265358979323846;
  unsigned int state = 12345u;
  for (int i = 0; i < kSamples; ++i) {
    const int on = (i / kBurst) % 2 == 0;
    gate[i] = on ? 10000.0 * sin(2.0 * pi * 1000.0 * i / kRate) : 0.0;
    state = state * 1664525u + 1013904223u;
    measured[i] = gate[i] + 1225.0 * (2.0 * (state >> 8) / 16777216.0 - 1.0);
  }

  initialize();
  /* Records over the host's own buffers: nothing is copied. */
  emxArray_real_T* gate_record = wrap(gate, kSamples, 1);
  emxArray_real_T* measured_record = wrap(measured, kSamples, 1);
  double snr_db = 0.0;
  double extra = 0.0;
  estimate(gate_record, measured_record, kRate, &snr_db, &extra);
  destroy(gate_record);
  destroy(measured_record);
  terminate();
  FreeLibrary(dll);

  printf("SNR %.1f dB\n", snr_db);
  return isfinite(snr_db) ? 0 : 1;
}
