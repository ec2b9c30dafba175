// Small text rules shared by every reader of the game's text files.
#include "base/text.h"

#include <cctype>
#include <cstring>

namespace text {

void trim(char* text) {
    std::size_t len = std::strlen(text);
    while (len > 0 && is_blank(text[len - 1])) --len;
    text[len] = 0;
    std::size_t start = 0;
    while (start < len && is_blank(text[start])) ++start;
    if (start) std::memmove(text, text + start, len - start + 1);
}

void lower(char* text) {
    for (; *text; ++text) *text = static_cast<char>(std::tolower(static_cast<unsigned char>(*text)));
}

std::string lowered(std::string_view text) {
    std::string out(text);
    for (char& c : out) c = static_cast<char>(std::tolower(static_cast<unsigned char>(c)));
    return out;
}

bool starts_with_ignoring_case(std::string_view text, std::string_view prefix) {
    return text.size() >= prefix.size() && lowered(text.substr(0, prefix.size())) == prefix;
}

std::string trimmed(std::string_view text) {
    while (!text.empty() && is_blank(text.front())) text.remove_prefix(1);
    while (!text.empty() && is_blank(text.back())) text.remove_suffix(1);
    return std::string(text);
}

int make_directory(char* text, std::size_t capacity) {
    lower(text);
    std::size_t len = std::strlen(text);
    if (len == 0 || text[len - 1] == '\\' || text[len - 1] == ':') return static_cast<int>(len);
    if (len + 1 > capacity) return -1;
    text[len] = '\\';
    text[len + 1] = 0;
    return static_cast<int>(len + 1);
}

bool copy_if_fits(char* dst, std::size_t capacity, const char* src) {
    std::size_t len = std::strlen(src);
    if (len > capacity) return false;
    std::memcpy(dst, src, len + 1);
    return true;
}

bool append_if_fits(char* dst, std::size_t capacity, const char* src) {
    std::size_t have = std::strlen(dst);
    std::size_t add = std::strlen(src);
    if (have + add > capacity) return false;
    std::memcpy(dst + have, src, add + 1);
    return true;
}

}  // namespace text
