// The message tables' records against bytes written out by hand, so that a fault shared by the
// encoder and the decoder cannot cancel out.
#include <gtest/gtest.h>

#include <cstdint>
#include <cstring>
#include <initializer_list>
#include <string>
#include <vector>

#include "messages/message_tables.h"

using namespace messages;

namespace {

void put(std::vector<std::uint8_t>& image, std::size_t at, std::initializer_list<int> bytes) {
    for (int b : bytes) image[at++] = static_cast<std::uint8_t>(b);
}

// Message 7 with every field set to a value that shows its width and byte order.
std::vector<std::uint8_t> hand_written_index() {
    std::vector<std::uint8_t> r(180, 0);
    put(r, 0, {0x34, 0x12});                          // signature
    put(r, 2, {0x07, 0x00});                          // number
    put(r, 4, {0x03, 0x33});                          // hdr3
    put(r, 6, {0x02, 0x22});                          // hdr2
    put(r, 8, {0x04, 0x44});                          // hdr4
    put(r, 10, {0x05, 0x55});                         // hdr5
    put(r, 12, {0x2B, 0x01, 0x00, 0x00});             // width 299
    put(r, 16, {0x09});                               // page lines
    put(r, 18, {0xFE, 0xFF, 0xFF, 0xFF});             // end point -2
    put(r, 22, {'h', 'e', 'l', 'l', 'o', '.', 'w', 'a', 'v'});
    put(r, 53, {'i', 'n', 't', 'r', 'o'});
    put(r, 84, {0x02, 0x01});                         // avs second
    put(r, 86, {0xFF, 0xFF});                         // avs first: none
    put(r, 88, {0x03});                               // string count
    put(r, 89, {0x10, 0x27, 0x00, 0x00});             // first string 10000
    put(r, 93, {0x01, 0x00, 0x00, 0x00});             // point 0: 1
    put(r, 93 + 19 * 4, {0x00, 0x00, 0x00, 0x80});    // point 19: INT32_MIN
    put(r, 173, {0x01, 0x00});                        // raw
    put(r, 175, {0x01, 0x02, 0x01, 0x01, 0x01});      // nostop, align, dots, has points, language
    return r;
}

IndexRecord index_fields() {
    IndexRecord r;
    r.signature = 0x1234;
    r.number = 7;
    r.hdr3 = 0x3303;
    r.hdr2 = 0x2202;
    r.hdr4 = 0x4404;
    r.hdr5 = 0x5505;
    r.width = 299;
    r.page_lines = 9;
    r.end_point = -2;
    std::strcpy(r.wav_name, "hello.wav");
    std::strcpy(r.avs_name, "intro");
    r.avs_second = 0x0102;
    r.avs_first = kNoAvsNumber;
    r.string_count = 3;
    r.first_string = 10000;
    r.points[0] = 1;
    r.points[19] = INT32_MIN;
    r.raw = 1;
    r.nostop = 1;
    r.align = 2;
    r.dots = 1;
    r.has_points = 1;
    r.language = 1;
    return r;
}

TEST(MessageTableRecords, HandWrittenIndexRecordDecodesFieldByField) {
    IndexRecord r = decode_index(hand_written_index());
    IndexRecord want = index_fields();
    EXPECT_EQ(r.signature, want.signature);
    EXPECT_EQ(r.number, want.number);
    EXPECT_EQ(r.hdr3, want.hdr3);
    EXPECT_EQ(r.hdr2, want.hdr2);
    EXPECT_EQ(r.hdr4, want.hdr4);
    EXPECT_EQ(r.hdr5, want.hdr5);
    EXPECT_EQ(r.width, want.width);
    EXPECT_EQ(r.page_lines, want.page_lines);
    EXPECT_EQ(r.end_point, want.end_point);
    EXPECT_STREQ(r.wav_name, want.wav_name);
    EXPECT_STREQ(r.avs_name, want.avs_name);
    EXPECT_EQ(r.avs_second, want.avs_second);
    EXPECT_EQ(r.avs_first, want.avs_first);
    EXPECT_EQ(r.string_count, want.string_count);
    EXPECT_EQ(r.first_string, want.first_string);
    for (int k = 0; k < kPointCount; ++k) EXPECT_EQ(r.points[k], want.points[k]) << "point " << k;
    EXPECT_EQ(r.raw, want.raw);
    EXPECT_EQ(r.nostop, want.nostop);
    EXPECT_EQ(r.align, want.align);
    EXPECT_EQ(r.dots, want.dots);
    EXPECT_EQ(r.has_points, want.has_points);
    EXPECT_EQ(r.language, want.language);
    EXPECT_TRUE(is_valid_record(r, 7));
}

TEST(MessageTableRecords, IndexFieldsEncodeToTheHandWrittenBytes) {
    std::vector<std::uint8_t> out(180, 0xEE);
    encode_index(index_fields(), std::span<std::uint8_t, kIndexRecordSize>(out.data(), kIndexRecordSize));
    EXPECT_EQ(out, hand_written_index());
}

// String 2 of message 7: "Hi!" and a NUL, the rest zero.
std::vector<std::uint8_t> hand_written_string() {
    std::vector<std::uint8_t> s(305, 0);
    put(s, 0, {0x07, 0x00, 0x03, 0x00, 'H', 'i', '!'});
    return s;
}

TEST(MessageTableRecords, HandWrittenStringRecordDecodesAndEncodesBack) {
    StringRecord s = decode_string(hand_written_string());
    EXPECT_EQ(s.number, 7);
    EXPECT_EQ(s.length, 3);
    EXPECT_STREQ(s.text, "Hi!");
    std::vector<std::uint8_t> out(305, 0xEE);
    encode_string(s, std::span<std::uint8_t, kStringRecordSize>(out.data(), kStringRecordSize));
    EXPECT_EQ(out, hand_written_string());
}

TEST(MessageTableRecords, DamagedAndMisSizedRecordsDecodeSafely) {
    std::vector<std::uint8_t> full(305, 'x');
    EXPECT_EQ(std::string(decode_string(full).text), std::string(300, 'x'));  // cut at the last byte
    std::vector<std::uint8_t> index = hand_written_index();
    for (std::size_t size : {std::size_t{0}, std::size_t{179}}) {
        SCOPED_TRACE(size);
        IndexRecord r = decode_index(std::span(index).first(size));
        EXPECT_FALSE(is_valid_record(r, 7));
        EXPECT_EQ(r.string_count, 0);
    }
    index.push_back(0);
    EXPECT_FALSE(is_valid_record(decode_index(index), 7));
    EXPECT_EQ(decode_string(std::span(full).first(304)).text[0], 0);
}

TEST(MessageTableRecords, RecordBytesGivesOnlyWholeRecords) {
    std::vector<std::uint8_t> table(2 * 180 + 179);
    EXPECT_EQ(index_bytes(table, 0).size(), 180u);
    EXPECT_EQ(index_bytes(table, 1).data(), table.data() + 180);
    EXPECT_TRUE(index_bytes(table, 2).empty());  // cut short
    EXPECT_TRUE(index_bytes(table, SIZE_MAX / 100).empty());
    EXPECT_TRUE(string_bytes(table, 1).empty());
}

}  // namespace
