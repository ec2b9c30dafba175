// The installer's shell: the work-list runner's reading rules, the progress line's slots, and
// the main flow's order and outcomes, with recording stand-ins for the handlers and the face.
#include <gtest/gtest.h>

#include <algorithm>
#include <cstring>

#include "config/config.h"
#include "config/file_table.h"
#include "platform/rules/winpath.h"
#include "install/main_flow.h"
#include "install/progress_line.h"
#include "install/work_list.h"
#include "tests/test_support.h"

using namespace testing_support;
using namespace install;

namespace {

struct Calls {
    std::vector<std::string> seen;
    WorkResult result = WorkResult::Applied;
    WorkHandlers handlers() {
        WorkHandlers h;
        h.by_kind[0] = [this](const char* a, std::FILE*) { return record("0", a); };
        h.by_kind[1] = [this](const char* a, std::FILE*) { return record("1", a); };
        h.by_kind[2] = [this](const char* a, std::FILE* f) {
            char next[100] = "";
            if (!std::fgets(next, sizeof next, f)) next[0] = 0;  // the message text is its own
            return record("2", std::string(a) + "|" + std::string(next).substr(0, std::strcspn(next, "\r\n")));
        };
        return h;
    }
    Result record(const std::string& kind, const std::string& arg) {
        seen.push_back(kind + ":" + arg);
        return {result, result == WorkResult::Failed ? "it broke" : ""};
    }
};

class WorkListTest : public CoreTest {
protected:
    TempDir dir;
    Calls calls;
    WorkListReport run(const std::string& text) {
        write_file(dir.file("patch.ini"), text);
        return run_work_list(dir.file("patch.ini").c_str(), calls.handlers());
    }
};

TEST_F(WorkListTest, OnlyLinesAfterTheWorkHeaderRunAndTheSectionNeverEnds) {
    WorkListReport r = run("0 before.bin hero\r\n[WORK]\r\n  0 New.bin  Hero \r\n[path]\r\n1 message.txt #5 x\r\n"
                           "9 ignored\r\n2 7:check:#7 0 0 0 0 40 1 0\r\nText of seven\r\n#\r\n0\r\n0xno-separator\r\n");
    EXPECT_TRUE(r.found);
    EXPECT_EQ(calls.seen, (std::vector<std::string>{"0:New.bin  Hero", "1:message.txt #5 x",
                                                    "2:7:check:#7 0 0 0 0 40 1 0|Text of seven", "0:",
                                                    "0:no-separator"}));
    EXPECT_EQ(r.items.size(), 5u);  // the "#" line went to the kind '2' handler, not the runner
}

TEST_F(WorkListTest, MissingFileRunsNothingAndOverlongLinesComeInPieces) {
    EXPECT_FALSE(run_work_list(dir.file("absent.ini").c_str(), calls.handlers()).found);
    std::string longline = "0 " + std::string(96, 'a') + "1 second piece";
    run("[work]\n" + longline + "\n");
    EXPECT_EQ(calls.seen, (std::vector<std::string>{"0:" + std::string(96, 'a'), "1:second piece"}));
}

TEST_F(WorkListTest, OutcomeNamesEveryFailedItemAndSkipsAreNoFailure) {
    calls.result = WorkResult::Skipped;
    WorkListReport skipped = run("[work]\n0 a b\n");
    EXPECT_FALSE(skipped.any_failed());
    EXPECT_EQ(skipped.outcome_text(), "Dravo patch completed.");
    calls.result = WorkResult::Failed;
    WorkListReport failed = run("[work]\n0 a b\n1 c #1\n");
    EXPECT_TRUE(failed.any_failed());
    EXPECT_EQ(failed.outcome_text(),
              "The Dravo patch did not complete. These work items failed:\n0 a b: it broke\n1 c #1: it broke");
}

TEST(ProgressLineTest, MarkedTextsReplaceTheNewestLineAndTheSixthScrolls) {
    ProgressLine p;
    ProgressLine::Change c = p.show("@first");
    EXPECT_EQ(p.count, 1);
    EXPECT_EQ(c.slot, 0);
    EXPECT_STREQ(p.slots[0].text, "first");
    EXPECT_EQ(p.slots[0].top, 40);
    p.show("@second");
    EXPECT_EQ(p.count, 1);
    EXPECT_STREQ(p.slots[0].text, "second");
    for (const char* t : {"b", "c", "d", "e"}) EXPECT_FALSE(p.show(t).scrolled);
    EXPECT_EQ(p.slots[4].top, 120);
    c = p.show("f");
    EXPECT_TRUE(c.scrolled);
    EXPECT_EQ(p.count, 5);
    const char* expected[] = {"b", "c", "d", "e", "f"};
    for (int i = 0; i < 5; ++i) {
        EXPECT_STREQ(p.slots[i].text, expected[i]);
        EXPECT_EQ(p.slots[i].top, 40 + 20 * i);  // slots keep their positions
    }
}

TEST(ProgressLineTest, LongTextsAreCutToTheSlotWithAnEllipsis) {
    ProgressLine p;
    std::string name(60, 'n');
    p.show(("@Change " + name + " message files ...").c_str());
    EXPECT_EQ(std::strlen(p.slots[0].text), 49u);
    EXPECT_EQ(std::string(p.slots[0].text).substr(0, 8), "Change n");
    EXPECT_EQ(std::string(p.slots[0].text).substr(46), "...");
    p.show(("@" + std::string(49, 'x')).c_str());
    EXPECT_EQ(std::string(p.slots[0].text), std::string(49, 'x'));  // exactly fits: unchanged
}

class RecordingFace : public InstallerFace {
public:
    std::vector<std::string> events;
    bool answer = true;
    void show_phase(Phase p) override { events.push_back("phase " + std::to_string(static_cast<int>(p))); }
    bool confirm() override {
        events.push_back("confirm");
        return answer;
    }
    void final_message(const std::string& text, const std::string& caption) override {
        events.push_back(caption + " " + text);
    }
    void notice(const std::string& text) override { events.push_back("notice " + text); }
};

class MainFlowTest : public CoreTest {
protected:
    TempDir game;
    TempDir start;
    RecordingFace face;
    Calls calls;
    InstallSources sources() {
        InstallSources s;
        s.locate_game = [this](std::string& dir) {
            dir = game.path() + "dravo.exe";
            return Result::applied();
        };
        s.handlers = calls.handlers();
        return s;
    }
    void make_game() {
        write_file(game.file("Dravo.ini"), "[path]\nhero                hd:\n");
        write_file(game.file("multigen.dat"), "");
    }
    void make_patch(const TempDir& where) { make_patch_in(where.path()); }
    void make_patch_in(const std::string& dir) {
        write_file(dir + "patch.ini", "[work]\n0 new.bin hero\n");
        write_file(dir + "patch.dat", "");
    }
};

TEST_F(MainFlowTest, TemplateInstallerReadsThePatchFromTheStartingDirectory) {
    make_game();
    make_patch(start);
    ASSERT_TRUE(plat::change_directory(start.path().c_str()));
    std::string before = plat::current_directory();
    InstallResult r = run_installation(face, sources());
    EXPECT_EQ(r.outcome, InstallOutcome::Completed);
    EXPECT_EQ(face.events, (std::vector<std::string>{"phase 1", "phase 0", "confirm", "phase 2", "phase 0",
                                                     "My congratulations! Dravo patch completed."}));
    EXPECT_EQ(calls.seen, std::vector<std::string>{"0:new.bin hero"});
    EXPECT_EQ(plat::current_directory(), before);
}

TEST_F(MainFlowTest, UnpackedPatchIsReadFromTheGameDirectory) {
    make_game();
    InstallSources s = sources();
    s.unpack = [this](const std::string& dir, std::string&) {
        EXPECT_EQ(dir, game.path() + "DravoPatch.stage\\");  // a stage beside the game
        make_patch_in(dir);
        return true;
    };
    s.carried_files = {"patch.ini", "patch.dat"};
    ASSERT_TRUE(plat::change_directory(start.path().c_str()));
    EXPECT_EQ(run_installation(face, s).outcome, InstallOutcome::Completed);
    EXPECT_EQ(calls.seen.size(), 1u);
    // Installed into the game folder, where the work ran; the stage is gone.
    EXPECT_TRUE(plat::file_exists(game.file("patch.ini").c_str()));
    EXPECT_FALSE(plat::file_exists((game.path() + "DravoPatch.stage").c_str()));
    EXPECT_TRUE(plat::names_equal_ignoring_case(plat::current_directory() + "\\", game.path()));
}

TEST_F(MainFlowTest, EachMissingFileIsNamedAndTheDirectoryRestored) {
    struct Case {
        const char* missing;
        bool unpacked;  // the patch's files come from a payload (else from the starting directory)
        InstallOutcome outcome;
        std::string text;  // the final message; "*" stands for the starting directory
    };
    const Case cases[] = {
        {"Dravo.ini", true, InstallOutcome::NotFound, "Dravo not found."},
        {"patch.ini", true, InstallOutcome::PatchDamaged,
         "The patch is damaged: it carries no patch.ini.\nDownload the patch again."},
        {"patch.ini", false, InstallOutcome::PatchDamaged, "The patch cannot be read: * is missing."},
        {"multigen.dat", true, InstallOutcome::GameIncomplete,
         "The game is incomplete: " + plat::display_path(game.path() + "multigen.dat") + " is missing."},
        {"patch.dat", true, InstallOutcome::PatchDamaged,
         "The patch is damaged: it carries no patch.dat.\nDownload the patch again."},
        {"patch.dat", false, InstallOutcome::PatchDamaged, "The patch cannot be read: * is missing."},
    };
    ASSERT_TRUE(plat::change_directory(start.path().c_str()));
    const std::string before = plat::current_directory();
    for (const Case& c : cases) {
        SCOPED_TRACE(std::string(c.missing) + (c.unpacked ? " unpacked" : " from the start directory"));
        const std::string missing = c.missing;
        const bool patch_file = missing == "patch.ini" || missing == "patch.dat";
        make_game();
        if (!patch_file) plat::delete_file(game.file(missing).c_str());
        InstallSources s = sources();
        if (c.unpacked) {
            s.unpack = [&](const std::string& dir, std::string&) {
                make_patch_in(dir);
                if (patch_file) plat::delete_file((dir + missing).c_str());
                return true;
            };
            s.carried_files = {"patch.ini", "patch.dat", "new.bin"};
            std::erase(s.carried_files, missing);
        } else {
            make_patch(start);
            if (patch_file) plat::delete_file(start.file(missing).c_str());
        }
        face.events.clear();
        InstallResult r = run_installation(face, s);
        std::string text = c.text;
        if (text.find('*') != std::string::npos) text.replace(text.find('*'), 1, plat::display_path(start.path() + missing));
        EXPECT_EQ(r.outcome, c.outcome);
        EXPECT_TRUE(plat::names_equal_ignoring_case(r.text, text)) << r.text;
        EXPECT_EQ(face.events.back().rfind(c.outcome == InstallOutcome::NotFound ? kNotFoundCaption : kFailedCaption, 0), 0u);
        EXPECT_TRUE(calls.seen.empty());
        EXPECT_EQ(std::count(face.events.begin(), face.events.end(), "confirm"), 0);
        // Restored as the runtime forms it, with the drive letter in lower case.
        EXPECT_TRUE(plat::names_equal_ignoring_case(plat::current_directory(), before));
        for (const char* f : {"Dravo.ini", "multigen.dat", "patch.ini", "patch.dat"}) {
            plat::delete_file(game.file(f).c_str());
            plat::delete_file(start.file(f).c_str());
        }
    }

    face.events.clear();
    InstallSources nowhere = sources();
    nowhere.locate_game = [](std::string& dir) {
        dir = "dravo.exe";  // no backslash: not a place
        return Result::applied();
    };
    EXPECT_EQ(run_installation(face, nowhere).outcome, InstallOutcome::NotFound);
    EXPECT_EQ(face.events.back(), "Patch search error. Dravo not found.");
}

TEST_F(MainFlowTest, APatchThatGivesNothingToDoIsDamagedNotCompleted) {
    struct Case {
        std::string ini;
        std::vector<std::string> carried;
        std::string text;  // empty: the patch is sound
    };
    const std::string no_section = "The patch is damaged: patch.ini has no [work] section.\nDownload the patch again.";
    const std::string no_work = "The patch is damaged: patch.ini lists no work item, and the patch carries no file "
                                "to install besides patch.ini and patch.dat.\nDownload the patch again.";
    const Case cases[] = {
        {std::string("\x7f\x01garbage\xff\r\n0 not an item before the section\r\n"), {"new.bin"}, no_section},
        {"[path]\nnew                 hd:\n", {"new.bin"}, no_section},
        {"[work]\r\n\r\n9 not a kind\r\n", {"patch.ini", "patch.dat"}, no_work},
        {"[work]\n", {"PATCH.INI", "Patch.Dat"}, no_work},           // names compare as Windows does
        {"[work]\n", {"patch.ini", "patch.dat", "new.exe"}, ""},      // a patch that only carries files
        {"[WORK]\n 2 7:x:#7 0 0 0 0 40 1 0\n", {"patch.ini"}, ""},  // a work item, nothing else carried
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.ini);
        make_game();
        InstallSources s = sources();
        s.unpack = [&](const std::string& dir, std::string&) {
            write_file(dir + "patch.ini", c.ini);
            write_file(dir + "patch.dat", "");
            for (const std::string& f : c.carried)
                if (!plat::file_exists((dir + f).c_str())) write_file(dir + f, "carried");
            return true;
        };
        s.carried_files = c.carried;
        face.events.clear();
        InstallResult r = run_installation(face, s);
        if (c.text.empty()) {
            EXPECT_EQ(r.outcome, InstallOutcome::Completed);
        } else {
            EXPECT_EQ(r.outcome, InstallOutcome::PatchDamaged);
            EXPECT_EQ(r.text, c.text);
            EXPECT_EQ(face.events.back(), std::string(kFailedCaption) + " " + c.text);
        }
    }
    EXPECT_EQ(calls.seen, std::vector<std::string>{"2:7:x:#7 0 0 0 0 40 1 0|"});
}

TEST_F(MainFlowTest, FailedUnpackNamesTheFileAndRunsNoWork) {
    make_game();
    make_patch(game);
    InstallSources s = sources();
    s.unpack = [](const std::string&, std::string& problem) {
        problem = "cannot write c:\\game\\patch.mul";
        return false;
    };
    InstallResult r = run_installation(face, s);
    EXPECT_EQ(r.outcome, InstallOutcome::UnpackFailed);
    EXPECT_NE(r.text.find("cannot write c:\\game\\patch.mul"), std::string::npos);
    EXPECT_TRUE(calls.seen.empty());
    EXPECT_EQ(std::count(face.events.begin(), face.events.end(), "confirm"), 0);
}

TEST_F(MainFlowTest, CancelRunsNoWorkAndAFailedItemIsNotReportedAsSuccess) {
    make_game();
    make_patch(start);
    ASSERT_TRUE(plat::change_directory(start.path().c_str()));
    face.answer = false;
    EXPECT_EQ(run_installation(face, sources()).outcome, InstallOutcome::Cancelled);
    EXPECT_TRUE(calls.seen.empty());

    face.answer = true;
    face.events.clear();
    calls.result = WorkResult::Failed;
    InstallResult r = run_installation(face, sources());
    EXPECT_EQ(r.outcome, InstallOutcome::Failed);
    EXPECT_EQ(face.events.back(), std::string("Patch install error. ") + r.text);
    EXPECT_EQ(r.text.find("Dravo patch completed."), std::string::npos);
    EXPECT_NE(r.text.find("Nothing was changed"), std::string::npos);
    EXPECT_EQ(installer_exit_status(r.outcome), 1);
    EXPECT_EQ(installer_exit_status(InstallOutcome::Cancelled), 3);
}

}  // namespace

namespace install {
namespace {

// A failed work item whose file was refused gains one line of advice by the cause: a file
// another program holds, a read-only file; a failure of another cause gains none.
TEST(WorkAdviceTest, AFailureEndsWithTheAdviceOfItsFirstRefusedFile) {
    TempDir dir;
    write_file(dir.file("dravo.mul"), "held");
    write_file(dir.file("message.dat"), "read-only");
    ASSERT_TRUE(make_read_only(dir.file("message.dat")));
    plat::File held = plat::File::open(dir.file("dravo.mul").c_str(), plat::Access::Read, plat::Disposition::OpenExisting);
    ASSERT_TRUE(held);
    WorkHandlers handlers;
    handlers.by_kind[0] = [&](const char* name, std::FILE*) {
        plat::File f = plat::File::open(dir.file(name).c_str(), plat::Access::ReadWrite, plat::Disposition::OpenExisting);
        return f ? Result::applied() : Result::failed("cannot open it");
    };
    struct Case {
        std::string items;
        std::string advice;  // the last line; empty: the last line is the failure itself
    };
    const std::string mul = plat::display_path(dir.file("dravo.mul"));
    const std::string dat = plat::display_path(dir.file("message.dat"));
    const Case cases[] = {
        {"0 dravo.mul\n0 message.dat\n", "Close the game and any program using " + mul + ", then run the patch again."},
        {"0 message.dat\n0 dravo.mul\n", "Make " + dat + " writable, then run the patch again."},
        {"0 missing.bin\n", ""},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.items);
        write_file(dir.file("patch.ini"), "[work]\n" + c.items);
        std::string text = run_work_list(dir.file("patch.ini").c_str(), handlers).outcome_text();
        std::string last = text.substr(text.rfind('\n') + 1);
        EXPECT_EQ(last, c.advice.empty() ? std::string("0 missing.bin: cannot open it") : c.advice);
        EXPECT_EQ(text.find(kDidNotCompleteText), 0u);
    }
}

}  // namespace
}  // namespace install
