// The patch checker on patch folders without a game: where the readers' buffers cut a line,
// what the [path] reader did with each line, and which lines the runner never runs.
#include <gtest/gtest.h>

#include "authoring/patch_lint.h"
#include "config/config.h"
#include "config/file_table.h"
#include "tests/test_support.h"

using namespace testing_support;

namespace {

class PatchLintTest : public CoreTest {
protected:
    TempDir dir;
    std::vector<diag::Diagnostic> check(const std::string& ini, std::vector<std::string> extra = {}) {
        write_file(dir.file("patch.ini"), ini);
        write_file(dir.file("patch.dat"), "");
        std::vector<std::string> carried{"patch.ini", "patch.dat"};
        for (const std::string& name : extra) {
            write_file(dir.file(name), "data");
            carried.push_back(name);
        }
        return authoring::check_patch_files({dir.path(), carried, ""});
    }
    static std::string text(const std::vector<diag::Diagnostic>& found) {
        std::string all;
        for (const diag::Diagnostic& d : found) all += diag::format(d) + "\n";
        return all;
    }
};

// A [path] line: the name in columns 1 to 19, column 20 blank, the value from column 21.
std::string path_line(const std::string& name, const std::string& value) {
    std::string line = name;
    line.resize(20, ' ');
    return line + value + "\n";
}

std::string line_of(std::size_t length, const std::string& head) { return head + std::string(length - head.size(), 'x'); }

TEST_F(PatchLintTest, AWorkLineIsCutOnlyPastTheNinetyEighthCharacterWhateverItsLineEnd) {
    std::string fits = line_of(98, "1 new.txt #1 ");
    EXPECT_EQ(text(check("[work]\r\n" + fits + "\r\n", {"new.txt"})), "");
    EXPECT_EQ(text(check("[work]\n" + fits + "\n", {"new.txt"})), "");
    EXPECT_EQ(text(check("[work]\n" + fits, {"new.txt"})), "");  // no line end at all
    std::string cut = line_of(99, "1 new.txt #1 ");
    std::vector<diag::Diagnostic> found = check("[work]\r\n" + cut + "\r\n1 new.txt #1\r\n", {"new.txt"});
    ASSERT_EQ(found.size(), 1u) << text(found);
    EXPECT_EQ(found[0].line, 2);
    EXPECT_NE(found[0].text.find("longer than the 98 characters"), std::string::npos);
    // Blanks past the cut are read as a blank line, which the runner skips: no harm done.
    EXPECT_EQ(text(check("[work]\n" + fits + "   \n", {"new.txt"})), "");
}

TEST_F(PatchLintTest, APathLineIsCutPastTheSeventyNinthCharacter) {
    std::string fits = path_line("newhero", line_of(59, "hd:"));
    fits.pop_back();
    EXPECT_EQ(fits.size(), 79u);
    EXPECT_EQ(text(check("[path]\n" + fits + "\n[work]\n0 a.bin hero\n", {"a.bin"})), "");
    std::vector<diag::Diagnostic> found = check("[path]\n" + fits + "d\n[work]\n0 a.bin hero\n", {"a.bin"});
    ASSERT_EQ(found.size(), 1u) << text(found);
    EXPECT_EQ(diag::format(found[0]).substr(0, 27), "patch.ini:2: error: the [pa");
}

TEST_F(PatchLintTest, TheFirstDefinitionOfANameWinsAndLaterOnesAreReported) {
    std::vector<diag::Diagnostic> found =
        check("[path]\n" + path_line("newhero", "hd:") + "\n" + path_line("newhero", "hd:data\\") + "[work]\n0 a.bin b\n",
              {"a.bin"});
    ASSERT_EQ(found.size(), 1u) << text(found);
    EXPECT_EQ(found[0].line, 4);
    EXPECT_EQ(found[0].severity, diag::Severity::Warning);
    EXPECT_FALSE(diag::any_error(found));
}

TEST_F(PatchLintTest, MessageTextBehindAKindTwoLineIsNeverTakenForWork) {
    std::string ini = "[work]\n2 1::#1 0 0 0 0 40 2 0\n3 gold coins\n[path]\n#\n7 x\n";
    std::vector<diag::Diagnostic> found = check(ini);
    ASSERT_EQ(found.size(), 1u) << text(found);
    EXPECT_EQ(diag::format(found[0]).substr(0, 40), "patch.ini:6: error: unknown work kind '7");
}

TEST_F(PatchLintTest, DiagnosticsComeByFileAndLineAndTheFileAloneWhenNoLine) {
    std::vector<diag::Diagnostic> found = check("[work]\n9 late\n0 missing.bin hero\n", {".hidden"});
    ASSERT_EQ(found.size(), 3u) << text(found);
    EXPECT_EQ(diag::format(found[0]).substr(0, 16), ".hidden: error: ");
    EXPECT_EQ(found[1].line, 2);
    EXPECT_EQ(found[2].line, 3);
}

// The observer sees what the reader does, and the reader does the same with or without it.
TEST_F(PatchLintTest, ThePathObserverTellsEachLinesFateWhereItBegins) {
    write_file(dir.file("Dravo.ini"), "[path]\n" + path_line("hero", "hd:"));
    ASSERT_EQ(config::read_configuration(dir.file("Dravo.ini").c_str(), config::ConfigMode::Game), 1);
    std::vector<std::pair<long, config::PathLineFate>> seen;
    config::observe_path_lines([&seen](const config::PathLineSeen& s) { seen.emplace_back(s.offset, s.fate); });
    std::string ini = "[path]\n" + path_line("hero", "x") + "\n" + path_line("sword", "hd:") + path_line("shield", "hd:");
    write_file(dir.file("patch.ini"), ini);
    ASSERT_EQ(config::read_configuration(dir.file("patch.ini").c_str(), config::ConfigMode::Patch), 1);
    config::observe_path_lines({});
    using F = config::PathLineFate;
    std::vector<std::pair<long, config::PathLineFate>> expected{
        {7, F::Duplicate}, {29, F::Blank}, {30, F::Added}, {54, F::TableFull}};
    EXPECT_EQ(seen, expected);
    EXPECT_EQ(config::file_table().used, 2u);
}

// The installer runs with the system's rights and reads whatever a work line or a [path] line
// names: what can reach beyond the game is flagged for the author, what stays inside is not.
TEST_F(PatchLintTest, WarnsOfSourcesAndFoldersThatReachBeyondTheGame) {
    struct Case {
        std::string ini;
        const char* warning;  // null: no such warning
    } cases[] = {
        {"[work]\n0 c:\\secret hero\n", "names a drive"},
        {"[work]\n0 \\etc\\shadow hero\n", "is an absolute path"},
        {"[work]\n1 ..\\..\\x.txt #1\n", "climbs out with \"..\""},
        {"[work]\n0 a.bin hero\n", nullptr},
        {"[path]\n" + path_line("newhero", "hd:..\\..\\") + "[work]\n0 a.bin b\n", "climbs out with \"..\""},
        {"[path]\n" + path_line("newhero", "d:\\other\\") + "[work]\n0 a.bin b\n", "names a drive"},
        {"[path]\n" + path_line("newhero", "hd:data\\..x\\") + "[work]\n0 a.bin b\n", nullptr},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.ini);
        std::string found = text(check(c.ini, {"a.bin"}));
        if (c.warning) {
            EXPECT_NE(found.find(std::string(c.warning) + ": the installer, which runs with the system's rights"),
                      std::string::npos) << found;
        } else {
            EXPECT_EQ(found.find("system's rights"), std::string::npos) << found;
        }
    }
}

}  // namespace
