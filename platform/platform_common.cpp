// Parts of the platform layer that are the same on every system: the whole-file reader, and
// the fault-injection switch that lets tests fail a chosen call, as a full disk, a pulled
// cable or another program would.
#include "platform/platform.h"
#include "platform/platform_internal.h"

#include <algorithm>

namespace plat {

FaultInjection& fault_injection() {
    static FaultInjection state;
    return state;
}

void reset_fault_injection() { fault_injection() = FaultInjection{}; }

bool same_bytes(Handle a, Handle b, std::int64_t length, bool* same) {
    constexpr std::uint32_t kPiece = 1 << 20;
    std::vector<char> p(kPiece), q(kPiece);
    *same = true;
    for (std::int64_t done = 0; *same && done < length;) {
        std::uint32_t n = static_cast<std::uint32_t>(std::min<std::int64_t>(kPiece, length - done));
        std::uint32_t got_a = 0, got_b = 0;
        if (!read_file(a, p.data(), n, &got_a) || got_a != n || !read_file(b, q.data(), n, &got_b) || got_b != n)
            return false;
        *same = std::equal(p.begin(), p.begin() + n, q.begin());
        done += n;
    }
    return true;
}

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

ReadWholeResult read_whole_file(const char* path, std::int64_t max_bytes, std::vector<std::uint8_t>* out,
                                std::int64_t* size) {
    out->clear();
    std::int64_t ignored = 0;
    if (!size) size = &ignored;
    *size = 0;
    File f = File::open(path, Access::Read, Disposition::OpenExisting);
    if (!f) return ReadWholeResult::OpenFailed;
    *size = file_size(f.get());
    if (*size < 0) return ReadWholeResult::SizeFailed;
    if (*size > max_bytes) return ReadWholeResult::TooLarge;
    out->resize(static_cast<std::size_t>(*size));
    std::size_t done = 0;
    while (done < out->size()) {
        auto piece = static_cast<std::uint32_t>(std::min<std::size_t>(out->size() - done, 1u << 30));
        std::uint32_t got = 0;
        if (!read_file(f.get(), out->data() + done, piece, &got)) {
            out->clear();
            return ReadWholeResult::ReadFailed;
        }
        if (got == 0) break;
        done += got;
    }
    if (done != out->size()) {
        out->resize(done);
        return ReadWholeResult::EndedEarly;
    }
    return ReadWholeResult::Done;
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
