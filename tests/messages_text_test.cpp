// The shared text rules: token reader, alignment, message writer, header grammar.
#include <gtest/gtest.h>

#include <cstring>
#include <string>
#include <vector>

#include "messages/message_tables.h"
#include "messages/message_header.h"
#include "messages/message_writer.h"
#include "messages/source_line.h"
#include "tests/message_fixtures.h"

using namespace messages;
using testing_support::strings_of;

namespace {

class CollectStrings : public StringSink {
public:
    bool put_string(const std::uint8_t* record) override {
        texts.emplace_back(decode_string(std::span(record, kStringRecordSize)).text);
        return true;
    }
    std::vector<std::string> texts;
};

std::string aligned(const std::string& text, int width, int message_mode, int line_mode, int not_last) {
    char buf[kLineCapacity + 1] = {};
    std::strcpy(buf, text.c_str());
    align_line(buf, width, message_mode, line_mode, not_last);
    return buf;
}

std::vector<std::string> written(const std::string& text, int width, bool raw = false, int align = 0,
                                 IndexRecord* out = nullptr) {
    IndexRecord r;
    r.number = 9;
    r.width = static_cast<std::uint32_t>(width);
    r.raw = raw;
    r.align = static_cast<std::uint8_t>(align);
    r.page_lines = 200;
    CollectStrings sink;
    std::uint32_t running = 0;
    EXPECT_TRUE(write_message(text.c_str(), r, sink, running, 0));
    EXPECT_EQ(running, sink.texts.size());
    EXPECT_EQ(r.string_count, sink.texts.size());
    if (out) *out = r;
    return sink.texts;
}

IndexRecord header(const std::string& line, HeaderRules rules = HeaderRules::Compiler) {
    IndexRecord r;
    r.raw = read_header(line.c_str(), r, rules);
    return r;
}

using Strings = std::vector<std::string>;

TEST(TokenReader, ReadsLeadingDigitsAndAnswersNoTokenAtTheEnd) {
    char text[] = "  12abc\tabc -7 ";
    char* p = text;
    EXPECT_EQ(next_number(p), 12);
    EXPECT_EQ(next_number(p), 0);
    EXPECT_EQ(next_number(p), -7);
    EXPECT_EQ(next_number(p), kNoToken);
    EXPECT_EQ(*p, 0);
    EXPECT_EQ(next_number(p), kNoToken);
    EXPECT_EQ(text_to_int("99999999999"), 2147483647);  // the same on every system
    EXPECT_EQ(text_to_int("-99999999999"), -2147483647 - 1);
}

TEST(LineAlignment, CentresAndCutsToTheWidth) {
    EXPECT_EQ(aligned("ab", 5, 1, 0, 1), " ab  ");
    EXPECT_EQ(aligned("  ab\t", 5, 0, 1, 0), " ab  ");  // a line mode overrides the message's
    EXPECT_EQ(aligned("abcdefgh", 5, 1, 0, 1), "abcde");
    EXPECT_EQ(aligned("", 3, 1, 0, 1), "   ");
    EXPECT_EQ(aligned(" keep ", 5, 0, 0, 1), " keep ");
}

TEST(LineAlignment, JustifiesByWideningGapsButNotTheLastLine) {
    EXPECT_EQ(aligned("a b c", 7, 2, 0, 1), "a  b  c");
    EXPECT_EQ(aligned("a b c", 10, 2, 0, 1), "a    b   c");  // later passes widen what is left
    EXPECT_EQ(aligned("a\tb", 4, 2, 0, 1), "a  b");
    EXPECT_EQ(aligned("abc", 7, 2, 0, 1), "abc");  // nothing to widen: no endless pass
    EXPECT_EQ(aligned("a b c", 7, 2, 0, 0), "a b c");
    EXPECT_EQ(aligned("a b c", 7, 0, 2, 0), "a  b  c");
}

TEST(MessageWriter, SplitsAtWordsBackslashesAndTheWidth) {
    EXPECT_EQ(written("one two\\three ", 40), (Strings{"one two", "three"}));
    EXPECT_EQ(written("aaa bbb ccc ddd ", 8), (Strings{"aaa bbb", "ccc ddd"}));
    EXPECT_EQ(written("abcdefghij ", 4), (Strings{"abcd", "efgh", "ij"}));  // a long word is cut
    EXPECT_EQ(written("a   b ", 20), (Strings{"a   b"}));  // inner runs of blanks stay
    EXPECT_EQ(written("a\\\\b ", 20), (Strings{"a", "", "b"}));
}

TEST(MessageWriter, RawMessagesKeepSpacingAndSplitOnlyAtBackslashesOrTheWidth) {
    EXPECT_EQ(written("  a  b\\c d\\", 20, true), (Strings{"  a  b", "c d"}));
    EXPECT_EQ(written("abcdefgh\\", 4, true), (Strings{"abcd", "efgh", ""}));
}

TEST(MessageWriter, JustifiesEveryStringButTheLastWithE) {
    EXPECT_EQ(written("aa b cc dd ", 6, false, 2), (Strings{"aa   b", "cc dd"}));
    EXPECT_EQ(written("aa b cc dd ", 6, false, 1), (Strings{" aa b ", "cc dd "}));
}

TEST(MessageWriter, EmptyTextWritesNothingAndZeroPageLines) {
    IndexRecord r;
    EXPECT_TRUE(written("", 40, false, 0, &r).empty());
    EXPECT_EQ(r.string_count, 0);
    EXPECT_EQ(r.page_lines, 0);
    EXPECT_EQ(r.signature, kSignature);
}

TEST(MessageWriter, AMissingWidthIsWrittenWith299InsteadOfLooping) {
    IndexRecord r;
    EXPECT_EQ(written("word \\x", 0, false, 0, &r), (Strings{"word", "x"}));
    EXPECT_EQ(r.width, 299u);
    EXPECT_EQ(written(std::string(400, 'w'), 0).size(), 2u);
}

TEST(HeaderGrammar, ReadsTheEightNumbersInTheirFields) {
    IndexRecord r = header("#12 1 2 3 4 40 2 -5");
    EXPECT_EQ(r.number, 12);
    EXPECT_EQ(r.hdr2, 1);
    EXPECT_EQ(r.hdr3, 2);
    EXPECT_EQ(r.hdr4, 3);
    EXPECT_EQ(r.hdr5, 4);
    EXPECT_EQ(r.width, 40u);
    EXPECT_EQ(r.page_lines, 2);
    EXPECT_EQ(r.end_point, -5);
    EXPECT_EQ(r.raw, 0);
    EXPECT_EQ(r.avs_first, kNoAvsNumber);
    EXPECT_EQ(header("##3 0 0 0 0 10 1 0").raw, 1);
}

TEST(HeaderGrammar, WidthAndPageLineRules) {
    for (const char* w : {"0", "1000", "-3", "300"}) {
        SCOPED_TRACE(w);
        EXPECT_EQ(header(std::string("#1 0 0 0 0 ") + w + " 1 0").width, 299u);
    }
    EXPECT_EQ(header("#1 0 0 0 0 299 1 0").width, 299u);
    EXPECT_EQ(header("#1 0 0 0 0 10 0 0").page_lines, 1);
    EXPECT_EQ(header("#1 0 0 0 0 10 258 0").page_lines, 2);
}

TEST(HeaderGrammar, AHeaderThatRunsOutOfNumbersIsAbandoned) {
    IndexRecord r = header("#7 5 6 nostop -c");
    EXPECT_EQ(r.number, 7);
    EXPECT_EQ(r.hdr2, 5);
    EXPECT_EQ(r.hdr3, 6);
    EXPECT_EQ(r.hdr4, 0);  // "nostop" reads as 0: the numbers go on
    EXPECT_EQ(r.width, 299u);  // abandoned before its width
    EXPECT_EQ(r.nostop, 0);
    EXPECT_EQ(r.avs_first, 0);
    IndexRecord late = header("#7 0 0 0 0 30 3");
    EXPECT_EQ(late.width, 30u);
    EXPECT_EQ(late.page_lines, 3);
    EXPECT_EQ(late.avs_second, 0);
    IndexRecord no_lines = header("#7 0 0 0 0 30");
    EXPECT_EQ(no_lines.page_lines, 208);  // -30000 kept in one byte
}

TEST(HeaderGrammar, KeywordsNamesAndPoints) {
    IndexRecord r = header("#5 0 0 0 0 40 2 100 -C nostop Voice.WAV intro.avs 3 4 p10 p5 px p-2");
    EXPECT_EQ(r.nostop, 1);
    EXPECT_EQ(r.align, 1);
    EXPECT_STREQ(r.wav_name, "voice.wav");
    EXPECT_STREQ(r.avs_name, "intro.avs");
    EXPECT_EQ(r.avs_first, 3);
    EXPECT_EQ(r.avs_second, 4);
    EXPECT_EQ(r.points[0], 10);
    EXPECT_EQ(r.points[1], 15);
    EXPECT_EQ(r.points[2], 13);
    EXPECT_EQ(r.points[3], 0);
    EXPECT_EQ(header("#5 0 0 0 0 40 2 0 -e -c").align, 2);
    IndexRecord names = header("#5 0 0 0 0 40 2 0 p7 x.wav");
    EXPECT_STREQ(names.wav_name, "");  // names stop at the first other token...
    EXPECT_EQ(names.points[0], 7);      // ...which the points still read
    IndexRecord one = header("#5 0 0 0 0 40 2 0 film.avs 9");
    EXPECT_EQ(one.avs_first, 9);
    EXPECT_EQ(one.avs_second, kNoAvsNumber);
    std::string longname(40, 'n');
    EXPECT_EQ(std::strlen(header("#5 0 0 0 0 40 2 0 " + longname + ".wav").wav_name), 30u);
}

TEST(HeaderGrammar, UpdateRulesStoreMissingNumbersAndCountBarePoints) {
    IndexRecord r = header("#17 0 0 0 0 40", HeaderRules::Update);
    EXPECT_EQ(r.width, 40u);
    EXPECT_EQ(r.page_lines, 208);
    EXPECT_EQ(r.end_point, kNoToken);
    IndexRecord w = header("#17 1", HeaderRules::Update);
    EXPECT_EQ(w.width, 299u);
    EXPECT_EQ(w.hdr3, static_cast<std::uint16_t>(kNoToken));
    IndexRecord film = header("#17 0 0 0 0 40 1 0 a.avs", HeaderRules::Update);
    EXPECT_EQ(film.avs_first, static_cast<std::uint16_t>(kNoToken));  // both numbers are read
    EXPECT_EQ(film.avs_second, static_cast<std::uint16_t>(kNoToken));
    IndexRecord bare = header("#17 0 0 0 0 40 1 0 p p5", HeaderRules::Update);
    EXPECT_EQ(bare.points[0], kNoToken);
    EXPECT_EQ(bare.points[1], kNoToken + 5);
}

TEST(IndexRecordFormat, FieldsSitAtTheirOffsetsLittleEndian) {
    IndexRecord r;
    r.signature = kSignature;
    r.number = 0x0102;
    r.hdr3 = 0x0304;
    r.hdr2 = 0x0506;
    r.width = 40;
    r.end_point = -2;
    std::strcpy(r.wav_name, "a.wav");
    r.avs_second = 0x0708;
    r.avs_first = 0x090A;
    r.string_count = 3;
    r.first_string = 0x01020304;
    r.points[19] = 0x11223344;
    r.raw = 1;
    r.language = 1;
    std::uint8_t b[kIndexRecordSize];
    encode_index(r, b);
    EXPECT_EQ(b[0], 0x34);
    EXPECT_EQ(b[1], 0x12);
    EXPECT_EQ(b[2], 0x02);
    EXPECT_EQ(b[4], 0x04);
    EXPECT_EQ(b[6], 0x06);
    EXPECT_EQ(b[12], 40);
    EXPECT_EQ(b[18], 0xFE);
    EXPECT_EQ(b[21], 0xFF);
    EXPECT_EQ(b[22], 'a');
    EXPECT_EQ(b[84], 0x08);
    EXPECT_EQ(b[86], 0x0A);
    EXPECT_EQ(b[88], 3);
    EXPECT_EQ(b[89], 0x04);
    EXPECT_EQ(b[92], 0x01);
    EXPECT_EQ(b[169], 0x44);
    EXPECT_EQ(b[173], 1);
    EXPECT_EQ(b[179], 1);
    std::uint8_t again[kIndexRecordSize];
    encode_index(decode_index(b), again);
    EXPECT_EQ(std::memcmp(b, again, kIndexRecordSize), 0);
}

}  // namespace
