// The text rules that the full compiler and the single-message update share: the token
// reader of header numbers, the alignment of one line, the header grammar, the treatment of
// one source line, the collection of a message's text and the message writer that splits it
// into strings.
#pragma once

#include <cstddef>
#include <cstdint>

#include "messages/message_tables.h"

namespace messages {

constexpr int kNoToken = -30000;          // what the token reader answers at the end of a text
constexpr int kLinePieceChars = 249;      // a source line is read in pieces of at most this
constexpr int kTextChars = 9999;          // the collected text of one message
// A line after its treatment: a piece, or a line widened to the width, plus a backslash.
constexpr int kLineCapacity = kMaxWidth + 2;
constexpr int kAlignChars = 250;          // alignment looks at no more of a text than this

// Moves the cursor past carriage returns, line feeds, tabs and spaces.
void skip_whitespace(const char*& cursor);
// The next whitespace-delimited token as a number: the token is ended in place and the
// cursor moves past it and one delimiter. kNoToken when nothing is left.
int next_number(char*& cursor);
// The decimal value of leading digits with an optional sign; 0 without digits. Values
// beyond 32 bits saturate, the same on every system.
int text_to_int(const char* text);

// Aligns `text` in place to `width` (at most kMaxWidth): mode 1 centres it in exactly width
// characters, mode 2 widens its gaps up to width. A justified message (mode 2) leaves its last
// line alone (`not_last` 0); a line mode other than 0 overrides the message's mode. `text`
// must hold width + 1 characters.
void align_line(char* text, int width, int message_mode, int line_mode, int not_last);

// Where the writer puts the 305-byte string records; false when a write failed.
class StringSink {
public:
    virtual ~StringSink() = default;
    virtual bool put_string(const std::uint8_t* record) = 0;
};

// Splits a message's collected text into strings of at most the record's width, aligns and
// writes them, counting them in the record and in `running_count`; completes the signature and
// page_lines. A record without a width is written with width 299. False when a write failed.
bool write_message(const char* text, IndexRecord& record, StringSink& out, std::uint32_t& running_count,
                   int line_mode);

// How a header line is read. The full compiler abandons a header at its first missing number;
// the single-message update stores a missing number as kNoToken and counts a bare 'p' as a
// point of that value.
enum class HeaderRules { Compiler, Update };

// Reads a header line ("#" or "##" and its numbers, keywords, names and points) into a
// cleared record. The first character is skipped whatever it is. Returns the raw flag.
bool read_header(const char* line, IndexRecord& record, HeaderRules rules);

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

// The text of one message, collected line by line up to kTextChars characters.
class MessageText {
public:
    void clear() { length_ = 0; text_[0] = 0; }
    // A text line: the stripped form for a normal message, the unstripped one ended with a
    // backslash for a raw message. A line that would not fit is dropped.
    void add_line(const TreatedLine& line, bool raw);
    const char* c_str() const { return text_; }
    std::size_t length() const { return length_; }

private:
    void append(const char* s, std::size_t n);
    char text_[kTextChars + 1] = {};
    std::size_t length_ = 0;
};

// The page check of the full compiler: true when the message has more strings than its pages
// hold.
bool is_too_long(const IndexRecord& record);

}  // namespace messages
