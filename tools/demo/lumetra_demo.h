// lumetra's part of the demonstration measurement.
#pragma once

// Measures a simulated device with the lumetra library, loaded by name at run
// time: a stepped stimulus goes through a device with a known delay, known
// per-step gains and a little noise; the 11 measured step levels and spreads
// are printed beside the truth. Returns 0 when the library loads, neither
// measurement fails and every step level lies within 0.05 dB of the truth,
// else 1.
int run_lumetra_demo();
