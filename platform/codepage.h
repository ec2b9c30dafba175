// The code page of the core's text on a host whose file names are UTF-8.
//
// The core keeps names and text in single-byte strings, as the Windows build's ANSI calls do;
// a game installed by a Windows program under Wine has its folder names in the Windows code
// page inside shortcuts and settings files, while Wine keeps them on disk in UTF-8. The POSIX
// side of the platform layer converts between the two with these functions, the way Wine
// does: the code page follows the locale, and a byte the code page has no character for
// stands for the code point of the same value (0x81 <-> U+0081), both ways.
#pragma once

#include <array>
#include <string>
#include <string_view>
#include <unordered_map>

#include "platform/code_pages.h"

namespace plat {

// The ANSI code page Wine gives a POSIX locale name such as "ru_RU.UTF-8" or "sr_RS@latin":
// the one of its language (Cyrillic languages 1251, Central European 1250, Greek 1253, ...),
// 1252 for every other language and for "C" or an empty name.
int code_page_for_locale(std::string_view locale);

// The code page from its settings: `override` (DRAVO_CODEPAGE) when it names one, else the
// locale that LC_ALL, LC_CTYPE and LANG give, the first one set winning. Null means unset.
int choose_code_page(const char* override, const char* lc_all, const char* lc_ctype, const char* lang);

// The code page in use, with its tables; made on first use from the environment.
struct CodePage {
    int number = 0;                                         // 0: not chosen yet
    std::array<char32_t, 256> to_unicode{};                 // byte -> code point
    std::unordered_map<char32_t, unsigned char> from_unicode;  // code point -> byte
};
const CodePage& code_page();
// Forgets the code page, so that the next conversion chooses it again from the environment.
void reset_code_page();
// Uses `number` from now on (tests, and hosts that know better); false if it cannot be used.
bool use_code_page(int number);

// Text of the core in UTF-8. Every byte has a character, so this never fails.
std::string code_page_to_utf8(std::string_view text);

// UTF-8 text in the core's code page. A character the code page cannot hold, and each byte of
// a malformed sequence, becomes '?', which no Windows file name holds; the result is then
// false, so that callers can refuse the name rather than take it for another one.
bool utf8_to_code_page(std::string_view text, std::string* out);

}  // namespace plat
