// The scrambling key of the payload format and the scrambling rule built on it. The installer
// unscrambles with it and the pack builder scrambles with it, so both take it from here.
#pragma once

#include <cstddef>
#include <cstdint>

namespace payload {

// Contents are scrambled in chunks of this many bytes; the key index restarts at each chunk.
constexpr std::size_t kChunkSize = 10240;

// The key: 19 printable characters and a NUL. Its length is taken from the string itself.
extern const char kScrambleKey[];

std::size_t key_length();

// XORs one chunk (at most kChunkSize bytes) in place, key index starting at 0. Since XOR is
// its own inverse, the same call scrambles and unscrambles.
void scramble_chunk(std::uint8_t* chunk, std::size_t length);

// Applies the rule to a whole content: chunk by chunk from its first byte, so that byte n is
// XORed with key[(n mod kChunkSize) mod key length].
void scramble_content(std::uint8_t* content, std::size_t size);

}  // namespace payload
