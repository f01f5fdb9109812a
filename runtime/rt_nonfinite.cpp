// The non-finite globals and the tests for infinity and NaN.
#include <cstdint>

#include "emx_runtime.h"

extern "C" {

// Zero until rt_InitInfAndNaN runs: static storage, no load-time code.
double rtInf;
double rtMinusInf;
double rtNaN;
float rtInfF;
float rtMinusInfF;
float rtNaNF;

void rt_InitInfAndNaN(size_t realSize) noexcept {
  static_cast<void>(realSize);
  rtNaN = rtGetNaN();
  rtNaNF = rtGetNaNF();
  rtInf = rtGetInf();
  rtInfF = rtGetInfF();
  rtMinusInf = rtGetMinusInf();
  rtMinusInfF = rtGetMinusInfF();
}

uint8_t rtIsInf(double value) noexcept {
  return (value == rtInf || value == rtMinusInf) ? 1 : 0;
}

uint8_t rtIsInfF(float value) noexcept {
  return (value == rtInfF || value == rtMinusInfF) ? 1 : 0;
}

// Unordered self-comparison: true for every NaN, whatever its sign or payload.
uint8_t rtIsNaN(double value) noexcept {
  return value != value ? 1 : 0;
}

uint8_t rtIsNaNF(float value) noexcept {
  return value != value ? 1 : 0;
}

}  // extern "C"
