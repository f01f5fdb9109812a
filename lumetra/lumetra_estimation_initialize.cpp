#include "lumetra.h"

// Sets the non-finite globals; nothing else needs preparing.
extern "C" void lumetra_estimation_initialize(void) noexcept {
  rt_InitInfAndNaN(8);
}
