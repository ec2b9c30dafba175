// SHA-256 on Windows through the system's own cryptography (BCrypt), which Windows keeps
// validated and patched: no cryptographic code of our own.
#include "platform/digest.h"

#include <windows.h>

#include <bcrypt.h>

#include <algorithm>

namespace plat {

// A failure of any BCrypt call is remembered until finish(), so that a damaged digest is
// never handed out as a good one.
struct Sha256::State {
    BCRYPT_ALG_HANDLE algorithm = nullptr;
    BCRYPT_HASH_HANDLE hash = nullptr;
    bool failed = false;

    State() {
        if (!BCRYPT_SUCCESS(BCryptOpenAlgorithmProvider(&algorithm, BCRYPT_SHA256_ALGORITHM, nullptr, 0)))
            algorithm = nullptr;
        start();
    }
    ~State() {
        drop_hash();
        if (algorithm) BCryptCloseAlgorithmProvider(algorithm, 0);
    }
    State(const State&) = delete;
    State& operator=(const State&) = delete;

    // A fresh hash object; the system allocates its memory itself.
    void start() {
        drop_hash();
        failed = !algorithm || !BCRYPT_SUCCESS(BCryptCreateHash(algorithm, &hash, nullptr, 0, nullptr, 0, 0));
        if (failed) hash = nullptr;
    }
    void drop_hash() {
        if (hash) BCryptDestroyHash(hash);
        hash = nullptr;
    }
};

Sha256::Sha256() : state_(std::make_unique<State>()) {}

Sha256::~Sha256() = default;

void Sha256::update(const void* bytes, std::size_t count) {
    // BCrypt takes a ULONG count and a non-const pointer that it only reads.
    auto* in = static_cast<UCHAR*>(const_cast<void*>(bytes));
    while (count > 0 && !state_->failed) {
        auto piece = static_cast<ULONG>(std::min<std::size_t>(count, 1u << 30));
        if (!BCRYPT_SUCCESS(BCryptHashData(state_->hash, in, piece, 0))) state_->failed = true;
        in += piece;
        count -= piece;
    }
}

bool Sha256::finish(Sha256Digest* out) {
    bool ok = !state_->failed &&
              BCRYPT_SUCCESS(BCryptFinishHash(state_->hash, out->data(), static_cast<ULONG>(out->size()), 0));
    if (!ok) out->fill(0);
    // A finished BCrypt hash cannot take more bytes: the next digest needs a new one.
    state_->start();
    return ok;
}

}  // namespace plat
