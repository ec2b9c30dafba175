// The game's compiled message tables in its HD directory: message.dat, one 180-byte index
// record per message number (record N at N * 180), and message.str, a flat run of 305-byte
// string records. Records are read and written field by field, little-endian.
#pragma once

#include <cstddef>
#include <cstdint>
#include <span>

#include "platform/platform.h"

namespace messages {

constexpr std::size_t kIndexRecordSize = 180;
constexpr std::size_t kStringRecordSize = 305;
constexpr std::uint16_t kSignature = 0x1234;
constexpr int kFallbackMessage = 4999;   // answered when the asked-for message is missing
constexpr int kMaxWidth = 299;           // characters of one string
constexpr int kStringTextBytes = 301;    // the string, its NUL and the zero rest
constexpr int kNameBytes = 31;           // a sound or film name: 30 characters and a NUL
constexpr int kPointCount = 20;
constexpr std::uint16_t kNoAvsNumber = 0xFFFF;

// message.dat, one record:
//
//   0 signature(2) 2 number(2) 4 hdr3(2) 6 hdr2(2) 8 hdr4(2) 10 hdr5(2) 12 width(4)
//  16 page_lines(1) 17 reserved(1) 18 end_point(4) 22 wav_name(31) 53 avs_name(31)
//  84 avs_second(2) 86 avs_first(2) 88 string_count(1) 89 first_string(4) 93 points(20 x 4)
// 173 raw(2) 175 nostop(1) 176 align(1) 177 dots(1) 178 has_points(1) 179 language(1)
//
// The first two bytes of the file (record 0 is never a message) carry the version tag "02"
// once the tables were rebuilt from a new source.
struct IndexRecord {
    std::uint16_t signature = 0;
    std::uint16_t number = 0;
    std::uint16_t hdr3 = 0;
    std::uint16_t hdr2 = 0;
    std::uint16_t hdr4 = 0;
    std::uint16_t hdr5 = 0;
    std::uint32_t width = 0;
    std::uint8_t page_lines = 0;
    std::int32_t end_point = 0;
    char wav_name[kNameBytes] = {};
    char avs_name[kNameBytes] = {};
    std::uint16_t avs_second = 0;
    std::uint16_t avs_first = 0;
    std::uint8_t string_count = 0;
    std::uint32_t first_string = 0;
    std::int32_t points[kPointCount] = {};
    std::uint16_t raw = 0;
    std::uint8_t nostop = 0;
    std::uint8_t align = 0;        // 0 none, 1 centre, 2 justify
    std::uint8_t dots = 0;
    std::uint8_t has_points = 0;
    std::uint8_t language = 0;     // 0 Russian, 1 international
};

// message.str, one record: 0 number(2) 2 length(2) 4 text(301, NUL-terminated, zero rest).
struct StringRecord {
    std::uint16_t number = 0;
    std::uint16_t length = 0;
    char text[kStringTextBytes] = {};
};

void encode_index(const IndexRecord& r, std::span<std::uint8_t, kIndexRecordSize> out);
void encode_string(const StringRecord& s, std::span<std::uint8_t, kStringRecordSize> out);
// Names and texts are cut at their last byte, so a damaged record still decodes to strings.
// Bytes of another size than one record decode as an empty record, which is no message.
IndexRecord decode_index(std::span<const std::uint8_t> in);
StringRecord decode_string(std::span<const std::uint8_t> in);

// The bytes of record `n` of a table of `record_size`-byte records; empty when the table does
// not hold that record whole.
std::span<const std::uint8_t> record_bytes(std::span<const std::uint8_t> table, std::size_t n,
                                           std::size_t record_size);
inline std::span<const std::uint8_t> index_bytes(std::span<const std::uint8_t> dat, std::size_t n) {
    return record_bytes(dat, n, kIndexRecordSize);
}
inline std::span<const std::uint8_t> string_bytes(std::span<const std::uint8_t> str, std::size_t n) {
    return record_bytes(str, n, kStringRecordSize);
}

// A record is a message when it carries the signature and its own number.
bool is_valid_record(const IndexRecord& r, int number);

// The table's path: the HD directory followed by `file`. False when it does not fit.
bool table_path(char (&out)[plat::kMaxPath + 1], const char* file);

// Looks up message `number` in message.dat; when it is missing, message 4999 answers and
// `number` becomes 4999. Returns 1 with the record in `out`, or 0.
int lookup_message(int& number, IndexRecord& out);

// Reads the first string of a looked-up message from message.str. Returns 1, or 0 with an
// empty string when the table does not open or holds no such string.
int read_first_string(const IndexRecord& record, StringRecord& out);

}  // namespace messages
