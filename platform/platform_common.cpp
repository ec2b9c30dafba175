// Parts of the platform layer that are the same on every system: the fault-injection switch
// that lets tests fail a chosen write, as a full disk or a pulled cable would.
#include "platform/platform.h"
#include "platform/platform_internal.h"

namespace plat {

FaultInjection& fault_injection() {
    static FaultInjection state;
    return state;
}

void reset_fault_injection() { fault_injection() = FaultInjection{}; }

namespace detail {

bool injected_write_failure() {
    FaultInjection& f = fault_injection();
    ++f.writes_seen;
    if (f.fail_write_at <= 0) return false;
    return --f.fail_write_at == 0;
}

}  // namespace detail
}  // namespace plat
