// The game's single-byte texts in UTF-8 and back, through one code page's characters as the
// system gives them (plat::code_page_characters). Every byte has a character, so a text goes
// to UTF-8 and back unchanged on both systems.
#pragma once

#include <array>
#include <map>
#include <optional>
#include <string>
#include <string_view>
#include <unordered_map>

#include "base/result.h"

namespace translation {

class CodePageText {
public:
    // Nullopt when the system does not know the code page.
    static std::optional<CodePageText> load(int number);

    int number() const { return number_; }
    std::string name() const { return "Windows-" + std::to_string(number_); }

    std::string to_utf8(std::string_view bytes) const;
    // The bytes of UTF-8 `text`. Failed at the first character the code page has no byte for,
    // or the first malformed sequence, with the problem in words.
    Result from_utf8(std::string_view text, std::string* out) const;

private:
    int number_ = 0;
    std::array<char32_t, 256> characters_{};
    std::unordered_map<char32_t, unsigned char> bytes_;
};

// The code pages of one export or import, each loaded once.
class CodePages {
public:
    // Null when the system does not know `number`.
    const CodePageText* get(int number);

private:
    std::map<int, std::optional<CodePageText>> loaded_;
};

// The code page of a message's texts: `chosen` when given (non-zero), else Windows-1251 for a
// message in a "#RUS" section (language 0) and Windows-1252 for every other.
int code_page_for(int chosen, int language);

}  // namespace translation
