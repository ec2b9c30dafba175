// Encoding, decoding and lookup of the message tables' records.
#include "messages/message_tables.h"

#include <cstring>

#include "config/config.h"
#include "base/text.h"
#include "base/little_endian.h"
#include "xfile/xfile.h"

namespace messages {

namespace {

void put_text(std::uint8_t* out, const char* text, std::size_t bytes) {
    std::memset(out, 0, bytes);
    std::size_t len = strnlen(text, bytes - 1);
    std::memcpy(out, text, len);
}

void get_text(char* out, const std::uint8_t* in, std::size_t bytes) {
    std::memcpy(out, in, bytes);
    out[bytes - 1] = 0;
}

// Reads the record of message `number` from an open message.dat; false on a short read.
bool read_index_at(XFileHandle* h, int number, IndexRecord& out) {
    std::uint8_t bytes[kIndexRecordSize];
    std::int64_t offset = static_cast<std::int64_t>(number) * kIndexRecordSize;
    if (offset > INT32_MAX - static_cast<std::int64_t>(kIndexRecordSize)) return false;
    if (xfile_seek(h, static_cast<std::int32_t>(offset), 0) < 0) return false;
    if (xfile_read(h, bytes, kIndexRecordSize) != static_cast<int>(kIndexRecordSize)) return false;
    out = decode_index(bytes);
    return true;
}

}  // namespace

void encode_index(const IndexRecord& r, std::span<std::uint8_t, kIndexRecordSize> bytes) {
    std::uint8_t* out = bytes.data();
    std::memset(out, 0, kIndexRecordSize);
    le::put16(out + 0, r.signature);
    le::put16(out + 2, r.number);
    le::put16(out + 4, r.hdr3);
    le::put16(out + 6, r.hdr2);
    le::put16(out + 8, r.hdr4);
    le::put16(out + 10, r.hdr5);
    le::put32(out + 12, r.width);
    out[16] = r.page_lines;
    le::put32s(out + 18, r.end_point);
    put_text(out + 22, r.wav_name, kNameBytes);
    put_text(out + 53, r.avs_name, kNameBytes);
    le::put16(out + 84, r.avs_second);
    le::put16(out + 86, r.avs_first);
    out[88] = r.string_count;
    le::put32(out + 89, r.first_string);
    for (int k = 0; k < kPointCount; ++k) le::put32s(out + 93 + 4 * k, r.points[k]);
    le::put16(out + 173, r.raw);
    out[175] = r.nostop;
    out[176] = r.align;
    out[177] = r.dots;
    out[178] = r.has_points;
    out[179] = r.language;
}

IndexRecord decode_index(std::span<const std::uint8_t> bytes) {
    IndexRecord r;
    if (bytes.size() != kIndexRecordSize) return r;
    const std::uint8_t* in = bytes.data();
    r.signature = le::get16(in + 0);
    r.number = le::get16(in + 2);
    r.hdr3 = le::get16(in + 4);
    r.hdr2 = le::get16(in + 6);
    r.hdr4 = le::get16(in + 8);
    r.hdr5 = le::get16(in + 10);
    r.width = le::get32(in + 12);
    r.page_lines = in[16];
    r.end_point = le::get32s(in + 18);
    get_text(r.wav_name, in + 22, kNameBytes);
    get_text(r.avs_name, in + 53, kNameBytes);
    r.avs_second = le::get16(in + 84);
    r.avs_first = le::get16(in + 86);
    r.string_count = in[88];
    r.first_string = le::get32(in + 89);
    for (int k = 0; k < kPointCount; ++k) r.points[k] = le::get32s(in + 93 + 4 * k);
    r.raw = le::get16(in + 173);
    r.nostop = in[175];
    r.align = in[176];
    r.dots = in[177];
    r.has_points = in[178];
    r.language = in[179];
    return r;
}

void encode_string(const StringRecord& s, std::span<std::uint8_t, kStringRecordSize> bytes) {
    std::uint8_t* out = bytes.data();
    le::put16(out + 0, s.number);
    le::put16(out + 2, s.length);
    put_text(out + 4, s.text, kStringTextBytes);
}

StringRecord decode_string(std::span<const std::uint8_t> bytes) {
    StringRecord s;
    if (bytes.size() != kStringRecordSize) return s;
    const std::uint8_t* in = bytes.data();
    s.number = le::get16(in + 0);
    s.length = le::get16(in + 2);
    get_text(s.text, in + 4, kStringTextBytes);
    return s;
}

std::span<const std::uint8_t> record_bytes(std::span<const std::uint8_t> table, std::size_t n,
                                           std::size_t record_size) {
    if (record_size == 0 || n >= table.size() / record_size) return {};
    return table.subspan(n * record_size, record_size);
}

bool is_valid_record(const IndexRecord& r, int number) {
    return r.signature == kSignature && r.number == number;
}

bool table_path(char (&out)[plat::kMaxPath + 1], const char* file) {
    out[0] = 0;
    return text::copy_if_fits(out, plat::kMaxPath, config::directories().hd) &&
           text::append_if_fits(out, plat::kMaxPath, file);
}

int lookup_message(int& number, IndexRecord& out) {
    if (number < 1) return 0;
    char name[plat::kMaxPath + 1];
    if (!table_path(name, "message.dat")) return 0;
    XFileHandle* h = nullptr;
    if (xfile_open(name, kXModeRead, &h) < 0) return 0;
    IndexRecord r;
    if (read_index_at(h, number, r) && is_valid_record(r, number)) {
        xfile_close(h);
        out = r;
        return 1;
    }
    bool fallback = read_index_at(h, kFallbackMessage, r) && is_valid_record(r, kFallbackMessage);
    xfile_close(h);
    if (!fallback) return 0;
    number = kFallbackMessage;
    out = r;
    return 1;
}

int read_first_string(const IndexRecord& record, StringRecord& out) {
    out = StringRecord{};
    char name[plat::kMaxPath + 1];
    if (!table_path(name, "message.str")) return 0;
    XFileHandle* h = nullptr;
    if (xfile_open(name, kXModeRead, &h) < 0) return 0;
    std::int64_t offset = static_cast<std::int64_t>(record.first_string) * kStringRecordSize;
    std::uint8_t bytes[kStringRecordSize];
    bool ok = offset <= INT32_MAX - static_cast<std::int64_t>(kStringRecordSize) &&
              xfile_seek(h, static_cast<std::int32_t>(offset), 0) >= 0 &&
              xfile_read(h, bytes, kStringRecordSize) == static_cast<int>(kStringRecordSize);
    xfile_close(h);
    if (!ok) return 0;
    out = decode_string(bytes);
    return 1;
}

}  // namespace messages
