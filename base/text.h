// Small text rules shared by every reader of the game's text files.
#pragma once

#include <cstddef>

namespace config {

// Removes leading and trailing blanks, tabs, CR and LF in place; inner characters stay.
void trim(char* text);
// Lower-cases the single-byte text in place.
void lower(char* text);
// The directory rule: lower-case the text and, unless it is empty or already ends with a
// backslash or a colon, append a backslash. `capacity` counts the characters the buffer
// holds besides its NUL; when the backslash does not fit, the text is left as it was and
// -1 is returned. Otherwise returns the new length.
int make_directory(char* text, std::size_t capacity);
// Copies `src` into `dst` (capacity characters plus NUL) only if it fits whole.
bool copy_if_fits(char* dst, std::size_t capacity, const char* src);
// Appends `src` to `dst` only if the result fits whole.
bool append_if_fits(char* dst, std::size_t capacity, const char* src);

}  // namespace config
