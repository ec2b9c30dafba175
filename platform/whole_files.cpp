// Whole-file helpers built on the public operations, the same on every system.
#include "platform/platform.h"

#include <algorithm>

namespace plat {

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

}  // namespace plat
