// The shell-link reader on shortcuts written by Wine's shell, on links built here for the
// parts Wine's do not use, and on damaged ones; and the game directory cut from a target.
#include <gtest/gtest.h>

#include <fstream>
#include <iterator>

#include "install/locate.h"
#include "base/little_endian.h"
#include "platform/platform.h"
#include "platform/rules/shell_link.h"
#include "tests/test_support.h"

using namespace testing_support;
using namespace install;

namespace {

// The sample links are read with sharing, as the C++ library opens files: the layer's own
// opens are exclusive, and the tests run in parallel processes that read the same samples.
std::vector<std::uint8_t> data_file(const std::string& name) {
    std::string path = std::string(DRAVO_TEST_DATA) + "/shell_link/" + name;
    std::ifstream in(path, std::ios::binary);
    std::vector<std::uint8_t> bytes((std::istreambuf_iterator<char>(in)), std::istreambuf_iterator<char>());
    EXPECT_FALSE(bytes.empty()) << path;
    return bytes;
}

// A link as an older shell wrote them: single-byte strings, no item-id list, and optionally
// no link info.
std::vector<std::uint8_t> ansi_link(bool with_info, const std::string& relative, const std::string& workdir) {
    std::vector<std::uint8_t> b(0x4C, 0);
    b[0] = 0x4C;
    const std::uint8_t clsid[16] = {0x01, 0x14, 0x02, 0, 0, 0, 0, 0, 0xC0, 0, 0, 0, 0, 0, 0, 0x46};
    std::copy(clsid, clsid + 16, b.begin() + 4);
    std::uint32_t flags = (with_info ? 0x02 : 0) | (relative.empty() ? 0 : 0x08) | (workdir.empty() ? 0 : 0x10);
    le::put32(b.data() + 20, flags);
    if (with_info) {
        std::string local = "D:\\DRAVO\\";
        std::string suffix = "GAME.EXE";
        std::vector<std::uint8_t> info(0x1C + 4 + local.size() + 1 + suffix.size() + 1, 0);
        le::put32(info.data(), static_cast<std::uint32_t>(info.size()));
        le::put32(info.data() + 4, 0x1C);
        le::put32(info.data() + 8, 1);
        le::put32(info.data() + 12, 0x1C);                                     // volume id, left 0
        le::put32(info.data() + 16, 0x20);                                     // local base path
        le::put32(info.data() + 24, static_cast<std::uint32_t>(0x20 + local.size() + 1));  // suffix
        std::copy(local.begin(), local.end(), info.begin() + 0x20);
        std::copy(suffix.begin(), suffix.end(), info.begin() + 0x20 + local.size() + 1);
        b.insert(b.end(), info.begin(), info.end());
    }
    for (const std::string* s : {&relative, &workdir}) {
        if (s->empty()) continue;
        b.push_back(static_cast<std::uint8_t>(s->size()));
        b.push_back(0);
        b.insert(b.end(), s->begin(), s->end());
    }
    return b;
}

TEST(ShellLinkReader, ReadsShortcutsWrittenByWinesShell) {
    plat::ShellLink link;
    ASSERT_TRUE(plat::parse_shell_link(data_file("start_menu.lnk"), &link));
    EXPECT_TRUE(link.has_link_info);
    EXPECT_EQ(link.local_base_path, "C:\\Games\\Dravo\\DRAVO.EXE");
    EXPECT_EQ(link.description, "Play Dravo");
    EXPECT_EQ(link.working_directory, "C:\\Games\\Dravo");
    plat::LinkTarget t = plat::shell_link_target(link);
    EXPECT_EQ(t.kind, plat::LinkTarget::Kind::LocalPath);
    EXPECT_EQ(t.path, "C:\\Games\\Dravo\\DRAVO.EXE");

    ASSERT_TRUE(plat::parse_shell_link(data_file("long_names.lnk"), &link));
    EXPECT_EQ(plat::shell_link_target(link).path, "C:\\Program Files\\Dravo Adventure Game\\Dravo Game.exe");
    ASSERT_TRUE(plat::parse_shell_link(data_file("missing_target.lnk"), &link));
    EXPECT_EQ(plat::shell_link_target(link).path, "C:\\Nowhere\\Game\\DRAVO.EXE");
    EXPECT_EQ(link.description, "gone");
}

// Wine's shell writes the link info's path in the code page and the strings in UTF-16; the
// target says which, so that the latter can be brought to the code page too.
TEST(ShellLinkReader, TellsTargetsInTheCodePageFromTargetsInUtf8) {
    plat::ShellLink link;
    ASSERT_TRUE(plat::parse_shell_link(data_file("accented_cp1252.lnk"), &link));
    plat::LinkTarget t = plat::shell_link_target(link);
    EXPECT_EQ(t.path, "C:\\Games\\Dr\xE1vo\\DRAVO.EXE");
    EXPECT_FALSE(t.utf8);
    std::vector<std::uint8_t> bytes = data_file("cyrillic_cp1251.lnk");
    ASSERT_TRUE(plat::parse_shell_link(bytes, &link));
    EXPECT_EQ(plat::shell_link_target(link).path, "C:\\\xC8\xE3\xF0\xFB\\\xC4\xF0\xE0\xE2\xEE\\DRAVO.EXE");
    le::put32(bytes.data() + 20, le::get32(bytes.data() + 20) | 0x100);  // the link info ignored
    ASSERT_TRUE(plat::parse_shell_link(bytes, &link));
    t = plat::shell_link_target(link);
    EXPECT_EQ(t.kind, plat::LinkTarget::Kind::WorkingDirectory);
    EXPECT_EQ(t.path, "C:\\Игры\\Драво\\");
    EXPECT_TRUE(t.utf8);
}

TEST(ShellLinkReader, FallsBackToTheRelativePathThenTheWorkingDirectory) {
    plat::ShellLink link;
    ASSERT_TRUE(plat::parse_shell_link(ansi_link(true, "..\\x.exe", "E:\\W"), &link));
    EXPECT_EQ(plat::shell_link_target(link).path, "D:\\DRAVO\\GAME.EXE");  // base path and suffix

    ASSERT_TRUE(plat::parse_shell_link(ansi_link(false, "..\\..\\Games\\Dravo\\DRAVO.EXE", "E:\\W"), &link));
    plat::LinkTarget t = plat::shell_link_target(link);
    EXPECT_EQ(t.kind, plat::LinkTarget::Kind::RelativePath);
    EXPECT_EQ(plat::join_relative_path("c:\\ProgramData\\Start Menu", t.path), "c:\\Games\\Dravo\\DRAVO.EXE");

    ASSERT_TRUE(plat::parse_shell_link(ansi_link(false, "", "E:\\Games\\Dravo"), &link));
    t = plat::shell_link_target(link);
    EXPECT_EQ(t.kind, plat::LinkTarget::Kind::WorkingDirectory);
    EXPECT_EQ(t.path, "E:\\Games\\Dravo\\");

    ASSERT_TRUE(plat::parse_shell_link(ansi_link(false, "", ""), &link));
    EXPECT_EQ(plat::shell_link_target(link).kind, plat::LinkTarget::Kind::None);
}

TEST(ShellLinkReader, RefusesEveryTruncationAndNeverReadsPastTheEnd) {
    for (const char* name : {"start_menu.lnk", "long_names.lnk"}) {
        std::vector<std::uint8_t> whole = data_file(name);
        // The strings end where the extra data begins; any cut before that loses a part.
        plat::ShellLink full;
        ASSERT_TRUE(plat::parse_shell_link(whole, &full));
        for (std::size_t n = 0; n + 1 < whole.size(); ++n) {
            // A copy of exactly n bytes, so that a sanitizer sees any read behind it.
            std::vector<std::uint8_t> cut(whole.begin(), whole.begin() + n);
            plat::ShellLink link;
            if (plat::parse_shell_link(cut, &link)) {
                EXPECT_EQ(link.working_directory, full.working_directory) << name << " cut at " << n;
            }
        }
    }
}

TEST(ShellLinkReader, RefusesDamagedHeadersAndOffsets) {
    std::vector<std::uint8_t> good = data_file("start_menu.lnk");
    auto damaged = [&](std::size_t at, std::uint32_t value) {
        std::vector<std::uint8_t> b = good;
        le::put32(b.data() + at, value);
        plat::ShellLink link;
        return !plat::parse_shell_link(b, &link);
    };
    EXPECT_TRUE(damaged(0, 0x4D));          // header size
    EXPECT_TRUE(damaged(4, 0x12345678));    // class id
    std::size_t info = 0x4C + 2 + le::get16(good.data() + 0x4C);
    EXPECT_TRUE(damaged(info, 0xFFFFFFF0));      // link info larger than the file
    EXPECT_TRUE(damaged(info, 3));               // smaller than its own header
    EXPECT_TRUE(damaged(info + 16, 0x7FFFFFFF));  // local base path outside the link info
    EXPECT_TRUE(damaged(0x4C, 0xFFFF));          // item-id list larger than the file
}

TEST(GameDirectory, IsTheTargetCutBehindItsLastBackslash) {
    char dir[locate::kGamePathBytes];
    EXPECT_EQ(locate::game_directory_of("C:\\GAMES\\DRAVO\\DRAVO.EXE", dir), locate::TargetStatus::Found);
    EXPECT_STREQ(dir, "C:\\GAMES\\DRAVO\\");
    EXPECT_EQ(locate::game_directory_of("C:\\DRAVO.EXE", dir), locate::TargetStatus::Found);
    EXPECT_STREQ(dir, "C:\\");
    EXPECT_EQ(locate::game_directory_of("DRAVO.EXE", dir), locate::TargetStatus::NoDirectory);
    EXPECT_EQ(locate::game_directory_of("", dir), locate::TargetStatus::NoDirectory);
    EXPECT_STREQ(dir, "");
    std::string longest = "C:\\" + std::string(252, 'x');  // 255 characters
    EXPECT_EQ(locate::game_directory_of(longest.c_str(), dir), locate::TargetStatus::Found);
    EXPECT_EQ(locate::game_directory_of((longest + "x").c_str(), dir), locate::TargetStatus::TooLong);
    EXPECT_STREQ(dir, "");
}

}  // namespace
