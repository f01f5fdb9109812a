// The non-finite globals and the tests for infinity and NaN.
#include <atomic>
#include <cstdint>

#include "emx_runtime.h"

namespace {

// The globals are plain exported variables, but the libraries only touch
// them as relaxed atomics: an initialisation on one thread while another
// measures (each host thread may initialise the library it uses) is then no
// data race. Plain loads and stores of aligned doubles and floats on x86-64,
// the same instructions as before.
template <class T>
void set(T& global, T value) noexcept {
  std::atomic_ref<T>(global).store(value, std::memory_order_relaxed);
}
template <class T>
T get(T& global) noexcept {
  return std::atomic_ref<T>(global).load(std::memory_order_relaxed);
}

}  // namespace

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
  set(rtNaN, rtGetNaN());
  set(rtNaNF, rtGetNaNF());
  set(rtInf, rtGetInf());
  set(rtInfF, rtGetInfF());
  set(rtMinusInf, rtGetMinusInf());
  set(rtMinusInfF, rtGetMinusInfF());
}

uint8_t rtIsInf(double value) noexcept {
  return (value == get(rtInf) || value == get(rtMinusInf)) ? 1 : 0;
}

uint8_t rtIsInfF(float value) noexcept {
  return (value == get(rtInfF) || value == get(rtMinusInfF)) ? 1 : 0;
}

// Unordered self-comparison: true for every NaN, whatever its sign or payload.
uint8_t rtIsNaN(double value) noexcept {
  return value != value ? 1 : 0;
}

uint8_t rtIsNaNF(float value) noexcept {
  return value != value ? 1 : 0;
}

}  // extern "C"
