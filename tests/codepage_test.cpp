// The code page of the core on Linux: which one the settings choose, the conversion to and
// from the host's UTF-8, and the paths of the platform layer that cross between the two.
#include <gtest/gtest.h>

#include <filesystem>
#include <string>

#include "platform/codepage.h"
#include "platform/platform.h"
#include "tests/test_support.h"

using namespace testing_support;

namespace {

namespace fs = std::filesystem;

TEST(CodePageChoice, OverrideThenLocaleAsWineChoosesIt) {
    struct Case {
        const char *override, *lc_all, *lc_ctype, *lang;
        int expected;
    } cases[] = {
        {nullptr, nullptr, nullptr, nullptr, 1252},
        {nullptr, nullptr, nullptr, "C.UTF-8", 1252},
        {nullptr, nullptr, nullptr, "en_GB.UTF-8", 1252},
        {nullptr, nullptr, nullptr, "de_DE@euro", 1252},
        {nullptr, nullptr, nullptr, "ru_RU.UTF-8", 1251},
        {nullptr, nullptr, nullptr, "uk_UA", 1251},
        {nullptr, nullptr, nullptr, "be_BY.UTF-8", 1251},
        {nullptr, nullptr, nullptr, "bg_BG.UTF-8", 1251},
        {nullptr, nullptr, nullptr, "sr_RS", 1251},
        {nullptr, nullptr, nullptr, "sr_RS@latin", 1250},
        {nullptr, nullptr, nullptr, "pl_PL.UTF-8", 1250},
        {nullptr, nullptr, nullptr, "el_GR.UTF-8", 1253},
        {nullptr, nullptr, nullptr, "ja_JP.UTF-8", 1252},  // multi-byte: not for the core
        // LC_ALL, then LC_CTYPE, then LANG; an empty one counts as unset.
        {nullptr, "ru_RU.UTF-8", "en_US.UTF-8", "en_US.UTF-8", 1251},
        {nullptr, "", "ru_RU.UTF-8", "en_US.UTF-8", 1251},
        {nullptr, nullptr, "C", "ru_RU.UTF-8", 1252},
        // DRAVO_CODEPAGE wins in each of its spellings; one that names no usable code page
        // is passed over.
        {"1251", nullptr, nullptr, "en_US.UTF-8", 1251},
        {"cp1251", nullptr, nullptr, nullptr, 1251},
        {"Windows-1250", nullptr, nullptr, nullptr, 1250},
        {"1252", "ru_RU.UTF-8", nullptr, nullptr, 1252},
        {"932", "ru_RU.UTF-8", nullptr, nullptr, 1251},
        {"cp", nullptr, nullptr, "ru_RU.UTF-8", 1251},
        {"1251x", nullptr, nullptr, nullptr, 1252},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(std::string(c.override ? c.override : "-") + " " + (c.lc_all ? c.lc_all : "-") + " " +
                     (c.lc_ctype ? c.lc_ctype : "-") + " " + (c.lang ? c.lang : "-"));
        EXPECT_EQ(plat::choose_code_page(c.override, c.lc_all, c.lc_ctype, c.lang), c.expected);
    }
}

TEST(CodePageChoice, ComesFromTheEnvironmentAgainAfterAReset) {
    const char* saved = std::getenv("DRAVO_CODEPAGE");
    std::string saved_value = saved ? saved : "";
    ::setenv("DRAVO_CODEPAGE", "1251", 1);
    plat::reset_code_page();
    EXPECT_EQ(plat::code_page().number, 1251);
    ::setenv("DRAVO_CODEPAGE", "1250", 1);
    EXPECT_EQ(plat::code_page().number, 1251);  // chosen once
    plat::reset_code_page();
    EXPECT_EQ(plat::code_page().number, 1250);
    if (saved) ::setenv("DRAVO_CODEPAGE", saved_value.c_str(), 1);
    else ::unsetenv("DRAVO_CODEPAGE");
    plat::reset_code_page();
}

class CodePageText : public ::testing::Test {
protected:
    void TearDown() override { plat::reset_code_page(); }
    static std::string to_code_page(const std::string& utf8, bool expect_whole = true) {
        std::string out;
        EXPECT_EQ(plat::utf8_to_code_page(utf8, &out), expect_whole) << utf8;
        return out;
    }
};

TEST_F(CodePageText, ConvertsLettersBothWays) {
    ASSERT_TRUE(plat::use_code_page(1252));
    EXPECT_EQ(plat::code_page_to_utf8("C:\\Games\\Dr\xE1vo\\"), "C:\\Games\\Drávo\\");
    EXPECT_EQ(plat::code_page_to_utf8("\x80\x9F\xFF"), "€Ÿÿ");
    EXPECT_EQ(to_code_page("C:\\Games\\Drávo\\"), "C:\\Games\\Dr\xE1vo\\");
    ASSERT_TRUE(plat::use_code_page(1251));
    EXPECT_EQ(plat::code_page_to_utf8("C:\\\xC8\xE3\xF0\xFB\\\xC4\xF0\xE0\xE2\xEE"), "C:\\Игры\\Драво");
    EXPECT_EQ(to_code_page("Ёё№"), "\xA8\xB8\xB9");
}

TEST_F(CodePageText, BytesWithoutACharacterStandForTheirOwnValue) {
    ASSERT_TRUE(plat::use_code_page(1252));
    for (unsigned char b : {0x81, 0x8D, 0x8F, 0x90, 0x9D}) {
        std::string byte(1, static_cast<char>(b));
        std::string utf8 = {static_cast<char>(0xC2), static_cast<char>(b)};  // U+0081 etc.
        EXPECT_EQ(plat::code_page_to_utf8(byte), utf8);
        EXPECT_EQ(to_code_page(utf8), byte);
    }
    ASSERT_TRUE(plat::use_code_page(1251));
    EXPECT_EQ(plat::code_page_to_utf8("\x98"), "\xC2\x98");
    EXPECT_EQ(to_code_page("\xC2\x98"), "\x98");
}

TEST_F(CodePageText, EveryByteOfEveryCodePageComesBackAsItWas) {
    std::string all;
    for (int b = 1; b < 256; ++b) all += static_cast<char>(b);
    for (int number : {874, 1250, 1251, 1252, 1253, 1254, 1255, 1256, 1257, 1258}) {
        SCOPED_TRACE(number);
        ASSERT_TRUE(plat::use_code_page(number));
        std::string utf8 = plat::code_page_to_utf8(all);
        EXPECT_EQ(to_code_page(utf8), all);
        for (int b = 1; b < 128; ++b) EXPECT_EQ(plat::code_page().to_unicode[b], static_cast<char32_t>(b));
    }
}

TEST_F(CodePageText, WhatTheCodePageCannotHoldBecomesAQuestionMark) {
    ASSERT_TRUE(plat::use_code_page(1252));
    EXPECT_EQ(to_code_page("Драво", false), "?????");
    EXPECT_EQ(to_code_page("a😀b", false), "a?b");
    ASSERT_TRUE(plat::use_code_page(1251));
    EXPECT_EQ(to_code_page("Drávo", false), "Dr?vo");
    // Malformed UTF-8: a Latin-1 byte, a lone lead byte at the end, a stray continuation byte,
    // an overlong '/', a surrogate, a code point above U+10FFFF.
    EXPECT_EQ(to_code_page("Dr\xE1vo", false), "Dr?vo");
    EXPECT_EQ(to_code_page("ab\xD0", false), "ab?");
    EXPECT_EQ(to_code_page("a\x80z", false), "a?z");
    EXPECT_EQ(to_code_page("a\xC0\xAFz", false), "a??z");
    EXPECT_EQ(to_code_page("a\xED\xA0\x80z", false), "a???z");
    EXPECT_EQ(to_code_page("a\xF4\x90\x80\x80z", false), "a????z");
}

// The platform layer between the core's names and the host's.
class CodePagePaths : public CoreTest {
protected:
    void TearDown() override {
        CoreTest::TearDown();
        plat::reset_code_page();
    }
    std::string host(const std::string& utf8_name) const { return plat::to_native_path(dir.path().c_str()) + "/" + utf8_name; }
    TempDir dir;
};

TEST_F(CodePagePaths, AccentedAndCyrillicNamesReachTheHostInUtf8) {
    struct Case {
        int code_page;
        const char* core;  // in the code page
        const char* host;  // in UTF-8
    } cases[] = {
        {1252, "Dr\xE1vo", "Drávo"},
        {1251, "\xC4\xF0\xE0\xE2\xEE", "Драво"},
        {1252, "x\x81", "x\xC2\x81"},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.host);
        ASSERT_TRUE(plat::use_code_page(c.code_page));
        std::string folder = dir.file(c.core);
        ASSERT_TRUE(plat::create_directory(folder.c_str()));
        write_file(folder + "\\game.ini", "x");
        EXPECT_TRUE(fs::is_regular_file(host(c.host) + "/game.ini"));
        EXPECT_EQ(plat::to_native_path(folder.c_str()), host(c.host));
        EXPECT_EQ(plat::from_native_path(host(c.host).c_str()), folder);
        EXPECT_EQ(read_file(dir.file(std::string(c.core) + "\\GAME.INI")), "x");  // matched ignoring case
        ASSERT_TRUE(plat::change_directory(folder.c_str()));
        EXPECT_EQ(plat::current_directory(), folder);
        EXPECT_EQ(plat::to_host_text(folder), dir.path() + c.host);
    }
}

// A host name the code page cannot hold must neither crash nor stand for another name: the
// '?' that takes the place of its letter is refused, even where a folder is called so.
TEST_F(CodePagePaths, HostNamesOutsideTheCodePageAreRefused) {
    ASSERT_TRUE(plat::use_code_page(1251));
    fs::create_directory(host("Drávo"));
    fs::create_directory(host("Dr?vo"));
    std::string made = dir.file("Dr?vo\\game.ini");
    EXPECT_EQ(plat::open_file(made.c_str(), plat::Access::Write, plat::Disposition::CreateAlways), plat::Handle::Invalid);
    EXPECT_FALSE(fs::exists(host("Dr?vo") + "/game.ini"));
    std::string core = plat::from_native_path(host("Drávo").c_str());
    EXPECT_EQ(core, dir.file("Dr?vo"));
    EXPECT_FALSE(plat::file_exists(core.c_str()));
    EXPECT_FALSE(plat::create_directory((core + "\\sub").c_str()));
    EXPECT_EQ(plat::last_error(), plat::Error::Other);
    EXPECT_NE(plat::last_error_text().find("code page 1251"), std::string::npos) << plat::last_error_text();
    EXPECT_EQ(plat::open_file((core + "\\game.ini").c_str(), plat::Access::Read, plat::Disposition::OpenExisting),
              plat::Handle::Invalid);
    EXPECT_EQ(plat::last_error(), plat::Error::Other);
}

// An entry whose name is not UTF-8 (a Latin-1 byte from an old archive) is no match for the
// core's name in any spelling, though its bytes equal the core's.
TEST_F(CodePagePaths, EntriesThatAreNotUtf8MatchNothing) {
    ASSERT_TRUE(plat::use_code_page(1252));
    fs::create_directory(host("DR\xE1VO"));
    std::string core = dir.file("dr\xE1vo");
    EXPECT_FALSE(plat::file_exists(core.c_str()));
    EXPECT_EQ(plat::open_file((core + "\\x").c_str(), plat::Access::Write, plat::Disposition::CreateAlways),
              plat::Handle::Invalid);
    EXPECT_EQ(plat::last_error(), plat::Error::PathNotFound);
    EXPECT_EQ(plat::from_native_path(host("DR\xE1VO").c_str()), dir.file("DR?VO"));
}

}  // namespace
