// What the code pages share on every system: which ones the core handles, their names, and
// UTF-8. The tables themselves come from the system (code_pages_posix.cpp, code_pages_win32.cpp).
#include "platform/code_pages.h"

#include "base/text.h"

#include <algorithm>
#include <cctype>
#include <cstdlib>

namespace plat {

namespace {

// The single-byte Windows code pages: the core's strings hold one character per byte.
constexpr int kSingleByteCodePages[] = {874, 1250, 1251, 1252, 1253, 1254, 1255, 1256, 1257, 1258};

}  // namespace

bool is_single_byte_code_page(int number) {
    return std::find(std::begin(kSingleByteCodePages), std::end(kSingleByteCodePages), number) !=
           std::end(kSingleByteCodePages);
}

int parse_code_page(std::string_view setting) {
    for (std::string_view prefix : {"windows-", "cp"}) {
        if (text::starts_with_ignoring_case(setting, prefix)) {
            setting.remove_prefix(prefix.size());
            break;
        }
    }
    if (setting.empty() || setting.size() > 5 ||
        !std::all_of(setting.begin(), setting.end(), [](char c) { return c >= '0' && c <= '9'; }))
        return 0;
    int number = std::atoi(std::string(setting).c_str());
    return is_single_byte_code_page(number) ? number : 0;
}

void append_utf8(std::string* out, char32_t cp) {
    if (cp < 0x80) {
        *out += static_cast<char>(cp);
    } else if (cp < 0x800) {
        *out += static_cast<char>(0xC0 | (cp >> 6));
        *out += static_cast<char>(0x80 | (cp & 0x3F));
    } else if (cp < 0x10000) {
        *out += static_cast<char>(0xE0 | (cp >> 12));
        *out += static_cast<char>(0x80 | ((cp >> 6) & 0x3F));
        *out += static_cast<char>(0x80 | (cp & 0x3F));
    } else {
        *out += static_cast<char>(0xF0 | (cp >> 18));
        *out += static_cast<char>(0x80 | ((cp >> 12) & 0x3F));
        *out += static_cast<char>(0x80 | ((cp >> 6) & 0x3F));
        *out += static_cast<char>(0x80 | (cp & 0x3F));
    }
}

std::size_t decode_utf8(std::string_view s, std::size_t i, char32_t* cp) {
    auto byte = [&](std::size_t k) { return static_cast<unsigned char>(s[k]); };
    unsigned char lead = byte(i);
    if (lead < 0x80) {
        *cp = lead;
        return 1;
    }
    std::size_t length;
    unsigned char low = 0x80, high = 0xBF;  // the range of the second byte
    if (lead >= 0xC2 && lead <= 0xDF) {
        length = 2;
    } else if (lead >= 0xE0 && lead <= 0xEF) {
        length = 3;
        if (lead == 0xE0) low = 0xA0;
        if (lead == 0xED) high = 0x9F;
    } else if (lead >= 0xF0 && lead <= 0xF4) {
        length = 4;
        if (lead == 0xF0) low = 0x90;
        if (lead == 0xF4) high = 0x8F;
    } else {
        return 0;
    }
    if (s.size() - i < length) return 0;
    if (byte(i + 1) < low || byte(i + 1) > high) return 0;
    char32_t value = lead & (0x7F >> length);
    for (std::size_t k = 1; k < length; ++k) {
        if ((byte(i + k) & 0xC0) != 0x80) return 0;
        value = (value << 6) | (byte(i + k) & 0x3F);
    }
    *cp = value;
    return length;
}

}  // namespace plat
