// The characters of a single-byte code page from Windows' own conversion; see code_pages.h.
#include "platform/code_pages.h"

#include <windows.h>

namespace plat {

std::optional<std::array<char32_t, 256>> code_page_characters(int number) {
    if (!is_single_byte_code_page(number) || !IsValidCodePage(static_cast<UINT>(number))) return std::nullopt;
    std::array<char32_t, 256> characters;
    for (int b = 0; b < 256; ++b) {
        char in = static_cast<char>(b);
        wchar_t out[2] = {};
        // A byte the code page leaves undefined is an error with MB_ERR_INVALID_CHARS; it then
        // stands for the code point of its own value, which is what Windows gives without the
        // flag for most such bytes, and what the iconv side gives for all of them.
        int n = MultiByteToWideChar(static_cast<UINT>(number), MB_ERR_INVALID_CHARS, &in, 1, out, 2);
        characters[b] = n == 1 ? static_cast<char32_t>(out[0]) : static_cast<char32_t>(b);
    }
    return characters;
}

}  // namespace plat
