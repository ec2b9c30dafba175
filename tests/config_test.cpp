// The configuration reader: sections, the directory rule, the patch mode that restores the
// directories, and the lines that must end a path section rather than hang the reader.
#include <gtest/gtest.h>

#include <cstring>

#include "config/config.h"
#include "config/file_table.h"
#include "base/text.h"
#include "tests/test_support.h"

using namespace testing_support;

namespace {

TEST(TextRules, TrimRemovesBlanksTabsAndLineEndsAtBothEnds) {
    struct Case { const char* in; const char* out; } cases[] = {
        {"  a b \t\r\n", "a b"}, {"\t\t", ""}, {"", ""}, {"x", "x"}, {"\r\nkeep inner  \t", "keep inner"},
    };
    for (const Case& c : cases) {
        char buf[64];
        std::strcpy(buf, c.in);
        text::trim(buf);
        EXPECT_STREQ(buf, c.out) << "input: [" << c.in << "]";
    }
}

TEST(TextRules, DirectoryRuleLowerCasesAndAppendsABackslash) {
    struct Case { const char* in; const char* out; } cases[] = {
        {"C:\\Games\\Dravo", "c:\\games\\dravo\\"}, {"d:", "d:"}, {"e:\\x\\", "e:\\x\\"}, {"", ""},
    };
    for (const Case& c : cases) {
        char buf[64];
        std::strcpy(buf, c.in);
        EXPECT_EQ(text::make_directory(buf, 63), static_cast<int>(std::strlen(c.out)));
        EXPECT_STREQ(buf, c.out);
    }
    char full[4] = "abc";
    EXPECT_EQ(text::make_directory(full, 3), -1);  // no room for the backslash: unchanged
    EXPECT_STREQ(full, "abc");
}

class ConfigReader : public CoreTest {
protected:
    TempDir dir;
    int read(const std::string& text, config::ConfigMode mode = config::ConfigMode::Game) {
        write_file(dir.file("test.ini"), text);
        return config::read_configuration(dir.file("test.ini").c_str(), mode);
    }
    const config::Directories& dirs() { return config::directories(); }
};

TEST_F(ConfigReader, ReadsDirectoriesInAnyCaseAndAppliesTheDirectoryRule) {
    ASSERT_EQ(read("[DirCD]\nE:\\DRAVO\n\n[DIRHD]\n  C:\\Games\\Dravo  \n"), 1);
    EXPECT_STREQ(dirs().cd, "e:\\dravo\\");
    EXPECT_STREQ(dirs().hd, "c:\\games\\dravo\\");
    EXPECT_EQ(dirs().running_from_cd, 0);
}

TEST_F(ConfigReader, LastValueOfASectionWinsAndValuesBeforeAnySectionAreIgnored) {
    ASSERT_EQ(read("c:\\ignored\n[dirhd]\nc:\\first\nc:\\second\n"), 1);
    EXPECT_STREQ(dirs().hd, "c:\\second\\");
}

TEST_F(ConfigReader, WithoutACdSectionTheGameRunsFromCd) {
    ASSERT_EQ(read("[dirhd]\nc:\\game\n"), 1);
    EXPECT_STREQ(dirs().cd, "");
    EXPECT_EQ(dirs().running_from_cd, 1);
}

TEST_F(ConfigReader, HdDirectoryWithinTheCdDirectorySetsTheFlag) {
    ASSERT_EQ(read("[dircd]\nd:\\\n[dirhd]\nd:\\dravo\n"), 1);
    EXPECT_EQ(dirs().running_from_cd, 1);
}

TEST_F(ConfigReader, HdDefaultsToTheCurrentDirectory) {
    ASSERT_TRUE(plat::change_directory(dir.path().c_str()));
    ASSERT_EQ(read("[dircd]\nd:\\\n"), 1);
    std::string expected = plat::current_directory() + "\\";
    for (char& c : expected) c = static_cast<char>(std::tolower(static_cast<unsigned char>(c)));
    EXPECT_EQ(dirs().hd, expected);
}

TEST_F(ConfigReader, WorkSectionEndsTheReading) {
    ASSERT_EQ(read("[dirhd]\nc:\\a\n[work]\n[dirhd]\nc:\\b\n[path]\nx                   hd:\n"), 1);
    EXPECT_STREQ(dirs().hd, "c:\\a\\");
    EXPECT_EQ(config::file_table().capacity, 0u);
}

TEST_F(ConfigReader, PatchModeRestoresTheDirectoriesButKeepsItsPaths) {
    ASSERT_EQ(read("[dircd]\nd:\\\n[dirhd]\nc:\\game\n"), 1);
    ASSERT_EQ(read("[dircd]\nx:\\\n[dirhd]\nx:\\other\n[path]\nnew                 hd:data\\\n",
                   config::ConfigMode::Patch),
              1);
    EXPECT_STREQ(dirs().cd, "d:\\");
    EXPECT_STREQ(dirs().hd, "c:\\game\\");
    config::FileEntry* e = config::find_entry("new");
    ASSERT_NE(e, nullptr);
    EXPECT_STREQ(e->directory, "x:\\other\\data\\");  // the patch's HD while its file was read
}

TEST_F(ConfigReader, MissingFileGivesZeroAndStillClearsTheCdDirectory) {
    ASSERT_EQ(read("[dircd]\nd:\\\n"), 1);
    EXPECT_EQ(config::read_configuration(dir.file("absent.ini").c_str(), config::ConfigMode::Game), 0);
    EXPECT_STREQ(dirs().cd, "");
}

TEST_F(ConfigReader, UnknownSectionAfterPathEndsItInsteadOfHanging) {
    ASSERT_EQ(read("[path]\n"
                   "sounds              c:\\snd\\\n"
                   "[sound]\n"
                   "volume              c:\\never\\\n"
                   "[video]\n"
                   "mode=640\n"
                   "[dirhd]\n"
                   "c:\\game\n"),
              1);
    EXPECT_NE(config::find_entry("sounds"), nullptr);
    EXPECT_EQ(config::find_entry("volume"), nullptr);
    EXPECT_STREQ(dirs().hd, "c:\\game\\");
}

TEST_F(ConfigReader, PathLineWithABracketInsideEndsTheSectionInsteadOfHanging) {
    ASSERT_EQ(read("[path]\nfirst               c:\\a\\\nodd                 c:\\dir[1]\\\nlater               c:\\b\\\n"),
              1);
    EXPECT_NE(config::find_entry("first"), nullptr);
    EXPECT_EQ(config::find_entry("later"), nullptr);
}

TEST_F(ConfigReader, LongestLineFitsTheDirectoryWhole) {
    std::string value = "c:\\" + std::string(95, 'd');  // a 98-character line
    ASSERT_EQ(read("[dirhd]\n" + value + "\n"), 1);
    EXPECT_EQ(std::string(dirs().hd), value + "\\");
}

TEST_F(ConfigReader, OverlongLinesAreReadInPieces) {
    std::string value = "c:\\" + std::string(120, 'x');
    ASSERT_EQ(read("[dirhd]\n" + value + "\n"), 1);
    // The 98 characters of the first piece, then the rest as a line of its own, which wins.
    EXPECT_EQ(std::string(dirs().hd), std::string(25, 'x') + "\\");
}

}  // namespace
