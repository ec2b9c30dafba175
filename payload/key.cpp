// The scrambling key, defined once for the installer and the pack builder.
#include "payload/key.h"

#include <algorithm>
#include <cstring>

namespace payload {

// A patch built with one key cannot be unpacked with another: changing it breaks every
// patch already shipped.
const char kScrambleKey[] = "kV7#pQ2m!Zt9@wR4x&L";
static_assert(sizeof kScrambleKey == 20, "the key has 19 characters");

std::size_t key_length() { return std::strlen(kScrambleKey); }

void scramble_chunk(std::uint8_t* chunk, std::size_t length) {
    std::size_t key_len = key_length();
    std::size_t k = 0;
    for (std::size_t i = 0; i < length; ++i) {
        chunk[i] ^= static_cast<std::uint8_t>(kScrambleKey[k]);
        if (++k == key_len) k = 0;
    }
}

void scramble_content(std::uint8_t* content, std::size_t size) {
    for (std::size_t done = 0; done < size; done += kChunkSize)
        scramble_chunk(content + done, std::min(kChunkSize, size - done));
}

}  // namespace payload
