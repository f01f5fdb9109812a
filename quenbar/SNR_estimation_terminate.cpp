#include "quenbar.h"

// Nothing to release: the library holds no state besides the globals.
extern "C" void SNR_estimation_terminate(void) noexcept {}
