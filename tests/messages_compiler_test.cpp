// The message compiler on small sources: the line treatment, the placement of records, the
// error file, and what a failed compile leaves behind.
#include <gtest/gtest.h>

#include <cstring>
#include <string>
#include <vector>

#include "config/config.h"
#include "messages/message_compiler.h"
#include "tests/message_fixtures.h"
#include "tests/test_support.h"
#include "xfile/xfile.h"

using namespace messages;
using namespace testing_support;

namespace {

using Strings = std::vector<std::string>;

class Recorded : public CompileObserver {
public:
    void long_message(int number, int count, long line) override {
        seen.push_back(std::to_string(number) + "/" + std::to_string(count) + "@" + std::to_string(line));
    }
    Strings seen;
};

// Every warning as "LINE: text", for the sources below.
class Warnings : public CompileObserver {
public:
    void long_message(int, int, long) override {}
    void warning(long line, const std::string& text) override { seen.push_back(std::to_string(line) + ": " + text); }
    Strings seen;
};

Strings warnings_of(const std::string& source) {
    Warnings w;
    compile_in_memory(source, &w);
    return w.seen;
}

// Each thing the compiler drops or changes in silence is said, at the line it concerns; the
// tables are the same as without anyone listening.
TEST(CompilerWarnings, SayWhatIsDroppedOrChanged) {
    struct Case {
        std::string source;
        std::string warning;  // the start of the one warning expected, "LINE: text"
    };
    const Case cases[] = {
        {"#1 0 0 0 0 40 2 0\nHello.\n", "1: message 1 is never written: no header line follows it"},
        {"stray\n#1 0 0 0 0 40 2 0\nHello.\n#0\n", "1: text before the first header line"},
        {"#1 0 0 0 0 40 2 0\nHello.\n#0\nafter\n", "4: text under a header numbered 0"},
        {"#1 0 0 0 0 40 2 0\nA.\n#1 0 0 0 0 40 2 0\nB.\n#0\n", "3: message 1 is defined again (first at line 1)"},
        {"#70000 0 0 0 0 40 2 0\nHello.\n#0\n", "1: message number 70000 does not fit 16 bits; it is stored as 4464"},
        {"#1 0 0 0\nHello.\n#0\n", "1: the header has no hdr5 number"},
        {"#1 0 0 0 0 40 2\nHello.\n#0\n", "1: the header has no end_point number"},
        {"#1 0 0 0 0 300 2 0\nHello.\n#0\n", "1: width 300 is out of range; 299 is used"},
        {"#1 0 0 0 0 -5 2 0\nHello.\n#0\n", "1: width -5 is out of range; 299 is used"},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.source);
        Strings seen = warnings_of(c.source);
        ASSERT_EQ(seen.size(), 1u) << (seen.empty() ? "" : seen[0] + " | " + seen.back());
        EXPECT_EQ(seen[0].rfind(c.warning, 0), 0u) << seen[0];
        Warnings listener;
        MemoryTables heard = compile_in_memory(c.source, &listener);
        MemoryTables unheard = compile_in_memory(c.source);
        EXPECT_EQ(heard.dat, unheard.dat);
        EXPECT_EQ(heard.str, unheard.str);
    }
    // A sound source says nothing; a width of 0 is the format's default.
    EXPECT_EQ(warnings_of("#1 0 0 0 0 0 2 0\nHello.\n#2 0 0 0 0 40 1 0 nostop -c a.wav p5\nThere.\n#0\n"),
              Strings{});
}

TEST(CompilerWarnings, ALineDroppedAtTheTextBoundIsSaidOnce) {
    std::string source = "#1 0 0 0 0 299 255 0\n";
    for (int i = 0; i < 60; ++i) source += std::string(200, 'x') + "\n";  // 12,000 characters
    source += "#0\n";
    Strings seen = warnings_of(source);
    ASSERT_EQ(seen.size(), 1u);
    EXPECT_EQ(seen[0].rfind("51: the message's text reaches 10000 characters", 0), 0u) << seen[0];
}

TEST(CompilerSource, WidthAndPageLinesFromTheHeader) {
    MemoryTables t = compile_in_memory("#12 0 0 0 0 40 2 0\nHello there.\n#0\n");
    IndexRecord r = record_of(t.dat, 12);
    EXPECT_TRUE(is_valid_record(r, 12));
    EXPECT_EQ(r.width, 40u);
    EXPECT_EQ(r.page_lines, 1);  // lowered to the one string the text makes
    EXPECT_EQ(message_strings(t, 12), (Strings{"Hello there."}));
    MemoryTables two = compile_in_memory("#12 0 0 0 0 10 2 0\none two three four five\n#0\n");
    EXPECT_EQ(record_of(two.dat, 12).page_lines, 2);
}

TEST(CompilerSource, RecordsByNumberStringsBySourceOrder) {
    MemoryTables t = compile_in_memory("#5 0 0 0 0 40 1 0\nfive\n#3 0 0 0 0 40 1 0\nthree\n#0\n");
    ASSERT_EQ(t.dat.size(), 6 * kIndexRecordSize);
    EXPECT_EQ(strings_of(t.str), (Strings{"five", "three"}));
    EXPECT_EQ(record_of(t.dat, 3).first_string, 1u);
    EXPECT_EQ(record_of(t.dat, 5).first_string, 0u);
    for (int gap : {0, 1, 2, 4}) {
        SCOPED_TRACE(gap);
        for (std::size_t i = 0; i < kIndexRecordSize; ++i) ASSERT_EQ(t.dat[gap * kIndexRecordSize + i], 0);
    }
}

TEST(CompilerSource, WhatIsNeverWritten) {
    // Text before the first header, message 0, and the text after the last header.
    MemoryTables t = compile_in_memory("stray\n#0 0 0 0 0 40 1 0\nzero\n#2 0 0 0 0 40 1 0\ntwo\n#4 0 0 0 0 40 1 0\nlost\n");
    EXPECT_EQ(strings_of(t.str), (Strings{"two"}));
    EXPECT_EQ(t.dat.size(), 3 * kIndexRecordSize);
}

TEST(CompilerSource, AlignedLinesInRawAndNormalMessages) {
    MemoryTables raw = compile_in_memory("##1 0 0 0 0 20 5 0\nHello\\c\n#0\n");
    EXPECT_EQ(message_strings(raw, 1), (Strings{"       Hello        ", ""}));
    MemoryTables normal = compile_in_memory("#1 0 0 0 0 20 5 0\nHello\\c\nworld\n#0\n");
    EXPECT_EQ(message_strings(normal, 1), (Strings{"Hello", "world"}));
    MemoryTables centred = compile_in_memory("#1 0 0 0 0 9 5 0 -c\nHello\n#0\n");
    EXPECT_EQ(message_strings(centred, 1), (Strings{"  Hello  "}));
    // The header that ends a message gives its line mode to all of the message's strings.
    MemoryTables by_header = compile_in_memory("#1 0 0 0 0 9 5 0\nab\\xy\n#0 \\c\n");
    EXPECT_EQ(message_strings(by_header, 1), (Strings{"   ab    ", "   xy    "}));
}

TEST(CompilerSource, CommentsSectionsDotsAndPoints) {
    MemoryTables t = compile_in_memory(
        "#RUS\n#1 0 0 0 0 40 1 0 // a comment\nvisible // hidden\n#inter\n"
        "#2 0 0 0 0 40 1 0\n...dotted\n@points 3\n#0\n");
    IndexRecord one = record_of(t.dat, 1);
    IndexRecord two = record_of(t.dat, 2);
    EXPECT_EQ(one.language, 0);
    EXPECT_EQ(two.language, 1);
    EXPECT_EQ(one.dots + one.has_points, 0);
    EXPECT_EQ(two.dots, 1);
    EXPECT_EQ(two.has_points, 1);
    EXPECT_EQ(message_strings(t, 1), (Strings{"visible"}));
    EXPECT_EQ(message_strings(t, 2), (Strings{"dotted @points 3"}));
}

TEST(CompilerSource, RawMessagesKeepTheLineAsWritten) {
    MemoryTables t = compile_in_memory("##1 0 0 0 0 40 9 0\n  two  spaces \r\n...dots\n\n#0\n");
    EXPECT_EQ(message_strings(t, 1), (Strings{"  two  spaces ", "...dots"}));
    EXPECT_EQ(record_of(t.dat, 1).dots, 1);
}

TEST(CompilerSource, LongLinesAreReadInPiecesAndTextStopsAt9999Characters) {
    std::string line(300, 'x');
    MemoryTables t = compile_in_memory("#1 0 0 0 0 299 9 0\n" + line + "\n#0\n");
    EXPECT_EQ(message_strings(t, 1), (Strings{std::string(249, 'x'), std::string(51, 'x')}));
    std::string big = "#2 0 0 0 0 299 255 0\n";
    for (int i = 0; i < 60; ++i) big += std::string(200, 'a' + i % 26) + "\n";
    MemoryTables capped = compile_in_memory(big + "#0\n");
    std::size_t chars = 0;
    for (const std::string& s : message_strings(capped, 2)) chars += s.size() + 1;
    EXPECT_LE(chars, 9999u);
    EXPECT_GT(chars, 9500u);
}

TEST(CompilerSource, TooLongMessagesAreReportedWithTheirHeaderLine) {
    Recorded r;
    compile_in_memory("#6 0 0 0 0 5 1 0 p2 p3\naaa bbb\n#7 0 0 0 0 5 1 0\naaa bbb ccc\n#0\n", &r);
    EXPECT_EQ(r.seen, (Strings{"7/3@3"}));
}

class CompilerFiles : public CoreTest {
protected:
    TempDir dir;
    void SetUp() override {
        CoreTest::SetUp();
        ASSERT_TRUE(plat::change_directory(dir.path().c_str()));
        std::strcpy(config::directories().hd, dir.path().c_str());
    }
};

TEST_F(CompilerFiles, CompilesTheHdSourceIntoBothTables) {
    write_file(dir.file("MESSAGE.TXT"), "#2 0 0 0 0 40 1 0\r\nfirst line\r\n#1 0 0 0 0 40 1 0\r\nsecond\r\n#0\r\n");
    EXPECT_FALSE(compile_messages().failed());
    std::string dat = read_file(dir.file("message.dat"));
    EXPECT_EQ(dat.size(), 3 * kIndexRecordSize);
    EXPECT_EQ(strings_of(read_file(dir.file("message.str"))), (Strings{"first line", "second"}));
    EXPECT_FALSE(plat::file_exists(dir.file("Message.err").c_str()));
    EXPECT_FALSE(plat::file_exists(dir.file("message.dat~").c_str()));
    MemoryTables same = compile_in_memory(read_file(dir.file("MESSAGE.TXT")));
    EXPECT_EQ(std::string(same.dat.begin(), same.dat.end()), dat);
}

TEST_F(CompilerFiles, WritesTheErrorFileForLongMessages) {
    write_file(dir.file("message.txt"), "#7 0 0 0 0 5 1 0\nabc def ghi\n#0\n");
    EXPECT_FALSE(compile_messages().failed());
    EXPECT_EQ(read_file(dir.file("Message.err")), "#7      The string is long. (String count=3)\n");
}

TEST_F(CompilerFiles, FillsLargeGapsWithZeros) {
    write_file(dir.file("message.txt"), "#400 0 0 0 0 40 1 0\nfar\n#0\n");
    EXPECT_FALSE(compile_messages().failed());
    std::string dat = read_file(dir.file("message.dat"));
    ASSERT_EQ(dat.size(), 401 * kIndexRecordSize);
    EXPECT_EQ(dat.find_first_not_of('\0'), 400 * kIndexRecordSize);
}

// The index is written in pieces of consecutive records: numbers that go back, come again,
// land inside what was written already or leave gaps of every size must give the same bytes
// as the tables built in memory.
TEST_F(CompilerFiles, RecordsInAnyOrderGiveTheTablesOfTheMemoryCompile) {
    std::string source;
    for (int number : {5, 3, 4, 400, 401, 2, 5, 300, 301, 700, 1000, 999, 3000, 6})
        source += "#" + std::to_string(number) + " 0 0 0 0 40 1 0\nmessage " + std::to_string(number) + "\n";
    source += "#0\n";
    write_file(dir.file("message.txt"), source);
    EXPECT_FALSE(compile_messages().failed());
    MemoryTables same = compile_in_memory(source);
    EXPECT_EQ(read_file(dir.file("message.dat")), std::string(same.dat.begin(), same.dat.end()));
    EXPECT_EQ(read_file(dir.file("message.str")), std::string(same.str.begin(), same.str.end()));
}

TEST_F(CompilerFiles, AMissingSourceIsNamedAndTouchesNothing) {
    write_file(dir.file("message.dat"), "old");
    CompileResult r = compile_messages();
    EXPECT_TRUE(r.failed());
    EXPECT_FALSE(r.source_opened);
    EXPECT_EQ(r.file, dir.file("message.txt"));
    EXPECT_EQ(r.problem.rfind("cannot open: ", 0), 0u) << r.problem;
    EXPECT_EQ(read_file(dir.file("message.dat")), "old");
}

TEST_F(CompilerFiles, AFailureAtAnyStepLeavesOldOrNewTablesAndNoScratchFiles) {
    std::string source = "#1 0 0 0 0 40 1 0\none\n#300 0 0 0 0 40 1 0\ntwo\n#0\n";
    write_file(dir.file("message.txt"), source);
    ASSERT_FALSE(compile_messages().failed());
    std::string new_dat = read_file(dir.file("message.dat"));
    std::string new_str = read_file(dir.file("message.str"));
    CompileResult result;
    int failures = fail_each_step(
        kEveryFaultOp,
        [&] {
            write_file(dir.file("message.dat"), "old index");
            write_file(dir.file("message.str"), "old strings");
        },
        [&] { return !(result = compile_messages()).failed(); },
        [&](const StepRun& run) {
            std::string dat = read_file(dir.file("message.dat"));
            std::string str = read_file(dir.file("message.str"));
            if (run.succeeded) {
                EXPECT_EQ(dat, new_dat);
                EXPECT_EQ(str, new_str);
            } else {
                EXPECT_TRUE(result.failed());
                EXPECT_FALSE(result.problem.empty());
                // The compiler alone swaps the two tables one after the other, the strings
                // first: a failed swap of the index (the flush of its new file, the rename, or
                // a folder flush after the strings' rename) leaves the new strings behind, and
                // a failed folder flush after the index's rename leaves both new but not yet
                // sure to last. The commands wrap it in a transaction of the tables, which
                // makes every such failure end in both old or both new (its test is beside the
                // journal's).
                bool swap_step = run.op == plat::FaultOp::Replace || run.op == plat::FaultOp::Flush ||
                                 run.op == plat::FaultOp::FlushFolder;
                bool old_pair = dat == "old index" && str == "old strings";
                bool strings_only = dat == "old index" && str == new_str;
                bool new_pair = dat == new_dat && str == new_str;
                EXPECT_TRUE(old_pair || (swap_step && strings_only) || (run.op == plat::FaultOp::FlushFolder && new_pair))
                    << "failed at " << plat::fault_op_name(run.op);
            }
            EXPECT_EQ(names_starting_with(dir.path(), "message.dat~"), std::vector<std::string>{});
            EXPECT_EQ(names_starting_with(dir.path(), "message.str~"), std::vector<std::string>{});
        });
    EXPECT_GE(failures, 6);
}

TEST_F(CompilerFiles, AFailedWriteLeavesTheOldTablesInPlace) {
    // The gap before message 3000 is long enough to be written in several pieces.
    std::string source = "#1 0 0 0 0 40 1 0\none\n#3000 0 0 0 0 40 1 0\ntwo\n#0\n";
    write_file(dir.file("message.txt"), source);
    for (long n = 1; n <= 4; ++n) {
        SCOPED_TRACE(n);
        write_file(dir.file("message.dat"), "old index");
        write_file(dir.file("message.str"), "old strings");
        plat::fault_injection().fail_write_at = n;
        CompileResult r = compile_messages();
        EXPECT_TRUE(r.failed());
        EXPECT_TRUE(r.source_opened);
        EXPECT_FALSE(r.problem.empty());
        plat::reset_fault_injection();
        EXPECT_EQ(read_file(dir.file("message.dat")), "old index");
        EXPECT_EQ(read_file(dir.file("message.str")), "old strings");
        EXPECT_FALSE(plat::file_exists(dir.file("message.dat~").c_str()));
        EXPECT_FALSE(plat::file_exists(dir.file("message.str~").c_str()));
    }
    EXPECT_FALSE(compile_messages().failed());
    EXPECT_EQ(strings_of(read_file(dir.file("message.str"))), (Strings{"one", "two"}));
}

}  // namespace
