#include "quenbar.h"

extern "C" void SNR_estimation_initialize(void) noexcept {
  rt_InitInfAndNaN(8);
}
