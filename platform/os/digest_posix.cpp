// SHA-256 on POSIX through nettle, the hash library Debian keeps for GnuTLS: no cryptographic
// code of our own.
#include "platform/digest.h"

#include <nettle/sha2.h>

namespace plat {

struct Sha256::State {
    sha256_ctx context;
};

Sha256::Sha256() : state_(std::make_unique<State>()) { sha256_init(&state_->context); }

Sha256::~Sha256() = default;

void Sha256::update(const void* bytes, std::size_t count) {
    sha256_update(&state_->context, count, static_cast<const std::uint8_t*>(bytes));
}

bool Sha256::finish(Sha256Digest* out) {
    // nettle puts the context back to its initial state after the digest.
    sha256_digest(&state_->context, out->size(), out->data());
    return true;
}

}  // namespace plat
