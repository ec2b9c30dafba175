// Helpers shared by the per-system implementations of the platform layer; not for the core.
#pragma once

#include "platform/platform.h"

namespace plat::detail {

// Counts a call of `op` and answers whether the test's fault injection wants this one to fail.
bool injected_failure(FaultOp op);

// Sets the error of this thread as the system would give `e` (its own code for it), for the
// parts of the layer that are the same on every system.
void set_common_error(Error e);

}  // namespace plat::detail
