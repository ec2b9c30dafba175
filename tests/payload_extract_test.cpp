// Extraction of payload regions: the scrambling rule at the chunk edges, what a stamped
// region unpacks to, and every damaged region and failing disk it must stop at before it
// writes outside the target or reports a truncated file as written.
#include <gtest/gtest.h>

#include <algorithm>

#include "payload/extract.h"
#include "payload/key.h"
#include "platform/intercept/held_files.h"
#include "platform/platform.h"
#include "tests/payload_test_support.h"
#include "tests/test_support.h"

using namespace testing_support;

namespace {

TEST(PayloadKey, HasNineteenPrintableCharacters) {
    ASSERT_EQ(payload::key_length(), 19u);
    for (std::size_t i = 0; i < 19; ++i) EXPECT_TRUE(payload::kScrambleKey[i] >= 0x20 && payload::kScrambleKey[i] < 0x7F);
}

TEST(PayloadKey, KeyIndexRestartsAtEveryChunk) {
    const char* key = payload::kScrambleKey;
    for (std::size_t size : {std::size_t{10240}, std::size_t{10241}, std::size_t{25000}}) {
        SCOPED_TRACE(size);
        std::vector<std::uint8_t> zeros(size, 0);
        payload::scramble_content(zeros.data(), size);
        for (std::size_t n : {std::size_t{0}, std::size_t{18}, std::size_t{19}, std::size_t{10239}, size - 1})
            EXPECT_EQ(zeros[n], static_cast<std::uint8_t>(key[(n % 10240) % 19])) << "byte " << n;
        payload::scramble_content(zeros.data(), size);
        EXPECT_EQ(zeros, std::vector<std::uint8_t>(size, 0));
    }
    // 10,240 is not a multiple of 19: the byte behind the first chunk takes the key's first
    // character, where a running index would give its twelfth.
    std::vector<std::uint8_t> two(10241, 0);
    payload::scramble_content(two.data(), two.size());
    EXPECT_EQ(two[10240], static_cast<std::uint8_t>(key[0]));
    EXPECT_NE(two[10240], static_cast<std::uint8_t>(key[10240 % 19]));
}

TEST(PayloadTemplateTest, OnlyBeginExactlyMeansUnstamped) {
    std::vector<std::uint8_t> r = template_region();
    EXPECT_FALSE(payload::holds_patch(r));
    r[0] = 'b';
    EXPECT_TRUE(payload::holds_patch(r));
    r[0] = '.';
    EXPECT_TRUE(payload::holds_patch(r));
}

class Extraction : public CoreTest {
protected:
    TempDir dir;
    std::vector<std::uint8_t> region = template_region();
    std::size_t at = 0;
    payload::ExtractFailure why;
    Result result;

    // Whether it unpacked everything; `result` and `why` say what stopped it.
    bool extract() {
        result = payload::extract_payload(region, dir.path().c_str(), &why);
        return !result.failed();
    }
    bool exists(const std::string& name) { return plat::file_exists(dir.file(name).c_str()); }
};

TEST_F(Extraction, UnpacksEveryEntryAndCountsTheSizesDown) {
    std::string big = pattern(10241), exact = pattern(10240, 2), small = "[work]\r\n";
    put_entry(region, &at, "patch.mul", 10241, big);
    put_entry(region, &at, "exact.bin", 10240, exact);
    put_entry(region, &at, "patch.ini", 8, small);
    put_entry(region, &at, "empty.dat", 0, "");
    RecordingSink sink;
    ASSERT_TRUE(extract()) << result.problem;
    EXPECT_EQ(sink.keep_alives, 4) << "once for each chunk written";
    EXPECT_EQ(read_file(dir.file("patch.mul")), big);
    EXPECT_EQ(read_file(dir.file("exact.bin")), exact);
    EXPECT_EQ(read_file(dir.file("patch.ini")), small);
    EXPECT_TRUE(exists("empty.dat"));
    EXPECT_EQ(read_file(dir.file("empty.dat")), "");
    // In place: the contents are plain now and every size field holds 0.
    EXPECT_EQ(le::get32s(region.data() + 20), 0);
    EXPECT_EQ(std::string(region.begin() + 24, region.begin() + 24 + big.size()), big);
}

TEST_F(Extraction, ListWithNoEntriesWritesNothing) {
    std::fill_n(region.begin(), 5, '.');  // an empty list: fill from the first byte to "End"
    EXPECT_TRUE(extract()) << result.problem;
    EXPECT_FALSE(exists("Begin"));
}

TEST_F(Extraction, NegativeSizeMakesAnEmptyFileAndTheNextHeaderFollowsDirectly) {
    put_entry(region, &at, "neg.txt", -7, "");
    put_entry(region, &at, "next.txt", 3, "abc");
    ASSERT_TRUE(extract()) << result.problem;
    EXPECT_EQ(read_file(dir.file("neg.txt")), "");
    EXPECT_EQ(read_file(dir.file("next.txt")), "abc");
}

TEST_F(Extraction, NineteenCharacterNameFitsAndBytesBehindItsNulAreIgnored) {
    put_entry(region, &at, "abcdefghijklmnop.19", 1, "x", 0);
    put_entry(region, &at, std::string("short\0garbage!", 14), 1, "y", 0xCC);
    ASSERT_TRUE(extract()) << result.problem;
    EXPECT_EQ(read_file(dir.file("abcdefghijklmnop.19")), "x");
    EXPECT_EQ(read_file(dir.file("short")), "y");
}

TEST_F(Extraction, OverwritesAnExistingFile) {
    write_file(dir.file("patch.ini"), "an older and longer patch.ini");
    put_entry(region, &at, "PATCH.INI", 3, "new");
    ASSERT_TRUE(extract()) << result.problem;
    EXPECT_EQ(read_file(dir.file("patch.ini")), "new");
}

// Into the run's own folder each file is made new and held: a name found there already was
// planted, and is refused rather than written through; the files written are held open.
TEST_F(Extraction, IntoItsOwnFolderMakesEachFileNewAndHoldsIt) {
    put_entry(region, &at, "patch.ini", 8, "[work]\r\n");
    put_entry(region, &at, "new.bin", 3, "abc");
    ASSERT_FALSE(
        payload::extract_payload(region, dir.path().c_str(), &why, payload::ExtractHow::IntoOwnFolderHeld).failed())
        << describe(why);
    EXPECT_TRUE(plat::holds_file(dir.file("patch.ini").c_str()));
    EXPECT_TRUE(plat::holds_file(dir.file("new.bin").c_str()));
    EXPECT_EQ(read_file(dir.file("new.bin")), "abc");
    plat::release_held_files();

    TempDir planted;
    write_file(planted.file("new.bin"), "planted");
    std::vector<std::uint8_t> again = template_region();
    std::size_t pos = 0;
    put_entry(again, &pos, "new.bin", 3, "abc");
    EXPECT_TRUE(payload::extract_payload(again, planted.path().c_str(), &why, payload::ExtractHow::IntoOwnFolderHeld)
                    .failed());
    EXPECT_EQ(why.step, payload::ExtractFailure::Step::Create);
    EXPECT_EQ(read_file(planted.file("new.bin")), "planted");
}

TEST_F(Extraction, RefusesNamesThatLeaveTheTargetOrAreNoPlainFile) {
    const std::string names[] = {
        "c:\\x", "a\\b", "a/b", "c:x", "x\\..\\..\\windows\\x.dll", std::string("\0x", 2),
        "nul", "CON.txt", "com1", "lpt9.dat", "a?b", "tab\there",
        std::string(20, 'n'),  // no NUL inside the 20 bytes
    };
    for (const std::string& bad : names) {
        SCOPED_TRACE(bad);
        region = template_region();
        at = 0;
        put_entry(region, &at, "first.txt", 1, "1");
        put_entry(region, &at, bad, 1, "2", bad.size() >= 20 ? 'n' : 0);
        EXPECT_FALSE(extract());
        EXPECT_EQ(why.step, payload::ExtractFailure::Step::Entry);
        EXPECT_EQ(why.status, payload::EntryStatus::BadName);
        EXPECT_EQ(why.index, 2);
        EXPECT_FALSE(exists("first.txt"));  // a damaged list is refused before anything is written
    }
    EXPECT_TRUE(payload::is_valid_entry_name("console.dat", 11));
    EXPECT_TRUE(payload::is_valid_entry_name("com10", 5));
    EXPECT_FALSE(payload::is_valid_entry_name("..", 2));
    EXPECT_FALSE(payload::is_valid_entry_name(".x", 2));
}

TEST_F(Extraction, AListThatEndsInFrontOfMoreBytesIsDamagedAndNothingIsWritten) {
    // "..\\..\\windows\\x.dll" can never be written: its first '.' would end the list, but the
    // bytes behind it are not the fill, so the region is refused whole.
    put_entry(region, &at, "first.txt", 1, "1");
    std::size_t second = at;
    put_entry(region, &at, "..\\..\\x.dll", 1, "2");
    put_entry(region, &at, "third.txt", 1, "3");
    EXPECT_FALSE(extract());
    EXPECT_EQ(why.status, payload::EntryStatus::FillBroken);
    EXPECT_EQ(why.index, 1);
    EXPECT_EQ(why.offset, second + 2);  // the second '.' is still fill, the backslash is not
    EXPECT_EQ(result.problem, "the list ends after entry 1 (first.txt), but byte " + std::to_string(second + 2) +
                                          " behind it is not '.'");
    EXPECT_FALSE(exists("first.txt"));
    EXPECT_FALSE(exists("third.txt"));

    struct Case {
        const char* what;
        std::size_t offset;  // of the byte changed, from the region's end when `from_end`
        bool from_end;
        std::uint8_t value;
        payload::EntryStatus status;
    };
    const Case cases[] = {
        {"a stray byte just before End", 5, true, 'x', payload::EntryStatus::FillBroken},
        {"End damaged", 3, true, 'e', payload::EntryStatus::NoClosingEnd},
        {"no NUL behind End", 1, true, '.', payload::EntryStatus::NoClosingEnd},
        {"a byte right behind the list's '.'", 0, false, 0, payload::EntryStatus::FillBroken},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.what);
        region = template_region();
        at = 0;
        put_entry(region, &at, "only.txt", 2, "ok");
        std::size_t changed = c.from_end ? region.size() - c.offset : at + 1;
        region[changed] = c.value;
        std::vector<payload::EntryView> entries;
        EXPECT_FALSE(payload::walk_entry_list(region, &entries, &why));
        EXPECT_EQ(why.status, c.status);
        EXPECT_EQ(why.name, "only.txt");
        if (c.status == payload::EntryStatus::FillBroken) {
            EXPECT_EQ(why.offset, changed);
        }
        EXPECT_FALSE(extract());
        EXPECT_FALSE(exists("only.txt"));
    }

    // An empty list followed by anything but the fill.
    region = template_region();
    region[0] = '.';
    region[1] = 'x';
    EXPECT_FALSE(extract());
    EXPECT_EQ(result.problem, "the list ends before its first entry, but byte 1 behind it is not '.'");
}

TEST_F(Extraction, RefusesASizeRunningPastTheRegionBeforeCreatingTheFile) {
    put_entry(region, &at, "ok.txt", 2, "ok");
    std::size_t room = region.size() - at - payload::kEntryHeaderSize;
    put_entry(region, &at, "huge.mul", static_cast<std::int32_t>(room + 1), "");
    EXPECT_FALSE(extract());
    EXPECT_EQ(why.status, payload::EntryStatus::SizePastEnd);
    EXPECT_EQ(result.problem, "entry 2 (huge.mul): size " + std::to_string(room + 1) + " runs past the region's end");
    EXPECT_FALSE(exists("huge.mul"));

    // To the last byte is still inside.
    region = template_region();
    at = 0;
    put_entry(region, &at, "full.bin", static_cast<std::int32_t>(region.size() - 24), "");
    EXPECT_FALSE(extract());  // nothing behind it ends the list
    EXPECT_EQ(why.status, payload::EntryStatus::HeaderPastEnd);
    EXPECT_FALSE(exists("full.bin"));
}

TEST_F(Extraction, RefusesAHeaderCutByTheRegionsEnd) {
    std::vector<std::uint8_t> tiny = {'a', 'b', 0, 0, 0};
    EXPECT_TRUE(payload::extract_payload(tiny, dir.path().c_str(), &why).failed());
    EXPECT_EQ(why.status, payload::EntryStatus::HeaderPastEnd);
    std::vector<std::uint8_t> none;
    EXPECT_TRUE(payload::extract_payload(none, dir.path().c_str(), &why).failed());
}

TEST_F(Extraction, RefusesATargetPathOver255Bytes) {
    std::string name = "f.txt";
    // A target directory (that does not exist) of exactly the length that leaves room for
    // the name and the NUL.
    std::string fits = dir.path() + "missing\\";
    fits += std::string(255 - fits.size() - name.size() - 1, 'd') + "\\";
    put_entry(region, &at, name, 1, "x");
    EXPECT_TRUE(payload::extract_payload(region, (fits + "x").c_str(), &why).failed());
    EXPECT_EQ(why.step, payload::ExtractFailure::Step::PathTooLong);
    EXPECT_TRUE(payload::extract_payload(region, fits.c_str(), &why).failed());
    EXPECT_EQ(why.step, payload::ExtractFailure::Step::Create);  // 255 bytes fit: it got as far as the disk
}

TEST_F(Extraction, AFileThatCannotBeCreatedEndsIt) {
    put_entry(region, &at, "a.txt", 1, "a");
    put_entry(region, &at, "b.txt", 1, "b");
    put_entry(region, &at, "c.txt", 1, "c");
    write_file(dir.file("b.txt"), "locked");
    ASSERT_TRUE(make_read_only(dir.file("b.txt")));
    EXPECT_FALSE(extract());
    EXPECT_EQ(why.step, payload::ExtractFailure::Step::Create);
    EXPECT_EQ(read_file(dir.file("a.txt")), "a");
    EXPECT_FALSE(exists("c.txt"));
}

TEST_F(Extraction, AFailureAtAnyStepLeavesEachFileOldOrNewAndNoScratchFiles) {
    const std::string big = pattern(25000);
    int failures = fail_each_step(
        kEveryFaultOp,
        [&] {
            region = template_region();
            at = 0;
            put_entry(region, &at, "a.txt", 1, "a");
            put_entry(region, &at, "big.bin", 25000, big);
            put_entry(region, &at, "z.txt", 1, "z");
            write_file(dir.file("a.txt"), "old a");
            write_file(dir.file("big.bin"), "old big");
            if (exists("z.txt")) {
                ASSERT_TRUE(plat::delete_file(dir.file("z.txt").c_str()));
            }
        },
        [&] { return extract(); },
        [&](const StepRun& run) {
            std::string a = read_file(dir.file("a.txt")), b = read_file(dir.file("big.bin"));
            EXPECT_TRUE(a == "a" || a == "old a") << a;
            EXPECT_TRUE(b == big || b == "old big") << "big.bin is neither old nor new";
            if (exists("z.txt")) {
                EXPECT_EQ(read_file(dir.file("z.txt")), "z");
            }
            if (run.succeeded) {
                EXPECT_EQ(a, "a");
                EXPECT_TRUE(b == big);
                EXPECT_TRUE(exists("z.txt"));
            } else {
                EXPECT_FALSE(result.problem.empty());
            }
            for (const char* name : {"a.txt~", "big.bin~", "z.txt~"})
                EXPECT_EQ(names_starting_with(dir.path(), name), std::vector<std::string>{});
        });
    EXPECT_GE(failures, 8);
}

TEST_F(Extraction, AFailedWriteEndsItAtAnyChunk) {
    // Writes: a.txt one chunk, big.bin three chunks, z.txt one.
    for (long failing = 1; failing <= 5; ++failing) {
        SCOPED_TRACE(failing);
        region = template_region();
        at = 0;
        put_entry(region, &at, "a.txt", 1, "a");
        put_entry(region, &at, "big.bin", 25000, pattern(25000));
        put_entry(region, &at, "z.txt", 1, "z");
        plat::fault_injection().fail_write_at = failing;
        EXPECT_FALSE(extract());
        EXPECT_EQ(why.step, payload::ExtractFailure::Step::Write);
        EXPECT_EQ(why.name, failing == 1 ? "a.txt" : failing <= 4 ? "big.bin" : "z.txt");
        if (failing < 5) {
            EXPECT_FALSE(exists("z.txt"));
        }
        plat::reset_fault_injection();
    }
}

}  // namespace
