// Work kinds '1' and '2' against small tables in a scratch game directory.
#include <gtest/gtest.h>

#include <cstdio>
#include <cstring>
#include <string>
#include <vector>

#include "config/config.h"
#include "messages/message_compiler.h"
#include "messages/message_updates.h"
#include "tests/message_fixtures.h"
#include "tests/test_support.h"

using namespace messages;
using namespace testing_support;

namespace {

using Strings = std::vector<std::string>;

const char kOldSource[] =
    "#17 0 0 0 0 40 1 0\nWelcome to Dravo, traveller.\n"
    "#4999 0 0 0 0 40 1 0\nFallback text\n#0\n";

class MessageUpdates : public CoreTest {
protected:
    TempDir dir;
    RecordingSink sink;
    void SetUp() override {
        CoreTest::SetUp();
        ASSERT_TRUE(plat::change_directory(dir.path().c_str()));
        std::strcpy(config::directories().hd, dir.path().c_str());
    }
    void install_tables(const std::string& source) {
        MemoryTables t = compile_in_memory(source);
        write_file(dir.file("message.dat"), std::string(t.dat.begin(), t.dat.end()));
        write_file(dir.file("message.str"), std::string(t.str.begin(), t.str.end()));
    }
    std::string dat() { return read_file(dir.file("message.dat")); }
    std::string str() { return read_file(dir.file("message.str")); }
    MemoryTables tables() {
        std::string d = dat(), s = str();
        return {std::vector<std::uint8_t>(d.begin(), d.end()), std::vector<std::uint8_t>(s.begin(), s.end())};
    }
    // The patch configuration: a work line's text is passed on; the stream stands after it.
    std::FILE* patch_stream(const std::string& rest) {
        write_file(dir.file("patch.ini"), rest);
        return plat::open_text(dir.file("patch.ini").c_str(), "rb");
    }
    static std::string next_line(std::FILE* f) {
        char buf[100];
        return std::fgets(buf, sizeof buf, f) ? buf : "<end>";
    }
};

const char kNewSource[] = "#17 0 0 0 0 40 1 0\nNew welcome.\n#18 0 0 0 0 40 1 0\nAnother.\n#0\n";

TEST_F(MessageUpdates, KindOneRebuildsTheTablesAndTagsThem) {
    install_tables(kOldSource);
    write_file(dir.file("new.msg.txt"), kNewSource);
    EXPECT_EQ(update_messages_from_source("new.msg.txt  #17 Welcome to").result, WorkResult::Applied);
    EXPECT_EQ(sink.progress, (Strings{"@Change new message files ..."}));
    MemoryTables expected = compile_in_memory(kNewSource);
    expected.dat[0] = '0';
    expected.dat[1] = '2';
    MemoryTables got = tables();
    EXPECT_EQ(got.dat, expected.dat);
    EXPECT_EQ(got.str, expected.str);
    EXPECT_FALSE(plat::file_exists(dir.file("Message.txt").c_str()));
    EXPECT_TRUE(plat::file_exists(dir.file("new.msg.txt").c_str()));

    // Once tagged, every later kind '1' item does nothing and shows nothing.
    std::string before = dat();
    EXPECT_EQ(update_messages_from_source("new.msg.txt #17").result, WorkResult::Skipped);
    EXPECT_EQ(sink.progress.size(), 1u);
    EXPECT_EQ(dat(), before);
}

// A table that cannot be written, or not even read, is a failure, never a skip: only the
// item's own check (the tag, the check text) may say the game does not need it.
TEST_F(MessageUpdates, TablesThatCannotBeWrittenOrReadFailTheItem) {
    install_tables(kOldSource);
    std::string old_dat = dat(), old_str = str();
    write_file(dir.file("new.msg.txt"), kNewSource);
    ASSERT_TRUE(make_read_only(dir.file("message.dat")));
    EXPECT_EQ(update_messages_from_source("new.msg.txt #17 Welcome").result, WorkResult::Failed);
    std::FILE* f = patch_stream("New text.\n#\nafter\n");
    EXPECT_EQ(update_one_message("17:Welcome:#17 0 0 0 0 40 1 0", f).result, WorkResult::Failed);
    EXPECT_EQ(next_line(f), "after\n");  // the message text is still consumed
    std::fclose(f);
    EXPECT_EQ(dat(), old_dat);
    EXPECT_EQ(str(), old_str);
    // Its own check still decides first: an item the game does not need is skipped.
    f = patch_stream("New text.\n#\n");
    EXPECT_EQ(update_one_message("17:Not there:#17 0 0 0 0 40 1 0", f).result, WorkResult::Skipped);
    std::fclose(f);
    plat::set_read_only(dir.file("message.dat").c_str(), false);

    // Held by another opener: the check cannot be made.
    plat::File held = plat::File::open(dir.file("message.str").c_str(), plat::Access::Read, plat::Disposition::OpenExisting);
    ASSERT_TRUE(held);
    EXPECT_EQ(update_messages_from_source("new.msg.txt #17 Welcome").result, WorkResult::Failed);
    f = patch_stream("New text.\n#\n");
    EXPECT_EQ(update_one_message("17:Welcome:#17 0 0 0 0 40 1 0", f).result, WorkResult::Failed);
    std::fclose(f);
    held.close();
    EXPECT_EQ(dat(), old_dat);
    EXPECT_EQ(str(), old_str);
}

TEST_F(MessageUpdates, KindOneChecksTheFirstStringOrTheFallback) {
    install_tables(kOldSource);
    write_file(dir.file("new.txt"), kNewSource);
    EXPECT_EQ(update_messages_from_source("new.txt #17 Welcome to Moscow").result, WorkResult::Skipped);
    EXPECT_EQ(update_messages_from_source("new.txt #17 welcome").result, WorkResult::Skipped);  // case counts
    EXPECT_TRUE(sink.progress.empty());
    EXPECT_EQ(update_messages_from_source("new.txt #25 Fallback").result, WorkResult::Applied);  // 25 is missing
}

TEST_F(MessageUpdates, KindOneWithoutCheckTextNeedsNoTables) {
    write_file(dir.file("new.txt"), kNewSource);
    EXPECT_EQ(update_messages_from_source("new.txt #5").result, WorkResult::Applied);
    EXPECT_EQ(message_strings(tables(), 18), (Strings{"Another."}));
}

TEST_F(MessageUpdates, KindOneRejectsMalformedLines) {
    install_tables(kOldSource);
    for (const char* line : {"", "new.txt", "new.txt #0 x", "new.txt #abc"}) {
        SCOPED_TRACE(line);
        EXPECT_EQ(update_messages_from_source(line).result, WorkResult::Failed);
    }
    EXPECT_TRUE(sink.progress.empty());
}

TEST_F(MessageUpdates, KindOneLeavesTablesAloneWhenTheSourceIsMissingOrTheCompileFails) {
    install_tables(kOldSource);
    std::string old_dat = dat(), old_str = str();
    EXPECT_EQ(update_messages_from_source("absent.txt #17").result, WorkResult::Failed);
    EXPECT_EQ(dat(), old_dat);

    write_file(dir.file("new.txt"), kNewSource);
    plat::fault_injection().fail_write_at = 2;  // the copy gets through, the compile does not
    EXPECT_EQ(update_messages_from_source("new.txt #17").result, WorkResult::Failed);
    plat::reset_fault_injection();
    EXPECT_EQ(dat(), old_dat);  // not rebuilt, and not tagged: a later run may still repair it
    EXPECT_EQ(str(), old_str);
    EXPECT_FALSE(plat::file_exists(dir.file("Message.txt").c_str()));

    plat::fault_injection().fail_write_at = 1;  // the copy itself fails
    EXPECT_EQ(update_messages_from_source("new.txt #17").result, WorkResult::Failed);
    plat::reset_fault_injection();
    EXPECT_EQ(dat(), old_dat);
    EXPECT_FALSE(plat::file_exists(dir.file("Message.txt").c_str()));

    EXPECT_EQ(update_messages_from_source("new.txt #17").result, WorkResult::Applied);
}

TEST_F(MessageUpdates, KindOneCopiesSourcesLargerThanTheTransferBuffer) {
    std::string source;
    for (int i = 1; i <= 300; ++i) source += "#" + std::to_string(i) + " 0 0 0 0 60 1 0\nText of message " + std::to_string(i) + ".\n";
    source += "#0\n";
    ASSERT_GT(source.size(), 10240u);
    write_file(dir.file("big.txt"), source);
    EXPECT_EQ(update_messages_from_source("big.txt #1").result, WorkResult::Applied);
    EXPECT_EQ(message_strings(tables(), 300), (Strings{"Text of message 300."}));
    EXPECT_GE(sink.keep_alives, 600) << "the copy and the compile let the window handle its messages";
}

TEST_F(MessageUpdates, KindTwoAppendsOneMessageAndRepointsItsRecord) {
    install_tables(kOldSource);
    std::size_t old_strings = str().size() / kStringRecordSize;
    std::FILE* f = patch_stream("Greetings, hero.\n#\n2 next work line\n");
    EXPECT_EQ(update_one_message("17:Dravo:#17 0 0 0 0 40 1 0", f).result, WorkResult::Applied);
    EXPECT_EQ(next_line(f), "2 next work line\n");
    std::fclose(f);
    MemoryTables t = tables();
    IndexRecord r = record_of(t.dat, 17);
    EXPECT_EQ(r.width, 40u);
    EXPECT_EQ(r.first_string, old_strings);
    EXPECT_EQ(r.string_count, 1);
    EXPECT_EQ(message_strings(t, 17), (Strings{"Greetings, hero."}));
    EXPECT_EQ(strings_of(t.str).size(), old_strings + 1);  // the old string stays, unreferenced
}

TEST_F(MessageUpdates, KindTwoAtTheEndOfTheFileAndWithMissingNumbers) {
    install_tables(kOldSource);
    std::FILE* f = patch_stream("#RUS\n  raw line  \nsecond");
    EXPECT_EQ(update_one_message("17::##30 1 2", f).result, WorkResult::Applied);
    EXPECT_EQ(next_line(f), "<end>");
    std::fclose(f);
    MemoryTables t = tables();
    IndexRecord r = record_of(t.dat, 30);
    EXPECT_TRUE(is_valid_record(r, 30));
    EXPECT_EQ(r.raw, 1);
    EXPECT_EQ(r.language, 0);
    EXPECT_EQ(r.width, 299u);  // missing, as -30000 taken unsigned
    EXPECT_EQ(r.end_point, -30000);
    EXPECT_EQ(message_strings(t, 30), (Strings{"  raw line  ", "second"}));
}

TEST_F(MessageUpdates, KindTwoThatIsSkippedStillConsumesItsText) {
    install_tables(kOldSource);
    std::string old_dat = dat(), old_str = str();
    struct Case {
        const char* text;
        WorkResult result;
    } cases[] = {
        {"17:Moscow:#17 0 0 0 0 40 1 0", WorkResult::Skipped},
        {"0:Dravo:#17 0 0 0 0 40 1 0", WorkResult::Skipped},
        {"17 Dravo #17 0 0 0 0 40 1 0", WorkResult::Failed},
        {"17:Dravo #17", WorkResult::Failed},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.text);
        std::FILE* f = patch_stream("2 looks like work\n1 so does this\n  # end\n0 real work\n");
        EXPECT_EQ(update_one_message(c.text, f).result, c.result);
        EXPECT_EQ(next_line(f), "0 real work\n");
        std::fclose(f);
        EXPECT_EQ(dat(), old_dat);
        EXPECT_EQ(str(), old_str);
    }
}

TEST_F(MessageUpdates, KindTwoFailsWhenTheTablesCannotBeWritten) {
    install_tables(kOldSource);
    std::string old_dat = dat();
    std::FILE* f = patch_stream("text\n#\n");
    plat::fault_injection().fail_write_at = 1;  // the new string
    EXPECT_EQ(update_one_message("17:Dravo:#17 0 0 0 0 40 1 0", f).result, WorkResult::Failed);
    plat::reset_fault_injection();
    EXPECT_EQ(next_line(f), "<end>");
    std::fclose(f);
    EXPECT_EQ(dat(), old_dat);  // the record still points at the old strings
}

}  // namespace
