// Single-byte Windows code pages and UTF-8, on every system. The game keeps its texts in one
// byte per character with no code page recorded; tools that hand those texts to other programs
// (a translator's PO files) convert them through the system's own tables, the C library's
// iconv on Linux and MultiByteToWideChar on Windows, so that both give the same characters.
#pragma once

#include <array>
#include <optional>
#include <string>
#include <string_view>

namespace plat {

// Whether `number` is one of the single-byte Windows code pages (874, 1250 to 1258).
bool is_single_byte_code_page(int number);

// The code page number a setting names: "1251", "cp1251", "CP1251" or "windows-1251". 0 when
// it names none, or one this layer cannot convert (only single-byte Windows code pages).
int parse_code_page(std::string_view setting);

// The character the system gives each byte of code page `number`. A byte the code page has no
// character for stands for the code point of its own value (0x81 -> U+0081), as Windows
// converts it, so that every byte has a character and both systems agree. Nullopt when the
// number is not a single-byte code page or the system does not know it.
std::optional<std::array<char32_t, 256>> code_page_characters(int number);

// Appends code point `cp` in UTF-8.
void append_utf8(std::string* out, char32_t cp);

// The well-formed UTF-8 sequence at s[i]: its length, and its code point in *cp; 0 when the
// bytes there are not one (a stray or missing continuation byte, an overlong form, a
// surrogate, a code point above U+10FFFF).
std::size_t decode_utf8(std::string_view s, std::size_t i, char32_t* cp);

}  // namespace plat
