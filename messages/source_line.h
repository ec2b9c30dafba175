// One line of a message source as both compilers see it: the pieces a line is read in, the
// alignment of one line to a width (centre, justify) and the treatment that turns a piece into
// a section line, a header line or a text line.
#pragma once

#include "messages/message_tables.h"

namespace messages {

constexpr int kLinePieceChars = 249;      // a source line is read in pieces of at most this
// A line after its treatment: a piece, or a line widened to the width, plus a backslash.
constexpr int kLineCapacity = kMaxWidth + 2;
constexpr int kAlignChars = 250;          // alignment looks at no more of a text than this

// Aligns `text` in place to `width` (at most kMaxWidth): mode 1 centres it in exactly width
// characters, mode 2 widens its gaps up to width. A justified message (mode 2) leaves its last
// line alone (`not_last` 0); a line mode other than 0 overrides the message's mode. `text`
// must hold width + 1 characters.
void align_line(char* text, int width, int message_mode, int line_mode, int not_last);

// What one source line turned out to be once treated.
enum class LineKind { Skip, Section, Header, Text };

struct TreatedLine {
    LineKind kind = LineKind::Skip;
    int line_mode = 0;                 // 1 after "\c", 2 after "\e"
    char stripped[kLineCapacity + 1];  // the line without its outer whitespace
    char unstripped[kLineCapacity + 1];  // the line as written, for raw messages
};

// Treats one piece of a source line: the comment, the line alignment to the record's width,
// the section lines (which set `language`), the stripping, "..." (sets dots) and "@points"
// (sets has_points). `piece` holds at most kLinePieceChars characters.
void treat_line(const char* piece, IndexRecord& record, int& language, TreatedLine& out);

}  // namespace messages
