// The whole install with a failure injected at each step in turn (each open, read, write,
// flush, swap, delete and copy): the run never says it
// completed; every file that is rewritten whole (the container, the unpacked files) is
// afterwards either its old bytes or the bytes of a completed install, never cut short; the
// message tables, which the one-message update changes in place, stay consistent (every
// record's strings are there); and no scratch file is left.
#include <gtest/gtest.h>

#include <cstring>
#include <map>

#include "install/main_flow.h"
#include "install/patch_sources.h"
#include "messages/message_compiler.h"
#include "messages/message_tables.h"
#include "payload/stamp.h"
#include "platform/file_tree.h"
#include "platform/rules/winpath.h"
#include "tests/small_game.h"
#include <regex>

#include "journal/recovery.h"
#include "payload/digest_area.h"
#include "tests/test_support.h"

using namespace testing_support;
using namespace install;

namespace {

// The names whose contents differ between two trees, or that only one of them has.
std::vector<std::string> differences(const std::map<std::string, std::string>& a,
                                     const std::map<std::string, std::string>& b) {
    std::vector<std::string> names;
    for (const auto& [name, content] : a)
        if (!b.count(name) || b.at(name) != content) names.push_back(name);
    for (const auto& [name, content] : b)
        if (!a.count(name)) names.push_back(name);
    return names;
}

// Every record of the index whose strings are not all in the string table.
std::vector<int> records_without_strings(const std::string& dat, const std::string& str) {
    std::vector<int> broken;
    for (std::size_t at = 0; at + messages::kIndexRecordSize <= dat.size(); at += messages::kIndexRecordSize) {
        int number = static_cast<int>(at / messages::kIndexRecordSize);
        messages::IndexRecord r = messages::decode_index(
            std::span(reinterpret_cast<const std::uint8_t*>(dat.data()) + at, messages::kIndexRecordSize));
        if (!messages::is_valid_record(r, number)) continue;
        std::size_t end = (static_cast<std::size_t>(r.first_string) + r.string_count) * messages::kStringRecordSize;
        if (end > str.size()) broken.push_back(number);
    }
    return broken;
}

class WholeInstall : public CoreTest {
protected:
    TempDir game;
    RecordingSink sink;
    SmallPatch patch;
    // The game's files by name, as they are before the install.
    std::map<std::string, std::string> old_game = small_game();

    void SetUp() override {
        CoreTest::SetUp();
        ASSERT_TRUE(patch.stamped);
    }

    void lay_out_old_game() {
        for (const auto& [name, content] : old_game) write_file(game.file(name), content);
    }
    // Every file below the game folder by its relative name; a folder as "<dir>".
    std::map<std::string, std::string> game_files(const std::string& below = "") {
        std::map<std::string, std::string> files;
        for (const std::string& name : names_starting_with(game.path() + below, "")) {
            std::string path = game.path() + below + name;
            if (plat::is_directory(path.c_str())) {
                files[below + name] = "<dir>";
                files.merge(game_files(below + name + "\\"));
            } else {
                // Scratch names carry a counter that differs from run to run.
                files[below + name] = std::regex_replace(read_file(path), std::regex("~[0-9]+\\.[0-9]+"), "~N");
            }
        }
        return files;
    }
    InstallResult install() { return patch.install_into(game.path()); }
};

TEST_F(WholeInstall, AFailureAtAnyStepLeavesTheOldGameByteForByte) {
    lay_out_old_game();
    InstallResult clean = install();
    ASSERT_EQ(clean.outcome, InstallOutcome::Completed) << clean.text;
    std::map<std::string, std::string> new_game = game_files();
    // The log says which patch ran and what each item did.
    const std::string log = new_game["DravoPatch.log"];
    EXPECT_NE(log.find("patch: sha256 " + payload::recorded_digest(patch.digest_area) + "\n"), std::string::npos) << log;
    EXPECT_NE(log.find("applied: 0 newhero.bin hero\n"), std::string::npos) << log;
    EXPECT_NE(log.find("applied: 2 2:Gold:#2 0 0 0 0 40 2 0\n"), std::string::npos) << log;
    EXPECT_NE(log.find("outcome:\n  Dravo patch completed.\n"), std::string::npos) << log;
    new_game.erase("DravoPatch.log");  // a record of the runs, compared on its own
    // The kept old files and the journal of the install are part of the patched game.
    EXPECT_EQ(new_game.at("dravo.mul~undo1"), old_game.at("dravo.mul"));
    EXPECT_EQ(new_game.at("message.str~undo1"), old_game.at("message.str"));
    EXPECT_EQ(new_game.count("DravoPatch.stage"), 0u);
    std::map<std::string, std::string> old_files(old_game.begin(), old_game.end());
    old_files["DravoPatch.undo"] = "<dir>";  // made by the first install, empty after a roll-back

    InstallResult r;
    auto prepare = [&] {
        xfile::reset_xfile();
        plat::remove_tree(game.path() + "DravoPatch.undo");
        plat::remove_tree(game.path() + "DravoPatch.stage");
        for (const std::string& name : names_starting_with(game.path(), "")) plat::delete_file(game.file(name).c_str());
        lay_out_old_game();
        plat::create_directory((game.path() + "DravoPatch.undo").c_str());
    };
    auto action = [&] {
        r = install();
        xfile::reset_xfile();
        return r.outcome == InstallOutcome::Completed;
    };
    auto check = [&](const StepRun& run) {
        // Some failures are met by a retry (the file library tries opens and reads again);
        // a failure that was not overcome must never be reported as success.
        if (run.failure_met && !run.succeeded) {
            EXPECT_NE(r.outcome, InstallOutcome::Completed);
        }
        std::map<std::string, std::string> files = game_files();
        const std::string log = files["DravoPatch.log"];
        files.erase("DravoPatch.log");
        if (r.outcome != InstallOutcome::Completed) {
            if (r.outcome == InstallOutcome::Failed) {
                EXPECT_NE(log.find(r.text.substr(0, r.text.find('\n'))), std::string::npos) << log;
            }
            EXPECT_NE(r.outcome, InstallOutcome::NotWhole) << r.text;
            if (r.outcome == InstallOutcome::Failed) {
                EXPECT_NE(r.text.find("Nothing was changed"), std::string::npos) << r.text;
            }
            EXPECT_EQ(differences(files, old_files), std::vector<std::string>{})
                << "a failed install must leave the old game, and nothing else: " << r.text;
            return;
        }
        // Completed: a failure the file library met with a retry, or a check that read nothing
        // and skipped its item. Each game file is then whole, the old one or the new one.
        for (const auto& [name, content] : files) {
            SCOPED_TRACE(name);
            if (name.find("DravoPatch.undo") == 0 || name.find("~undo") != std::string::npos) continue;
            // A check whose read failed skips its item, so the tables may hold some items' work.
            if (name == "message.dat" || name == "message.str") continue;
            // The compile's source copy and its error file are deleted after the compile; a
            // failed delete leaves them, which is no failure of the install.
            if (run.op == plat::FaultOp::Delete && (plat::names_equal_ignoring_case(name, "message.txt") ||
                                                    plat::names_equal_ignoring_case(name, "message.err")))
                continue;
            auto was = old_files.find(name);
            auto will = new_game.find(name);
            bool is_old = was != old_files.end() && was->second == content;
            bool is_new = will != new_game.end() && will->second == content;
            EXPECT_TRUE(is_old || is_new) << "neither the old nor the new file";
        }
        EXPECT_EQ(records_without_strings(files["message.dat"], files["message.str"]), std::vector<int>{});
        if (!run.failure_met) {
            EXPECT_EQ(differences(files, new_game), std::vector<std::string>{})
                << "a completed install must leave the patched game";
        }
    };
    EXPECT_GT(fail_each_step(kEveryFaultOp, prepare, action, check), 10);
}

}  // namespace
