// The fault-injection switch that lets tests fail a chosen call, as a full disk, a pulled
// cable or another program would, with the error the system gives for such a failure.
#include "platform/intercept/intercept.h"
#include "platform/os/os.h"

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
        case FaultOp::FlushFolder: return "folder flush";
    }
    return "?";
}

namespace detail {

namespace {

bool count_down(long* countdown) { return *countdown > 0 && --*countdown == 0; }

// What the system reports for each kind of failure: a sharing violation for an open, a device
// error for a read or a flush, a full disk for a write or a copy, access denied for a change of
// names.
Error error_of(FaultOp op) {
    switch (op) {
        case FaultOp::Open: return Error::SharingViolation;
        case FaultOp::Read:
        case FaultOp::Flush:
        case FaultOp::FlushFolder: return Error::Other;
        case FaultOp::Write:
        case FaultOp::Copy: return Error::DiskFull;
        case FaultOp::Replace:
        case FaultOp::Delete: return Error::AccessDenied;
    }
    return Error::Other;
}

}  // namespace

bool injected(FaultOp op) {
    FaultInjection& f = fault_injection();
    int i = static_cast<int>(op);
    ++f.calls[i];
    bool fail = count_down(&f.fail_at[i]);
    if (op == FaultOp::Write) {
        ++f.writes_seen;
        fail = count_down(&f.fail_write_at) || fail;
    }
    if (!fail) return false;
    ++f.injected;
    os::set_error_kind(error_of(op));
    return true;
}

}  // namespace detail
}  // namespace plat
