// The parts of the digest that are the same on every system: the hexadecimal form and the
// digest of a file, which reads through the platform layer's own handles.
#include "platform/digest.h"

#include "base/report.h"
#include "platform/platform.h"

#include <vector>

namespace plat {

namespace {

// Large enough that the per-call cost of a read vanishes, small enough to stay flat.
constexpr std::uint32_t kFileChunk = 1u << 20;

}  // namespace

std::string to_hex(const Sha256Digest& digest) {
    static const char kDigits[] = "0123456789abcdef";
    std::string text;
    text.reserve(digest.size() * 2);
    for (std::uint8_t byte : digest) {
        text += kDigits[byte >> 4];
        text += kDigits[byte & 0x0f];
    }
    return text;
}

bool sha256_of_file(const char* path, Sha256Digest* out) {
    out->fill(0);
    File file = File::open(path, Access::Read, Disposition::OpenExisting);
    if (!file) return false;
    std::vector<std::uint8_t> chunk(kFileChunk);
    Sha256 hash;
    for (;;) {
        std::uint32_t got = 0;
        if (!read_file(file.get(), chunk.data(), kFileChunk, &got)) return false;
        if (got == 0) break;
        hash.update(chunk.data(), got);
        report::keep_alive();
    }
    return hash.finish(out);
}

}  // namespace plat
