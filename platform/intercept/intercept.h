// What the interceptor chain shares with the files beside it; not for the core.
#pragma once

#include "platform/platform.h"

namespace plat::detail {

// Counts a call of `op` and answers whether the test's fault injection wants this one to fail;
// when it does, the thread's error is set as the system sets it for such a failure.
bool injected(FaultOp op);

}  // namespace plat::detail
