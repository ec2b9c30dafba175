// From source lines to strings: the collection of one message's text line by line, the writer
// that splits that text into strings of at most the record's width, aligns and writes them,
// and the page check of the full compiler.
#pragma once

#include <cstddef>
#include <cstdint>

#include "messages/message_tables.h"
#include "messages/source_line.h"

namespace messages {

constexpr int kTextChars = 9999;          // the collected text of one message

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

// The text of one message, collected line by line up to kTextChars characters.
class MessageText {
public:
    void clear() { length_ = 0; text_[0] = 0; }
    // A text line: the stripped form for a normal message, the unstripped one ended with a
    // backslash for a raw message. A line that would not fit is dropped: false then.
    bool add_line(const TreatedLine& line, bool raw);
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
