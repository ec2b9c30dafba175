// Helpers shared by the per-system implementations of the platform layer; not for the core.
#pragma once

#include "platform/platform.h"

namespace plat::detail {

// Counts a call of `op` and answers whether the test's fault injection wants this one to fail.
bool injected_failure(FaultOp op);

}  // namespace plat::detail
