// The install's journal: its lines, the transaction that writes it ahead of every change, the
// roll-back and the recovery from it.
#include <gtest/gtest.h>

#include <cstring>

#include "config/config.h"
#include "journal/journal_file.h"
#include "journal/recovery.h"
#include "journal/transaction.h"
#include "platform/rewrite/output_file.h"
#include "messages/message_compiler.h"
#include "platform/platform.h"
#include "tests/test_support.h"

using namespace testing_support;

namespace {

TEST(JournalFile, ReadsEachRecordAndTakesACutLastLineAsNotWritten) {
    // Written out by hand: the reader must agree with the bytes, not only with the writer.
    const std::string text =
        "dravo journal 1\ninstall 3\n"
        "keep\tc:\\game\\dravo.mul\tc:\\game\\dravo.mul~undo3\n"
        "create\tc:\\game\\new.bin\n"
        "keep\tc:\\game\\message.dat\tc:\\game\\message.dat~undo3.2\n"
        "create\tc:\\game\\cut";  // the crash came while this line was written
    journal::JournalFile j;
    Result parsed = journal::parse_journal(text, &j);
    ASSERT_FALSE(parsed.failed()) << parsed.problem;
    EXPECT_EQ(j.number, 3);
    ASSERT_EQ(j.records.size(), 3u);
    EXPECT_EQ(j.records[0].kind, journal::Record::Kind::Keep);
    EXPECT_EQ(j.records[0].kept, "c:\\game\\dravo.mul~undo3");
    EXPECT_EQ(j.records[1].kind, journal::Record::Kind::Create);
    EXPECT_EQ(j.records[2].kept, "c:\\game\\message.dat~undo3.2");
    EXPECT_FALSE(j.committed);
    EXPECT_EQ(j.version, 1);
    EXPECT_EQ(j.records[0].size, -1) << "an older journal records no size";
    EXPECT_EQ(journal::journal_text(j), text.substr(0, text.rfind('\n') + 1)) << "written back in its own version";

    const std::string digest(64, 'a');
    ASSERT_FALSE(journal::parse_journal("dravo journal 1\ninstall 3\nwrote\tc:\\game\\a\t" + digest + "\ncommit\nundo\n",
                                        &j).failed());
    EXPECT_TRUE(j.committed && j.undoing);
    ASSERT_EQ(j.records.size(), 1u);
    EXPECT_EQ(j.records[0].kind, journal::Record::Kind::Wrote);
    EXPECT_EQ(j.records[0].digest, digest);
}

// Version 2 records each kept version's size and digest, each written file's size, the patch
// before any change and the uninstall entry after the commit; "tables" is no install.
TEST(JournalFile, ReadsTheSecondVersion) {
    const std::string a(64, 'a'), b(64, 'b'), p(64, 'c');
    const std::string text = "dravo journal 2\ninstall 4\npatch\t" + p +
                             "\nkeep\tc:\\g\\x.mul\tc:\\g\\x.mul~undo4\t1048576\t" + a +
                             "\nwrote\tc:\\g\\x.mul\t" + b + "\t1049600\ncommit\nentry\tDravoPatch-0123abcd-4\nundo\n";
    journal::JournalFile j;
    Result parsed = journal::parse_journal(text, &j);
    ASSERT_FALSE(parsed.failed()) << parsed.problem;
    EXPECT_EQ(j.patch, p);
    EXPECT_EQ(j.entry, "DravoPatch-0123abcd-4");
    ASSERT_EQ(j.records.size(), 2u);
    EXPECT_EQ(j.records[0].size, 1048576);
    EXPECT_EQ(j.records[0].digest, a);
    EXPECT_EQ(j.records[1].size, 1049600);
    EXPECT_EQ(journal::journal_text(j), text);
    EXPECT_EQ(journal::journal_header(4) + journal::patch_line(p) + journal::record_line(j.records[0]),
              text.substr(0, text.find("wrote")));

    ASSERT_FALSE(journal::parse_journal(journal::tables_journal_header() + "keep\tc:\\t\\message.str\tc:\\t\\message.str~undo0\t5\t" + a + "\n", &j).failed());
    EXPECT_TRUE(j.tables);
    EXPECT_EQ(j.number, 0);
}

TEST(JournalFile, RefusesWhatTheInstallNeverWrites) {
    const char* bad[] = {
        "",
        "dravo journal 3\ninstall 1\n",
        "dravo journal 1\ntables\n",  // the tables' transaction came with the second version
        "dravo journal 2\ninstall 1\nkeep\tc:\\game\\a\tc:\\game\\a~undo1\n",  // no size, no digest
        "dravo journal 2\ninstall 1\ncreate\tc:\\game\\a\npatch\taaaaaaaaaaaaaaaaaaaaaaaaaaaaaaaaaaaaaaaaaaaaaaaaaaaaaaaaaaaaaaaa\n",
        "dravo journal 2\ninstall 1\nentry\tDravoPatch-1\n",  // an entry before the commit
        "dravo journal 2\ninstall 1\nwrote\tc:\\game\\a\taaaaaaaaaaaaaaaaaaaaaaaaaaaaaaaaaaaaaaaaaaaaaaaaaaaaaaaaaaaaaaaa\t-1\n",
        "dravo journal 1\ninstall 0\n",
        "dravo journal 1\ninstall 1\nremove\tc:\\game\\x\n",
        "dravo journal 1\ninstall 1\ncreate\tgame\\relative.bin\n",  // every path is absolute
        "dravo journal 1\ninstall 1\nkeep\tc:\\game\\a\tc:\\windows\\a\n",  // kept elsewhere than beside it
        "dravo journal 1\ninstall 1\nkeep\tc:\\game\\a\tc:\\game\\a~undo2\n",  // another install's name
        "dravo journal 1\ninstall 1\ncommit\ncreate\tc:\\game\\a\n",  // a change after the commit
        "dravo journal 1\ninstall 1\nundo\n",                          // an undo of what was never committed
        "dravo journal 1\ninstall 1\nwrote\tc:\\game\\a\tABCD\n",        // a digest that is not one
    };
    for (const char* text : bad) {
        journal::JournalFile j;
        Result parsed = journal::parse_journal(text, &j);
        EXPECT_TRUE(parsed.failed()) << text;
        EXPECT_FALSE(parsed.problem.empty());
    }
}

class TransactionTest : public CoreTest {
protected:
    TempDir game;
    void SetUp() override {
        CoreTest::SetUp();
        write_file(game.file("dravo.mul"), "old container");
        write_file(game.file("message.dat"), "old index");
        write_file(game.file("message.txt"), "the game's own source");
    }
    // Every change kind the install makes: a swap over a file, an update in place, a new
    // file, and the delete of a game file.
    void change_everything() {
        plat::OutputFile out;
        ASSERT_TRUE(out.create(game.file("dravo.mul")));
        ASSERT_TRUE(out.write("new container", 13));
        ASSERT_TRUE(out.keep());
        plat::File dat = plat::File::open(game.file("message.dat").c_str(), plat::Access::ReadWrite,
                                          plat::Disposition::OpenExisting);
        ASSERT_TRUE(dat);
        std::uint32_t put = 0;
        ASSERT_TRUE(plat::write_file(dat.get(), "02", 2, &put));
        dat.close();
        write_file(game.file("added.bin"), "added");
        ASSERT_TRUE(plat::delete_file(game.file("message.txt").c_str()));
    }
    std::map<std::string, std::string> files() {
        std::map<std::string, std::string> out;
        for (const std::string& name : names_starting_with(game.path(), ""))
            if (!plat::is_directory(game.file(name).c_str())) out[name] = read_file(game.file(name));
        return out;
    }
};

TEST_F(TransactionTest, ARollBackGivesBackEveryFileAsItWas) {
    const auto before = files();
    journal::Transaction tx;
    ASSERT_FALSE(tx.begin(game.path()).failed());
    change_everything();
    EXPECT_EQ(read_file(game.file("message.dat")), "02d index");  // updated in place, on a copy
    EXPECT_EQ(read_file(game.file("message.dat~undo1")), "old index");
    EXPECT_FALSE(tx.roll_back().failed());
    EXPECT_EQ(files(), before);
    EXPECT_FALSE(plat::file_exists(journal::journal_path(game.path(), 1).c_str()));
}

TEST_F(TransactionTest, ACommitKeepsTheOldFilesBesideTheNewAndARepeatedRestoreIsHarmless) {
    const auto before = files();
    journal::Transaction tx;
    ASSERT_FALSE(tx.begin(game.path()).failed());
    change_everything();
    // A second change of a changed file keeps nothing more: the first old version is the one.
    write_file(game.file("dravo.mul"), "newer container");
    ASSERT_FALSE(tx.commit().failed());
    auto after = files();
    EXPECT_EQ(after["dravo.mul"], "newer container");
    EXPECT_EQ(after["dravo.mul~undo1"], "old container");
    EXPECT_EQ(after["message.txt~undo1"], "the game's own source");
    EXPECT_EQ(after.count("message.txt"), 0u);
    EXPECT_EQ(after.count("dravo.mul~undo1.2"), 0u);

    journal::JournalFile j;
    Result parsed = journal::parse_journal(read_file(journal::journal_path(game.path(), 1)), &j);
    ASSERT_FALSE(parsed.failed()) << parsed.problem;
    EXPECT_TRUE(j.committed);
    // Taking the install back, twice over as after a crash in the middle, gives the old game.
    EXPECT_FALSE(journal::restore_records(j.records).failed());
    EXPECT_FALSE(journal::restore_records(j.records).failed());
    EXPECT_EQ(files(), before);
}

TEST_F(TransactionTest, RecoveryRollsBackAnInstallThatWasNotCommittedAndLeavesACommittedOne) {
    const auto before = files();
    {
        journal::Transaction tx;
        ASSERT_FALSE(tx.begin(game.path()).failed());
        change_everything();
        // The process dies here: nothing rolls back, the journal stays as written.
        tx.abandon();
    }
    ASSERT_TRUE(plat::create_directory(journal::stage_folder(game.path()).c_str()));
    write_file(journal::stage_folder(game.path()) + "patch.ini", "[work]\n");
    journal::Recovery r = journal::recover_game(game.path());
    EXPECT_FALSE(r.result.failed()) << r.result.problem;
    EXPECT_NE(r.told.find("undone"), std::string::npos) << r.told;
    EXPECT_EQ(files(), before);
    EXPECT_FALSE(plat::file_exists(journal::stage_folder(game.path()).c_str()));

    journal::Transaction tx;
    ASSERT_FALSE(tx.begin(game.path()).failed());
    EXPECT_EQ(tx.number(), 1);
    change_everything();
    ASSERT_FALSE(tx.commit().failed());
    const auto patched = files();
    r = journal::recover_game(game.path());
    EXPECT_FALSE(r.result.failed());
    EXPECT_EQ(r.told, "");
    EXPECT_EQ(files(), patched);
}

// A command that rewrites both message tables runs in a transaction of its own: whichever step
// fails, once the command (and, where even its roll-back failed, a recovery) is done, both
// tables are the old ones or both the new ones, and no journal, kept table or scratch file is
// left behind.
TEST_F(TransactionTest, BothTablesChangeTogetherWhicheverStepFails) {
    ASSERT_TRUE(plat::change_directory(game.path().c_str()));
    std::strcpy(config::directories().hd, game.path().c_str());
    write_file(game.file("message.txt"), "#1 0 0 0 0 40 1 0\none\n#300 0 0 0 0 40 1 0\ntwo\n#0\n");
    ASSERT_FALSE(messages::compile_messages().failed());
    const std::string new_dat = read_file(game.file("message.dat")), new_str = read_file(game.file("message.str"));
    auto rewrite_tables = [&] {
        journal::Transaction tables;
        if (tables.begin_tables(game.path()).failed()) return false;
        if (messages::compile_messages().failed()) {
            tables.roll_back();
            return false;
        }
        return !tables.commit_and_forget().failed();
    };
    int failures = fail_each_step(
        kEveryFaultOp,
        [&] {
            write_file(game.file("message.dat"), "old index");
            write_file(game.file("message.str"), "old strings");
        },
        rewrite_tables,
        [&](const StepRun& run) {
            journal::Recovery r = journal::recover_game(game.path());
            ASSERT_FALSE(r.result.failed()) << r.result.problem;
            std::string dat = read_file(game.file("message.dat")), str = read_file(game.file("message.str"));
            bool old_pair = dat == "old index" && str == "old strings", new_pair = dat == new_dat && str == new_str;
            EXPECT_TRUE(old_pair || new_pair) << "the tables are mixed";
            if (run.succeeded) {
                EXPECT_TRUE(new_pair);
            }
            EXPECT_EQ(names_starting_with(game.path(), "message.dat~"), std::vector<std::string>{});
            EXPECT_EQ(names_starting_with(game.path(), "message.str~"), std::vector<std::string>{});
            EXPECT_FALSE(plat::file_exists(journal::undo_folder(game.path()).c_str()));
        });
    EXPECT_GE(failures, 8);
}

TEST_F(TransactionTest, AFileThatCannotBeKeptRefusesItsChange) {
    journal::Transaction tx;
    ASSERT_FALSE(tx.begin(game.path()).failed());
    // The journal's write fails: the change must not happen, since nothing would undo it.
    plat::fault_injection().fail_nth(plat::FaultOp::Write, 1);
    EXPECT_FALSE(plat::delete_file(game.file("message.txt").c_str()));
    plat::reset_fault_injection();
    EXPECT_EQ(read_file(game.file("message.txt")), "the game's own source");
    EXPECT_FALSE(tx.roll_back().failed());
}

}  // namespace
