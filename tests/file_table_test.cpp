// The file table built from [path] sections and the logical-name resolver.
#include <gtest/gtest.h>

#include <cstring>

#include "config/config.h"
#include "config/file_table.h"
#include "xfile/records.h"
#include "tests/test_support.h"

using namespace testing_support;

namespace {

// A [path] line: the name in columns 1 to 19, column 20 blank, the value from column 21.
std::string path_line(const std::string& name, const std::string& value) {
    std::string line = name;
    line.resize(20, ' ');
    return line + value + "\n";
}

class FileTableTest : public CoreTest {
protected:
    TempDir dir;
    void read_game(const std::string& text) {
        write_file(dir.file("Dravo.ini"), text);
        ASSERT_EQ(config::read_configuration(dir.file("Dravo.ini").c_str(), config::ConfigMode::Game), 1);
    }
    void read_patch(const std::string& text) {
        write_file(dir.file("patch.ini"), text);
        ASSERT_EQ(config::read_configuration(dir.file("patch.ini").c_str(), config::ConfigMode::Patch), 1);
    }
    void set_container(const char* name, const char* container, std::uint8_t cd_flag = 0) {
        xfile::TableRecord r{};
        std::strcpy(r.name, name);
        std::strcpy(r.container, container);
        r.cd_flag = cd_flag;
        ASSERT_TRUE(xfile::apply_record(r));
    }
    std::pair<int, std::string> resolve(const char* name) {
        char buf[300];
        std::strcpy(buf, name);
        int kind = config::resolve_logical_name(buf);
        return {kind, config::file_table().result};
    }
};

TEST_F(FileTableTest, GameSectionOfNLinesGivesNPlusOneEntriesForThePatchToFill) {
    read_game("[dirhd]\n" + dir.path() + "\n[path]\n" + path_line("a", "hd:") + path_line("b", "hd:") + "\n" +
              path_line("c", "hd:"));
    EXPECT_EQ(config::file_table().capacity, 5u);  // 4 lines (one blank) + 1
    read_patch("[path]\n" + path_line("a", "c:\\patch\\") + path_line("d", "hd:") + path_line("e", "hd:") +
               path_line("f", "hd:"));
    EXPECT_STREQ(config::find_entry("a")->directory, config::directories().hd);  // first definition wins
    EXPECT_NE(config::find_entry("d"), nullptr);
    EXPECT_NE(config::find_entry("e"), nullptr);
    EXPECT_EQ(config::find_entry("f"), nullptr);  // no free entry left
}

TEST_F(FileTableTest, LargeSectionsKeepTableOrderFirstDefinitionsAndTheCapacity) {
    // Many names, some twice and in other case: each keeps its first line's directory and its
    // place in table order; the patch then fills exactly the free entries.
    const int names = 5000;
    std::string section = "[path]\n";
    for (int i = 0; i < names; ++i) section += path_line("n" + std::to_string(i), "c:\\first\\" + std::to_string(i));
    for (int i = 0; i < names; i += 7) section += path_line("N" + std::to_string(i), "c:\\again\\");
    section += "\n\n\n";
    read_game(section);
    const config::FileTable& table = config::file_table();
    EXPECT_EQ(table.capacity, names + (names + 6) / 7 + 3 + 1u);
    ASSERT_EQ(table.used, static_cast<std::size_t>(names));
    for (int i = 0; i < names; i += 499) {
        SCOPED_TRACE(i);
        config::FileEntry* e = config::find_entry(("n" + std::to_string(i)).c_str());
        ASSERT_NE(e, nullptr);
        EXPECT_EQ(e, &table.entry(static_cast<std::size_t>(i)));
        EXPECT_EQ(std::string(e->directory), "c:\\first\\" + std::to_string(i));
    }
    std::string patch = "[path]\n";
    std::size_t free = table.capacity - table.used;
    for (std::size_t i = 0; i <= free; ++i) patch += path_line("p" + std::to_string(i), "hd:");
    read_patch(patch);
    EXPECT_EQ(table.used, table.capacity);
    EXPECT_NE(config::find_entry(("p" + std::to_string(free - 1)).c_str()), nullptr);
    EXPECT_EQ(config::find_entry(("p" + std::to_string(free)).c_str()), nullptr);  // no room left
    EXPECT_EQ(config::find_entry(""), nullptr);                                   // a free entry is nobody's
}

TEST_F(FileTableTest, AHugeSectionOfBlankLinesIsBoundedAndCostsNoEntries) {
    // A hostile Dravo.ini: more blank lines than any table may have, then one name.
    read_game("[path]\n" + std::string(config::kMaxTableEntries + 10, '\n') + path_line("late", "hd:"));
    const config::FileTable& table = config::file_table();
    EXPECT_EQ(table.capacity, config::kMaxTableEntries);
    EXPECT_EQ(table.used, 1u);
    EXPECT_EQ(table.blocks.size(), 1u);
    EXPECT_NE(config::find_entry("late"), nullptr);
}

TEST_F(FileTableTest, ExpandsCdAndHdAndTakesOtherValuesAsTheyStand) {
    read_game("[dircd]\nd:\\cd\n[dirhd]\nc:\\game\n[path]\n" + path_line("Music", "CD:music\\") +
              path_line("maps", "hd:maps\\") + path_line("abs", "e:\\elsewhere\\") + "short\n");
    EXPECT_STREQ(config::find_entry("music")->directory, "d:\\cd\\music\\");
    EXPECT_STREQ(config::find_entry("maps")->directory, "c:\\game\\maps\\");
    EXPECT_STREQ(config::find_entry("abs")->directory, "e:\\elsewhere\\");
    EXPECT_STREQ(config::find_entry("short")->directory, "");  // shorter than 21 columns
}

TEST_F(FileTableTest, NamesAreCutAtNineteenCharacters) {
    read_game("[path]\nabcdefghijklmnopqrstuvwxyz      y\\\n");  // column 20 on is not the name
    EXPECT_NE(config::find_entry("abcdefghijklmnopqrs"), nullptr);
}

TEST_F(FileTableTest, ResolverTrimsAndLowerCasesTheCallersName) {
    read_game("[path]\n" + path_line("texts", "c:\\game\\"));
    char name[32] = "  TEXTS \t";
    EXPECT_EQ(config::resolve_logical_name(name), config::kPlainFile);
    EXPECT_STREQ(name, "texts");
    EXPECT_STREQ(config::file_table().result, "c:\\game\\texts");
    EXPECT_EQ(resolve("unknown.bin"), (std::pair<int, std::string>{config::kUnknownName, "unknown.bin"}));
}

TEST_F(FileTableTest, ContainerMemberResolvesToAnExistingContainer) {
    read_game("[path]\n" + path_line("hero", dir.path()) + path_line("ghost", dir.path()));
    set_container("hero", "dravo.mul");
    set_container("ghost", "missing.mul");
    write_file(dir.file("Dravo.MUL"), "");
    std::string directory = config::find_entry("hero")->directory;  // the line, lower-cased
    EXPECT_EQ(resolve("hero"), std::make_pair(int(config::kContainerMember), directory + "dravo.mul"));
    // A container that is not there falls back to a plain file in the directory.
    EXPECT_EQ(resolve("ghost"), std::make_pair(int(config::kPlainFile), directory + "ghost"));
}

TEST_F(FileTableTest, OnTheCdFlaggedContainersLieInTheDiscFolder) {
    ASSERT_TRUE(plat::create_directory(dir.file("CD1").c_str()));
    write_file(dir.file("CD1\\intro.mul"), "");
    read_game("[dircd]\n" + dir.path() + "\n[dirhd]\n" + dir.path() + "\n[path]\n" + path_line("intro", "cd:") +
              path_line("plain", "cd:"));
    ASSERT_EQ(config::directories().running_from_cd, 1);
    set_container("intro", "intro.mul", 1);
    set_container("plain", "intro.mul", 0);
    std::string cd = config::directories().cd;
    EXPECT_EQ(resolve("intro"), std::make_pair(int(config::kContainerMember), cd + "CD1\\intro.mul"));
    EXPECT_EQ(resolve("plain"), std::make_pair(int(config::kPlainFile), cd + "plain"));
}

TEST_F(FileTableTest, EmptyCdDirectoryInsertsNoDiscFolder) {
    write_file(dir.file("intro.mul"), "");
    read_game("[dirhd]\n" + dir.path() + "\n[path]\n" + path_line("intro", "hd:"));
    ASSERT_EQ(config::directories().running_from_cd, 1);  // no [dircd]: every HD is "on the CD"
    set_container("intro", "intro.mul", 1);
    EXPECT_EQ(resolve("intro"),
              std::make_pair(int(config::kContainerMember), std::string(config::directories().hd) + "intro.mul"));
}

TEST_F(FileTableTest, PathsThatDoNotFitResolveEmptyInsteadOfCut) {
    // An HD directory near the limit (a deep current directory) and a section value behind it.
    std::strcpy(config::directories().hd, ("c:\\" + std::string(240, 'h') + "\\").c_str());
    write_file(dir.file("section.ini"), path_line("fits", "hd:" + std::string(10, 'f') + "\\") +
                                            path_line("toolong", "hd:" + std::string(30, 't') + "\\"));
    std::FILE* f = plat::open_text(dir.file("section.ini").c_str(), "r");
    ASSERT_NE(f, nullptr);
    config::read_path_section(f, 0);
    std::fclose(f);
    EXPECT_EQ(resolve("fits").first, config::kPlainFile);
    EXPECT_EQ(resolve("fits").second.size(), 244u + 11 + 4);
    // Never a silently shortened path, which would name some other file.
    EXPECT_EQ(resolve("toolong"), std::make_pair(int(config::kPlainFile), std::string()));
    char huge[400];
    std::memset(huge, 'n', 300);
    huge[300] = 0;
    EXPECT_EQ(config::resolve_logical_name(huge), config::kUnknownName);
    EXPECT_STREQ(config::file_table().result, "");
}

// An observer left behind by a run that stopped early must not be told of the next run's
// lines: what it captured may be gone by then.
TEST_F(FileTableTest, TheResetDropsThePathLineObserver) {
    int told = 0;
    config::observe_path_lines([&told](const config::PathLineSeen&) { ++told; });
    config::reset_configuration();
    read_game("[path]\n" + path_line("a", "hd:"));
    EXPECT_EQ(told, 0);
    EXPECT_NE(config::find_entry("a"), nullptr);
}

}  // namespace
