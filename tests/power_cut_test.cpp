// Power cuts at every step of the commands that change a game: the command runs on a file
// system in memory that knows what is durable, a cut before each of its changes (and one after
// it ended) leaves every state the disk could hold then, and recovery on each of those states
// must end with the game all old or all new, nothing left over. Recovery itself is cut too, and
// recovered again.
//
// CI runs the commands whole and cuts recovery at a sample of the states; DRAVO_POWER_CUT=full
// (scripts/power-cut) cuts recovery at every state.
#include <gtest/gtest.h>

#include <cstdio>
#include <cstdlib>
#include <functional>
#include <set>

#include "config/config.h"
#include "install/table_compile.h"
#include "journal/recovery.h"
#include "platform/memory/memory_file_system.h"
#include "base/text.h"
#include "platform/platform.h"
#include "tests/small_game.h"
#include "tests/test_support.h"
#include "xfile/xfile.h"

using namespace testing_support;
using plat::memory::MemoryFileSystem;
using plat::memory::Tree;

namespace {

const std::string kGame = "m:\\game\\";

bool full_run() {
    const char* v = std::getenv("DRAVO_POWER_CUT");
    return v && std::string(v) == "full";
}

// Every distinct state a cut could leave while a command ran: before each of its changes, and
// after it ended.
struct Cuts {
    long points = 0;
    std::vector<Tree> states;
};

class PowerCut : public CoreTest {
protected:
    RecordingSink sink;  // the install's progress lines, kept off the terminal
    MemoryFileSystem fs;
    std::unique_ptr<plat::memory::UseMemoryFileSystem> use;

    void SetUp() override {
        CoreTest::SetUp();
        use = std::make_unique<plat::memory::UseMemoryFileSystem>(fs);
    }
    void TearDown() override {
        use.reset();
        CoreTest::TearDown();
    }

    static Tree under(const std::string& dir, const std::map<std::string, std::string>& files) {
        Tree tree;
        for (const auto& [name, content] : files) tree[dir + name] = content;
        return tree;
    }

    void fresh(const Tree& start) {
        fs.load(start);
        xfile::reset_xfile();
        config::reset_configuration();
        plat::reset_fault_injection();
    }

    Cuts cut_everywhere(const Tree& start, const std::function<void()>& command) {
        Cuts cuts;
        std::set<Tree> seen;
        auto take = [&] {
            ++cuts.points;
            for (Tree& t : fs.cut_states())
                if (seen.insert(t).second) cuts.states.push_back(std::move(t));
        };
        fresh(start);
        fs.before_change = take;
        command();
        fs.before_change = nullptr;
        take();
        xfile::reset_xfile();
        return cuts;
    }

    // The folder as the user would compare it: the log (a record of every run, recovery's
    // included) and an empty undo folder (left by a rolled-back first install) do not count.
    Tree settled(const std::string& dir) {
        Tree t = fs.tree_below(dir);
        t.erase("DravoPatch.log");
        auto undo = t.find("DravoPatch.undo");
        if (undo != t.end() && std::next(undo) == t.end()) t.erase(undo);
        else if (undo != t.end() && std::next(undo)->first.rfind("DravoPatch.undo\\", 0) != 0) t.erase(undo);
        return t;
    }

    static std::string names_differing(const Tree& a, const Tree& b) {
        std::string out;
        for (const auto& [name, content] : a)
            if (!b.count(name) || b.at(name) != content) out += " " + name;
        for (const auto& [name, content] : b)
            if (!a.count(name)) out += " +" + name;
        return out;
    }

    // Recovers `state` and checks that the folder is one of `whole`; true when it was.
    bool recovers_to(const Tree& state, const std::string& dir, const std::vector<Tree>& whole, const char* what) {
        fresh(state);
        journal::Recovery r = journal::recover_game(dir);
        xfile::reset_xfile();
        Tree after = settled(dir);
        if (!r.result.failed())
            for (const Tree& w : whole)
                if (after == w) return true;
        std::string differing;
        for (const Tree& w : whole) differing += "\n  differing from a whole state:" + names_differing(after, w);
        ADD_FAILURE() << what << ": recovery left neither the old nor the new folder (" << r.result.problem << ")"
                      << differing;
        return false;
    }

    // Recovers each state, and cuts recovery itself in a sample of them (in all of them on a
    // full run) and recovers again. Prints the numbers of states for the record.
    void check_states(const Cuts& cuts, const std::string& dir, const std::vector<Tree>& whole, const char* what) {
        long recovery_states = 0, failures = 0;
        std::size_t step = full_run() ? 1 : 7;
        for (std::size_t i = 0; i < cuts.states.size() && failures < 3; ++i) {
            if (!recovers_to(cuts.states[i], dir, whole, what)) {
                ++failures;
                continue;
            }
            if (i % step != 0) continue;
            Cuts again = cut_everywhere(cuts.states[i], [&] { journal::recover_game(dir); });
            for (std::size_t j = 0; j < again.states.size() && failures < 3; ++j) {
                ++recovery_states;
                if (!recovers_to(again.states[j], dir, whole, "a cut during recovery")) ++failures;
            }
        }
        std::printf("power cut: %s: %ld cut points, %zu distinct states, %ld more from cutting recovery: %s\n", what,
                    cuts.points, cuts.states.size(), recovery_states,
                    failures ? "NOT all whole after recovery" : "all whole after recovery");
        EXPECT_GT(cuts.states.size(), 3u) << what;
    }

    // The small game, laid out in memory, and the patch that does every kind of work on it.
    SmallPatch patch;
    const Tree start = under(kGame, small_game());
    Tree old_game;
    void lay_out_small_game() {
        fresh(start);
        old_game = settled(kGame);
    }

    static void compile_tables_of(const std::string& dir) {
        config::reset_configuration();
        ASSERT_TRUE(text::copy_if_fits(config::directories().hd, config::kDirectoryCapacity, dir.c_str()));
        ASSERT_TRUE(plat::change_directory(dir.c_str()));
        install::TableCompile done = install::compile_tables(dir, nullptr);
        EXPECT_EQ(done.outcome, install::TableCompile::Outcome::Compiled) << done.compile.problem << done.step.problem;
    }
};

TEST_F(PowerCut, AnInstallOfEveryKindOfWorkEndsAllOldOrAllNew) {
    ASSERT_TRUE(patch.stamped);
    lay_out_small_game();
    Cuts cuts = cut_everywhere(start, [&] {
        install::InstallResult r = patch.install_into(kGame);
        EXPECT_EQ(r.outcome, install::InstallOutcome::Completed) << r.text;
    });
    Tree new_game = settled(kGame);
    ASSERT_NE(new_game, old_game);
    check_states(cuts, kGame, {old_game, new_game}, "install");
}

TEST_F(PowerCut, AnInstallThatRollsBackEndsAllOld) {
    ASSERT_TRUE(patch.stamped);
    lay_out_small_game();
    // The latest rename whose failure rolls the install back, found by trying.
    long fail_at = 0;
    for (long n = 40; n > 0 && !fail_at; --n) {
        fresh(start);
        plat::fault_injection().fail_nth(plat::FaultOp::Replace, n);
        if (patch.install_into(kGame).outcome == install::InstallOutcome::Failed) fail_at = n;
    }
    ASSERT_GT(fail_at, 3);
    Cuts cuts = cut_everywhere(start, [&] {
        plat::fault_injection().fail_nth(plat::FaultOp::Replace, fail_at);
        EXPECT_EQ(patch.install_into(kGame).outcome, install::InstallOutcome::Failed);
    });
    EXPECT_EQ(settled(kGame), old_game);
    check_states(cuts, kGame, {old_game}, "install rolled back");
}

TEST_F(PowerCut, UnpatchEndsAllInstalledOrAllTakenBack) {
    ASSERT_TRUE(patch.stamped);
    lay_out_small_game();
    ASSERT_EQ(patch.install_into(kGame).outcome, install::InstallOutcome::Completed);
    xfile::reset_xfile();
    Tree installed = settled(kGame);
    Tree patched;
    for (auto& [name, content] : fs.tree_below(kGame)) patched[kGame + name] = content;
    Cuts cuts = cut_everywhere(patched, [&] {
        journal::Recovery undone = journal::undo_last_install(kGame);
        EXPECT_FALSE(undone.result.failed()) << undone.result.problem;
    });
    Tree taken_back = settled(kGame);
    for (const auto& [name, content] : old_game) EXPECT_EQ(taken_back[name], content) << name;
    check_states(cuts, kGame, {installed, taken_back}, "unpatch");
}

TEST_F(PowerCut, CompilingTheTablesChangesBothOrNeither) {
    const std::string dir = "m:\\translation\\";
    Tree start = under(dir, {{"message.txt", "#1 0 0 0 0 40 2 0\nWillkommen.\n#2 0 0 0 0 40 2 0\nGold ist knapp.\n#0\n"},
                             {"message.dat", compiled_table(kSmallGameMessages, true)},
                             {"message.str", compiled_table(kSmallGameMessages, false)}});
    fresh(start);
    Tree old_tables = settled(dir);
    Cuts cuts = cut_everywhere(start, [&] { compile_tables_of(dir); });
    Tree new_tables = settled(dir);
    ASSERT_NE(new_tables, old_tables);
    check_states(cuts, dir, {old_tables, new_tables}, "msg compile");
}

}  // namespace

namespace {

// What the model of the disk keeps: data once flushed, a name once its folder is flushed, and
// until then every prefix of the name changes with each file's data none, half or all written.
TEST_F(PowerCut, TheDiskKeepsWhatWasFlushedAndCutsTheRestEveryWay) {
    fs.load({{"m:\\d", std::nullopt}});
    auto states = [&] {
        std::set<Tree> below;
        for (const Tree& t : fs.cut_states()) {
            Tree d;
            for (const auto& [path, content] : t)
                if (path.rfind("m:\\d\\", 0) == 0) d[path.substr(5)] = content;
            below.insert(d);
        }
        return below;
    };
    plat::File a = plat::File::open("m:\\D\\a", plat::Access::Write, plat::Disposition::CreateNew);
    ASSERT_TRUE(a.is_open());
    std::uint32_t put = 0;
    ASSERT_TRUE(plat::write_file(a.get(), "on", 2, &put));
    ASSERT_TRUE(plat::write_file(a.get(), "e", 1, &put));
    EXPECT_EQ(states(), (std::set<Tree>{{}, {{"a", ""}}, {{"a", "on"}}, {{"a", "one"}}}));
    // Every open is exclusive, and names are matched without regard to case.
    EXPECT_FALSE(plat::File::open("m:\\d\\A", plat::Access::Read, plat::Disposition::OpenExisting).is_open());
    EXPECT_EQ(plat::last_error(), plat::Error::SharingViolation);
    ASSERT_TRUE(plat::flush_file(a.get()));
    a.close();
    ASSERT_TRUE(plat::flush_folder("m:\\d"));
    EXPECT_EQ(states(), (std::set<Tree>{{{"a", "one"}}}));
    // A create and a delete not yet flushed: before both, between them, after both, and the
    // delete without the create.
    ASSERT_TRUE(plat::File::open("m:\\d\\x", plat::Access::Write, plat::Disposition::CreateNew).is_open());
    ASSERT_TRUE(plat::delete_file("m:\\d\\A"));
    EXPECT_EQ(states(), (std::set<Tree>{{{"a", "one"}}, {{"a", "one"}, {"x", ""}}, {{"x", ""}}, {}}));
    ASSERT_TRUE(plat::move_file("m:\\d\\x", "m:\\d\\y"));
    EXPECT_EQ(states(), (std::set<Tree>{{{"y", ""}}}));
}

}  // namespace
