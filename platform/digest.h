// SHA-256, for checking that a file is the one expected: the patch an installer carries, or a
// file an install wrote, before it is undone. The hashing itself is the system's (Windows) or
// a well-kept library's (nettle on Linux); this header holds no system include.
#pragma once

#include <array>
#include <cstddef>
#include <cstdint>
#include <memory>
#include <string>

namespace plat {

using Sha256Digest = std::array<std::uint8_t, 32>;

// An incremental SHA-256: feed the bytes in pieces of any size, then take the digest.
class Sha256 {
public:
    Sha256();
    ~Sha256();
    Sha256(const Sha256&) = delete;
    Sha256& operator=(const Sha256&) = delete;

    void update(const void* bytes, std::size_t count);
    // Puts the digest of every byte given since construction (or the last finish) in *out and
    // starts afresh. False when the hashing failed anywhere on the way, which only the
    // system's own implementation can report: *out is then zeroed and must not be used.
    [[nodiscard]] bool finish(Sha256Digest* out);

private:
    struct State;
    std::unique_ptr<State> state_;
};

// The digest in lower-case hexadecimal, 64 characters.
std::string to_hex(const Sha256Digest& digest);

// The digest of a whole file, read through this layer in pieces of a fixed size, so that
// memory does not grow with the file. False when the file cannot be opened or read
// (last_error() tells why, as the failing call set it) or when the hashing failed.
bool sha256_of_file(const char* path, Sha256Digest* out);

}  // namespace plat
