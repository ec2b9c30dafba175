// Parts of the platform layer that are the same on every system: the fault-injection switch
// that lets tests fail a chosen call, as a full disk, a pulled cable or another program would.
#include "platform/platform.h"
#include "platform/platform_internal.h"

namespace plat {

FaultInjection& fault_injection() {
    static FaultInjection state;
    return state;
}

void reset_fault_injection() { fault_injection() = FaultInjection{}; }

const char* fault_op_name(FaultOp op) {
    switch (op) {
        case FaultOp::Open: return "open";
        case FaultOp::Read: return "read";
        case FaultOp::Write: return "write";
        case FaultOp::Flush: return "flush";
        case FaultOp::Replace: return "replace";
        case FaultOp::Delete: return "delete";
        case FaultOp::Copy: return "copy";
    }
    return "?";
}

namespace detail {

namespace {

bool count_down(long* countdown) { return *countdown > 0 && --*countdown == 0; }

}  // namespace

bool injected_failure(FaultOp op) {
    FaultInjection& f = fault_injection();
    int i = static_cast<int>(op);
    ++f.calls[i];
    bool fail = count_down(&f.fail_at[i]);
    if (op == FaultOp::Write) {
        ++f.writes_seen;
        fail = count_down(&f.fail_write_at) || fail;
    }
    if (fail) ++f.injected;
    return fail;
}

}  // namespace detail
}  // namespace plat
