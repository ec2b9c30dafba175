#include "translation/code_page_text.h"

#include <cstdio>

#include "platform/code_pages.h"

namespace translation {

std::optional<CodePageText> CodePageText::load(int number) {
    auto characters = plat::code_page_characters(number);
    if (!characters) return std::nullopt;
    CodePageText t;
    t.number_ = number;
    t.characters_ = *characters;
    // The first byte of a character wins; a code page gives each character one byte.
    for (int b = 0; b < 256; ++b) t.bytes_.emplace(t.characters_[b], static_cast<unsigned char>(b));
    return t;
}

std::string CodePageText::to_utf8(std::string_view bytes) const {
    std::string out;
    out.reserve(bytes.size());
    for (char c : bytes) plat::append_utf8(&out, characters_[static_cast<unsigned char>(c)]);
    return out;
}

Result CodePageText::from_utf8(std::string_view text, std::string* out) const {
    out->clear();
    out->reserve(text.size());
    for (std::size_t i = 0; i < text.size();) {
        char32_t cp = 0;
        std::size_t length = plat::decode_utf8(text, i, &cp);
        if (length == 0) return Result::failed("the text is not valid UTF-8 (byte " + std::to_string(i + 1) + ")");
        auto byte = bytes_.find(cp);
        if (byte == bytes_.end()) {
            char code[16];
            std::snprintf(code, sizeof code, "U+%04X", static_cast<unsigned>(cp));
            return Result::failed("the character \"" + std::string(text.substr(i, length)) + "\" (" + code +
                                  ") has no place in " + name() + "; choose the code page with --encoding");
        }
        *out += static_cast<char>(byte->second);
        i += length;
    }
    return Result::applied();
}

const CodePageText* CodePages::get(int number) {
    auto it = loaded_.find(number);
    if (it == loaded_.end()) it = loaded_.emplace(number, CodePageText::load(number)).first;
    return it->second ? &*it->second : nullptr;
}

int code_page_for(int chosen, int language) {
    if (chosen != 0) return chosen;
    return language == 0 ? 1251 : 1252;
}

}  // namespace translation
