// The core's code page on POSIX hosts; see codepage.h. The tables come from the C library's
// iconv, one byte at a time, so that this layer and the system agree on every character.
#include "platform/codepage.h"
#include "platform/code_pages.h"
#include "base/text.h"

#include <iconv.h>

#include <algorithm>
#include <cctype>
#include <cstdlib>
#include <mutex>
#include <optional>
#include <utility>

namespace plat {

namespace {

constexpr int kDefaultCodePage = 1252;

// The ANSI code page of each language whose Windows locales have a single-byte one other
// than 1252, by its ISO 639 code as POSIX locale names start with it.
struct LanguageCodePage {
    const char* language;
    int code_page;
};
constexpr LanguageCodePage kLanguageCodePages[] = {
    {"be", 1251}, {"bg", 1251}, {"kk", 1251}, {"ky", 1251}, {"mk", 1251}, {"mn", 1251},
    {"ru", 1251}, {"sr", 1251}, {"tg", 1251}, {"tt", 1251}, {"uk", 1251}, {"ba", 1251},
    {"bs", 1250}, {"cs", 1250}, {"hr", 1250}, {"hu", 1250}, {"pl", 1250}, {"ro", 1250},
    {"sk", 1250}, {"sl", 1250}, {"sq", 1250},
    {"el", 1253},
    {"az", 1254}, {"tr", 1254}, {"uz", 1254},
    {"he", 1255}, {"yi", 1255},
    {"ar", 1256}, {"fa", 1256}, {"ur", 1256},
    {"et", 1257}, {"lt", 1257}, {"lv", 1257},
    {"vi", 1258},
    {"th", 874},
};

// ---- tables --------------------------------------------------------------------------------

// The one character iconv gives for `byte`, or none when it gives an error or more than one.
// The shift state is flushed and reset, for the code pages that compose characters.
std::optional<char32_t> decode_byte(iconv_t cd, unsigned char byte) {
    char in[1] = {static_cast<char>(byte)};
    unsigned char out[16];
    char* in_ptr = in;
    char* out_ptr = reinterpret_cast<char*>(out);
    std::size_t in_left = 1, out_left = sizeof out;
    bool ok = ::iconv(cd, &in_ptr, &in_left, &out_ptr, &out_left) != static_cast<std::size_t>(-1) &&
              ::iconv(cd, nullptr, nullptr, &out_ptr, &out_left) != static_cast<std::size_t>(-1);
    ::iconv(cd, nullptr, nullptr, nullptr, nullptr);
    if (!ok || sizeof out - out_left != 4) return std::nullopt;
    return static_cast<char32_t>(out[0] | out[1] << 8 | out[2] << 16 | static_cast<char32_t>(out[3]) << 24);
}

// The character iconv gives each byte of `number`; a byte without one stands for the code point
// of its own value, as Windows converts it. Nullopt when iconv does not know the code page.
std::optional<std::array<char32_t, 256>> iconv_characters(int number) {
    std::string name = "CP" + std::to_string(number);
    iconv_t cd = ::iconv_open("UTF-32LE", name.c_str());
    if (cd == reinterpret_cast<iconv_t>(-1)) return std::nullopt;
    std::array<char32_t, 256> characters;
    for (int b = 0; b < 256; ++b)
        characters[b] = decode_byte(cd, static_cast<unsigned char>(b)).value_or(static_cast<char32_t>(b));
    ::iconv_close(cd);
    return characters;
}

// Fills the tables of `number` from iconv. False when iconv does not know the code page; the
// tables are then those of the bytes' own values.
bool fill_tables(int number, CodePage* page) {
    page->number = number;
    page->from_unicode.clear();
    auto characters = iconv_characters(number);
    for (int b = 0; b < 256; ++b) page->to_unicode[b] = characters ? (*characters)[b] : static_cast<char32_t>(b);
    for (int b = 0; b < 256; ++b) page->from_unicode.emplace(page->to_unicode[b], static_cast<unsigned char>(b));
    return characters.has_value();
}

struct CodePageState {
    std::mutex lock;
    CodePage page;
};

CodePageState& state() {
    static CodePageState s;
    return s;
}

}  // namespace

std::optional<std::array<char32_t, 256>> code_page_characters(int number) {
    if (!is_single_byte_code_page(number)) return std::nullopt;
    return iconv_characters(number);
}

int code_page_for_locale(std::string_view locale) {
    std::size_t end = locale.find_first_of("_.@");
    std::string language = text::lowered(locale.substr(0, end));
    std::string modifier;
    if (std::size_t at = locale.find('@'); at != std::string_view::npos) modifier = text::lowered(locale.substr(at + 1));
    // Serbian, Bosnian, Uzbek and Azerbaijani are written in Latin and in Cyrillic letters.
    if (modifier == "latin" && language == "sr") return 1250;
    if (modifier == "cyrillic" && (language == "uz" || language == "az" || language == "bs")) return 1251;
    for (const LanguageCodePage& l : kLanguageCodePages)
        if (language == l.language) return l.code_page;
    return kDefaultCodePage;
}

int choose_code_page(const char* override, const char* lc_all, const char* lc_ctype, const char* lang) {
    if (override && *override) {
        if (int number = parse_code_page(override)) return number;
    }
    // The first of these that is set names the locale of the character set, as for setlocale.
    for (const char* locale : {lc_all, lc_ctype, lang})
        if (locale && *locale) return code_page_for_locale(locale);
    return kDefaultCodePage;
}

const CodePage& code_page() {
    CodePageState& s = state();
    std::lock_guard<std::mutex> guard(s.lock);
    if (s.page.number == 0)
        fill_tables(choose_code_page(std::getenv("DRAVO_CODEPAGE"), std::getenv("LC_ALL"),
                                     std::getenv("LC_CTYPE"), std::getenv("LANG")),
                    &s.page);
    return s.page;
}

void reset_code_page() {
    CodePageState& s = state();
    std::lock_guard<std::mutex> guard(s.lock);
    s.page.number = 0;
}

bool use_code_page(int number) {
    if (!is_single_byte_code_page(number)) return false;
    CodePage page;
    if (!fill_tables(number, &page)) return false;
    CodePageState& s = state();
    std::lock_guard<std::mutex> guard(s.lock);
    s.page = std::move(page);
    return true;
}

std::string code_page_to_utf8(std::string_view text) {
    const CodePage& page = code_page();
    std::string out;
    out.reserve(text.size());
    for (char c : text) append_utf8(&out, page.to_unicode[static_cast<unsigned char>(c)]);
    return out;
}

bool utf8_to_code_page(std::string_view text, std::string* out) {
    const CodePage& page = code_page();
    out->clear();
    out->reserve(text.size());
    bool whole = true;
    std::size_t i = 0;
    while (i < text.size()) {
        char32_t cp = 0;
        std::size_t length = decode_utf8(text, i, &cp);
        auto byte = length ? page.from_unicode.find(cp) : page.from_unicode.end();
        if (byte == page.from_unicode.end()) {
            *out += '?';
            whole = false;
            i += length ? length : 1;
            continue;
        }
        *out += static_cast<char>(byte->second);
        i += length;
    }
    return whole;
}

}  // namespace plat
