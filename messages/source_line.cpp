// The alignment of one line and the treatment of one source line.
#include "messages/source_line.h"

#include <algorithm>
#include <cstring>

#include "base/text.h"

namespace messages {

namespace {

char lower_char(char c) { return (c >= 'A' && c <= 'Z') ? static_cast<char>(c - 'A' + 'a') : c; }

bool starts_with_nocase(const char* text, const char* prefix) {
    for (; *prefix; ++text, ++prefix)
        if (lower_char(*text) != *prefix) return false;
    return true;
}

bool starts_with(const char* text, const char* prefix) {
    return std::strncmp(text, prefix, std::strlen(prefix)) == 0;
}

// Copies at most `max` characters of `src` and terminates the copy.
void copy_cut(char* dst, const char* src, std::size_t max) {
    std::size_t n = strnlen(src, max);
    std::memcpy(dst, src, n);
    dst[n] = 0;
}

}  // namespace

void align_line(char* text, int width, int message_mode, int line_mode, int not_last) {
    width = std::clamp(width, 0, kMaxWidth);
    int mode = message_mode;
    if (mode == 2 && !not_last) mode = 0;
    if (line_mode) mode = line_mode;
    if (mode != 1 && mode != 2) return;

    char work[kAlignChars + 1];
    copy_cut(work, text, kAlignChars);
    text::trim(work);
    std::size_t d = std::min<std::size_t>(std::strlen(work), static_cast<std::size_t>(width));
    work[d] = 0;
    if (mode == 1) {
        std::memset(text, ' ', static_cast<std::size_t>(width));
        std::memcpy(text + (width - d) / 2, work, d);
        text[width] = 0;
        return;
    }
    std::memcpy(text, work, d + 1);
    std::size_t length = d;
    int missing = width - static_cast<int>(d);
    bool widened = true;
    while (missing > 0 && widened) {
        widened = false;
        std::size_t end = length;  // a pass covers the positions of the text as it began
        for (std::size_t i = 0; i < end && missing > 0;) {
            if (text[i] != ' ' && text[i] != '\t') {
                ++i;
                continue;
            }
            text[i] = ' ';
            std::memmove(text + i + 2, text + i + 1, length - i);
            text[i + 1] = ' ';
            ++length;
            i += 2;
            --missing;
            widened = true;
        }
    }
}

void treat_line(const char* piece, IndexRecord& record, int& language, TreatedLine& out) {
    char line[kLineCapacity + 1];
    copy_cut(line, piece, kLinePieceChars);
    out.kind = LineKind::Skip;
    out.line_mode = 0;
    out.stripped[0] = 0;
    out.unstripped[0] = 0;

    if (char* comment = std::strstr(line, "//")) *comment = 0;
    if (char* backslash = std::strrchr(line, '\\'); backslash && (backslash[1] == 'c' || backslash[1] == 'e')) {
        out.line_mode = backslash[1] == 'c' ? 1 : 2;
        *backslash = 0;
        align_line(line, static_cast<int>(record.width), 0, out.line_mode, 1);
        std::strcat(line, "\\");
    }
    if (starts_with_nocase(line, "#rus")) {
        language = 0;
        out.kind = LineKind::Section;
        return;
    }
    if (starts_with_nocase(line, "#inter")) {
        language = 1;
        out.kind = LineKind::Section;
        return;
    }
    std::strcpy(out.unstripped, line);
    out.unstripped[std::strcspn(out.unstripped, "\r\n")] = 0;
    std::strcpy(out.stripped, line);
    text::trim(out.stripped);
    if (!out.stripped[0]) return;
    if (starts_with(out.stripped, "...")) {
        std::memmove(out.stripped, out.stripped + 3, std::strlen(out.stripped + 3) + 1);
        text::trim(out.stripped);
        record.dots = 1;
    }
    if (starts_with(out.stripped, "@points")) record.has_points = 1;
    out.kind = out.stripped[0] == '#' ? LineKind::Header : LineKind::Text;
}

}  // namespace messages
