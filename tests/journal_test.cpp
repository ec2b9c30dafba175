// The install's journal: its lines, the transaction that writes it ahead of every change, the
// roll-back and the recovery from it.
#include <gtest/gtest.h>

#include "journal/journal_file.h"
#include "journal/recovery.h"
#include "journal/transaction.h"
#include "platform/rewrite/output_file.h"
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
    EXPECT_EQ(journal::record_line(j.records[0]), "keep\tc:\\game\\dravo.mul\tc:\\game\\dravo.mul~undo3\n");
    EXPECT_EQ(journal::journal_header(3), "dravo journal 1\ninstall 3\n");

    const std::string digest(64, 'a');
    ASSERT_FALSE(journal::parse_journal("dravo journal 1\ninstall 3\nwrote\tc:\\game\\a\t" + digest + "\ncommit\nundo\n",
                                        &j).failed());
    EXPECT_TRUE(j.committed && j.undoing);
    ASSERT_EQ(j.records.size(), 1u);
    EXPECT_EQ(j.records[0].kind, journal::Record::Kind::Wrote);
    EXPECT_EQ(j.records[0].kept, digest);
}

TEST(JournalFile, RefusesWhatTheInstallNeverWrites) {
    const char* bad[] = {
        "",
        "dravo journal 2\ninstall 1\n",
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
