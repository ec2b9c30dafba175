// Small text rules shared by every reader of the game's text files.
#pragma once

#include <cstddef>
#include <string>
#include <string_view>

namespace text {

// The characters the game's text readers take as blanks: space, tab, CR and LF.
constexpr bool is_blank(char c) { return c == ' ' || c == '\t' || c == '\r' || c == '\n'; }

// Removes leading and trailing blanks, tabs, CR and LF in place; inner characters stay.
void trim(char* text);
// Lower-cases the single-byte text in place.
void lower(char* text);
// The directory rule: lower-case the text and, unless it is empty or already ends with a
// backslash or a colon, append a backslash. `capacity` counts the characters the buffer
// holds besides its NUL; when the backslash does not fit, the text is left as it was and
// -1 is returned. Otherwise returns the new length.
int make_directory(char* text, std::size_t capacity);
// The text lower-cased, as `lower` does in place.
std::string lowered(std::string_view text);
// Whether `text` begins with `prefix` (given in lower case) without regard to case.
bool starts_with_ignoring_case(std::string_view text, std::string_view prefix);
// The text without its leading and trailing blanks, tabs, CR and LF, as `trim` does in place.
std::string trimmed(std::string_view text);

// Copies `src` into `dst` (capacity characters plus NUL) only if it fits whole.
bool copy_if_fits(char* dst, std::size_t capacity, const char* src);
// Appends `src` to `dst` only if the result fits whole.
bool append_if_fits(char* dst, std::size_t capacity, const char* src);

}  // namespace text
