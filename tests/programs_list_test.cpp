// The installs of a game folder in the system's list of programs: the entries' keys and
// values, and keeping a list (here one in memory) in step with the folder's journals.
#include <gtest/gtest.h>

#include <map>
#include <set>

#include "install/programs_list.h"
#include "journal/recovery.h"
#include "journal/transaction.h"
#include "platform/platform.h"
#include "tests/test_support.h"

using namespace testing_support;
using install::ProgramEntry;

namespace {

// A list of programs as the registry and %ProgramData% keep it, in memory.
class MemoryList final : public install::ProgramsList {
public:
    std::map<std::string, ProgramEntry> entries;
    std::set<std::string> kept;  // keys with a copy
    std::string copies_dir;
    bool fail_writes = false;

    std::vector<std::string> keys() override {
        std::vector<std::string> k;
        for (const auto& [key, e] : entries) k.push_back(key);
        return k;
    }
    bool read(const std::string& key, ProgramEntry* out) override {
        auto it = entries.find(key);
        if (it == entries.end()) return false;
        *out = it->second;
        return true;
    }
    Result write(const ProgramEntry& e) override {
        if (fail_writes) return Result::failed("Access is denied");
        entries[e.key] = e;
        return Result::applied();
    }
    Result remove(const std::string& key) override {
        entries.erase(key);
        return Result::applied();
    }
    std::vector<std::string> copies() override { return {kept.begin(), kept.end()}; }
    std::string copy_path(const std::string& key) override { return copies_dir + key + ".exe"; }
    Result keep_copy(const std::string& key) override {
        kept.insert(key);
        write_file(copy_path(key), "installer");
        return Result::applied();
    }
    Result drop_copy(const std::string& key) override {
        kept.erase(key);
        plat::delete_file(copy_path(key).c_str());
        return Result::applied();
    }
};

TEST(ProgramEntries, OneFolderHasOneKeyHoweverItIsSpelt) {
    const std::string key = install::entry_key("C:\\Games\\Dravo Game\\", 2);
    EXPECT_EQ(key, install::entry_key("c:\\games\\DRAVO GAME", 2));
    EXPECT_NE(install::entry_key_prefix("C:\\Games\\Dravo Game\\"), install::entry_key_prefix("C:\\Games\\Dravo\\"));
    // "DravoPatch-" and the first 8 hex digits of SHA-256("c:\games\dravo game").
    EXPECT_EQ(key, "DravoPatch-b26643d7-2");
    EXPECT_EQ(install::entry_number("C:\\Games\\Dravo Game\\", key), 2);
    EXPECT_EQ(install::entry_number("C:\\Games\\Dravo Game\\", "dravopatch-b26643d7-12"), 12);
    for (const char* other : {"DravoPatch-b26643d7-", "DravoPatch-b26643d7-02", "DravoPatch-b26643d7-2x",
                              "DravoPatch-ffffffff-2", "Other-b26643d7-2"})
        EXPECT_EQ(install::entry_number("C:\\Games\\Dravo Game\\", other), 0) << other;
}

TEST(ProgramEntries, TheUninstallCommandReadsBackAsTheSameFolder) {
    ProgramEntry e = install::program_entry("C:\\Games\\Dravo Game\\", 3, "C:\\ProgramData\\Dravo patch\\K\\DravoPatch.exe",
                                            0, 1025);
    EXPECT_EQ(e.display_name, "Dravo patch 3 (C:\\Games\\Dravo Game)");
    EXPECT_EQ(e.install_location, "C:\\Games\\Dravo Game");
    EXPECT_EQ(e.size_kib, 2u);  // rounded up
    EXPECT_EQ(e.install_date.size(), 8u);
    EXPECT_EQ(e.uninstall, "\"C:\\ProgramData\\Dravo patch\\K\\DravoPatch.exe\" /UNDO=3 /D=\"C:\\Games\\Dravo Game\"");
    EXPECT_EQ(e.quiet_uninstall, e.uninstall + " /S");
    // A root keeps its backslash, doubled so that it does not escape the closing quote.
    ProgramEntry root = install::program_entry("D:\\", 1, "x.exe", 0, 0);
    EXPECT_EQ(root.uninstall, "\"x.exe\" /UNDO=1 /D=\"D:\\\\\"");
    EXPECT_EQ(root.size_kib, 0u);
}

class ProgramsListTest : public testing_support::CoreTest {
protected:
    TempDir game;
    TempDir copies;
    MemoryList list;

    void SetUp() override {
        CoreTest::SetUp();
        list.copies_dir = copies.path();
        write_file(game.file("dravo.mul"), "old container");
    }
    // A committed install that changed dravo.mul.
    int install(const std::string& bytes) {
        journal::Transaction tx;
        EXPECT_FALSE(tx.begin(game.path()).failed());
        write_file(game.file("dravo.mul"), bytes);
        EXPECT_FALSE(tx.commit().failed());
        return tx.number();
    }
    std::string key(int n) { return install::entry_key(game.path(), n); }
};

TEST_F(ProgramsListTest, ARegisteredInstallIsListedAndItsJournalNamesTheKey) {
    int n = install("new container");
    Result r = install::register_install(list, game.path(), n);
    ASSERT_FALSE(r.failed()) << r.problem;
    ASSERT_EQ(list.entries.count(key(n)), 1u);
    EXPECT_EQ(list.entries[key(n)].uninstall.find("\"" + list.copy_path(key(n)) + "\" /UNDO=1 /D=\""), 0u);
    EXPECT_EQ(list.entries[key(n)].size_kib, 1u);  // the kept "old container"
    std::vector<journal::CommittedInstall> installs = journal::committed_installs(game.path());
    ASSERT_EQ(installs.size(), 1u);
    EXPECT_EQ(installs[0].entry, key(n));
    // Recorded once: a second time is no second line, another key is refused.
    EXPECT_FALSE(journal::record_entry(game.path(), n, key(n)).failed());
    EXPECT_TRUE(journal::record_entry(game.path(), n, key(7)).failed());
    EXPECT_FALSE(journal::undo_last_install(game.path()).result.failed());  // the journal still reads
}

TEST_F(ProgramsListTest, AListThatCannotBeWrittenLeavesNoCopyAndTheInstallStands) {
    int n = install("new container");
    list.fail_writes = true;
    Result r = install::register_install(list, game.path(), n);
    EXPECT_TRUE(r.failed());
    EXPECT_NE(r.problem.find("Access is denied"), std::string::npos);
    EXPECT_TRUE(list.kept.empty());
    EXPECT_EQ(read_file(game.file("dravo.mul")), "new container");
    EXPECT_EQ(journal::committed_installs(game.path()).size(), 1u);
}

TEST_F(ProgramsListTest, RepairPutsBackWhatIsMissingOrWrongAndRemovesWhatNoInstallHas) {
    int first = install("first");
    int second = install("second");
    ASSERT_FALSE(install::register_install(list, game.path(), first).failed());
    // Install 2's entry never made it; install 1's was edited and its copy deleted; a third
    // install was taken back where the list could not hear of it; another game's entry is there.
    list.entries[key(first)].display_name = "edited";
    list.drop_copy(key(first));
    list.write(install::program_entry(game.path(), 3, list.copy_path(key(3)), 0, 0));
    list.keep_copy(key(3));
    std::string other = install::entry_key("C:\\Other\\", 1);
    list.write(install::program_entry("C:\\Other\\", 1, "o.exe", 0, 0));
    list.keep_copy(other);

    std::vector<std::string> told = install::repair_entries(list, game.path());
    EXPECT_EQ(list.entries.size(), 3u);
    EXPECT_EQ(list.entries.count(key(3)), 0u);
    EXPECT_EQ(list.kept, (std::set<std::string>{key(first), key(second), other}));
    EXPECT_EQ(list.entries[key(first)].display_name.find("Dravo patch 1 ("), 0u);
    EXPECT_EQ(list.entries[key(second)].display_name.find("Dravo patch 2 ("), 0u);
    EXPECT_EQ(journal::committed_installs(game.path())[1].entry, key(second));
    EXPECT_FALSE(told.empty());
    // A list in step is left alone.
    EXPECT_TRUE(install::repair_entries(list, game.path()).empty());

    // The undo of install 2 takes its entry and copy; a tidy-up leaves the rest.
    ASSERT_FALSE(journal::undo_last_install(game.path()).result.failed());
    ASSERT_FALSE(install::unregister_install(list, game.path(), second).failed());
    EXPECT_EQ(list.entries.count(key(second)), 0u);
    EXPECT_EQ(list.kept.count(key(second)), 0u);
    EXPECT_TRUE(install::tidy_entries(list, game.path()).empty());
    EXPECT_EQ(list.entries.size(), 2u);
}

TEST_F(ProgramsListTest, AJournalWhoseLastLineIsCutShortIsNotExtended) {
    int n = install("new container");
    std::string path = journal::journal_path(game.path(), n);
    std::string text = read_file(path);
    write_file(path, text + "entry\tDravoPa");  // a crash while the key was written
    EXPECT_TRUE(journal::record_entry(game.path(), n, key(n)).failed());
    EXPECT_EQ(read_file(path), text + "entry\tDravoPa");
    EXPECT_EQ(journal::committed_installs(game.path()).size(), 1u);
}

}  // namespace
