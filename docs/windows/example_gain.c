/*
 * example_gain.c - a Windows host of audiomeasure.dll: measures the gain of
 * a device from two WAV files, the stepped test signal as played
 * (reference) and the device's recording of it, both 16-bit PCM mono at
 * 48000 Hz, and prints the verdict, the delay and the gain of each of the
 * 11 steps.
 *
 *   MinGW-w64:  x86_64-w64-mingw32-gcc -I include example_gain.c lib/libaudiomeasure.dll.a -o example_gain.exe
 *   MSVC:       lib /def:lib\audiomeasure.def /machine:x64 /out:audiomeasure.lib
 *               cl /I include example_gain.c audiomeasure.lib
 *
 * Run it with bin\audiomeasure.dll beside example_gain.exe (or bin\ on PATH):
 *
 *   example_gain.exe reference.wav recording.wav
 */
#define _CRT_SECURE_NO_WARNINGS /* fopen: MSVC's advice, not needed here */
#include <stdio.h>
#include <stdlib.h>
#include <string.h>

#include "audiomeasure.h"

static unsigned long le32(const unsigned char* p) {
  return (unsigned long)p[0] | (unsigned long)p[1] << 8 | (unsigned long)p[2] << 16 |
         (unsigned long)p[3] << 24;
}

/*
 * The samples of a 16-bit PCM mono WAV file as their integer values (the
 * library's 16-bit scale), or NULL with a message. A RIFF file is a header
 * ("RIFF", size, "WAVE") and chunks of an id, a size and that many bytes
 * (padded to even): "fmt " describes the samples, "data" holds them.
 */
static double* read_wav(const char* path, long* length) {
  unsigned char head[12], chunk[8], format[16];
  int have_format = 0;
  FILE* f = fopen(path, "rb");
  if (f == NULL) {
    fprintf(stderr, "%s: cannot open it\n", path);
    return NULL;
  }
  if (fread(head, 1, 12, f) != 12 || memcmp(head, "RIFF", 4) != 0 ||
      memcmp(head + 8, "WAVE", 4) != 0) {
    fprintf(stderr, "%s: not a WAV file\n", path);
    fclose(f);
    return NULL;
  }
  while (fread(chunk, 1, 8, f) == 8) {
    unsigned long size = le32(chunk + 4);
    if (memcmp(chunk, "fmt ", 4) == 0 && size >= 16) {
      if (fread(format, 1, 16, f) != 16) break;
      have_format = 1;
      size -= 16;
    } else if (memcmp(chunk, "data", 4) == 0) {
      unsigned char* bytes;
      double* samples;
      long i, n = (long)(size / 2);
      /* format tag 1 (PCM), 1 channel, 48000 Hz, 16 bits per sample */
      if (!have_format || format[0] != 1 || format[1] != 0 || format[2] != 1 || format[3] != 0 ||
          le32(format + 4) != 48000 || format[14] != 16 || format[15] != 0) {
        fprintf(stderr, "%s: not 16-bit PCM mono at 48000 Hz\n", path);
        fclose(f);
        return NULL;
      }
      bytes = malloc(size > 0 ? size : 1);
      samples = malloc((n > 0 ? (size_t)n : 1) * sizeof *samples);
      if (bytes == NULL || samples == NULL || fread(bytes, 1, size, f) != size) {
        fprintf(stderr, "%s: cannot read its samples\n", path);
        free(bytes);
        free(samples);
        fclose(f);
        return NULL;
      }
      for (i = 0; i < n; ++i) {
        /* little-endian two's complement */
        int v = bytes[2 * i] | bytes[2 * i + 1] << 8;
        samples[i] = (double)(v >= 32768 ? v - 65536 : v);
      }
      free(bytes);
      fclose(f);
      *length = n;
      return samples;
    }
    if (fseek(f, (long)(size + (size & 1)), SEEK_CUR) != 0) break;
  }
  fprintf(stderr, "%s: no samples found\n", path);
  fclose(f);
  return NULL;
}

int main(int argc, char** argv) {
  am_gain_report report;
  double *reference, *recording;
  long reference_length = 0, recording_length = 0;
  int status, step;
  if (argc != 3) {
    fprintf(stderr, "usage: example_gain REFERENCE.wav RECORDING.wav\n");
    return 2;
  }
  reference = read_wav(argv[1], &reference_length);
  recording = read_wav(argv[2], &recording_length);
  if (reference == NULL || recording == NULL) {
    return 2;
  }

  /* Options NULL: the defaults (the step period read from the reference). */
  am_gain_report_init(&report);
  status = am_gain_measure(reference, reference_length, recording, recording_length, NULL, &report);
  free(reference);
  free(recording);
  if (status != AM_OK) {
    fprintf(stderr, "not measured: %s\n", am_status_text(status));
    return 2;
  }

  printf("verdict %s\n", am_verdict_name(report.verdict));
  printf("delay %lld samples\n", (long long)report.delay);
  for (step = 0; step < AM_STEPS; ++step) {
    printf("step %2d gain %+.2f dB\n", step + 1, report.gain[step]);
  }
  /* 0 when the numbers can be used as they are. */
  return report.verdict == AM_VERDICT_TRUSTED ? 0 : 1;
}
