#include "lumetra.h"

// Nothing to release: the library's buffers are static and hold nothing that
// a later call relies on.
extern "C" void lumetra_estimation_terminate(void) noexcept {}
