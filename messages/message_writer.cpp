// The message writer, the collection of a message's text and the page check.
#include "messages/message_writer.h"

#include <algorithm>
#include <cstring>

#include "base/text.h"

namespace messages {

namespace {

using text::is_blank;

// Emits one string of the message writer.
class StringEmitter {
public:
    StringEmitter(IndexRecord& record, StringSink& out, std::uint32_t& running, int line_mode)
        : record_(record), out_(out), running_(running), line_mode_(line_mode) {}

    bool emit(const char* buffer, std::size_t length, int not_last) {
        char s[kMaxWidth + 2];
        std::memcpy(s, buffer, length);
        s[length] = 0;
        if (!record_.raw) text::trim(s);
        align_line(s, static_cast<int>(record_.width), record_.align, line_mode_, not_last);
        StringRecord r;
        r.number = record_.number;
        r.length = static_cast<std::uint16_t>(std::strlen(s));
        std::memcpy(r.text, s, r.length + 1);
        std::uint8_t bytes[kStringRecordSize];
        encode_string(r, bytes);
        ++record_.string_count;
        ++running_;
        return out_.put_string(bytes);
    }

private:
    IndexRecord& record_;
    StringSink& out_;
    std::uint32_t& running_;
    int line_mode_;
};

}  // namespace

bool write_message(const char* text, IndexRecord& record, StringSink& out, std::uint32_t& running_count,
                   int line_mode) {
    // A header abandoned before its width leaves none; without one no string could be made.
    if (record.width == 0 || record.width > static_cast<std::uint32_t>(kMaxWidth)) record.width = kMaxWidth;
    const std::size_t width = record.width;
    const bool raw = record.raw != 0;
    auto word_length = [raw](const char* p) {
        std::size_t n = 0;
        while (p[n] && p[n] != '\\' && p[n] != '\r' && p[n] != '\n' && (raw || (p[n] != ' ' && p[n] != '\t'))) ++n;
        return n;
    };
    // Moves the cursor past the delimiter behind a word, but never past the text's end.
    auto past_delimiter = [](const char*& p) {
        if (*p) ++p;
    };

    StringEmitter emitter(record, out, running_count, line_mode);
    bool ok = true;
    char buffer[kMaxWidth + 2];
    std::size_t c = 0;
    const char* p = text;
    while (*p) {
        std::size_t word = word_length(p);
        if (word == 0) {
            std::size_t run = 0;
            while (is_blank(p[run])) ++run;
            p += run;
            std::size_t spaces = std::min(run, width - c);
            std::memset(buffer + c, ' ', spaces);
            c += spaces;
            word = word_length(p);
        }
        if (c + word < width && p[word] != '\\') {
            std::memcpy(buffer + c, p, word);
            c += word;
            buffer[c++] = ' ';
            p += word;
            past_delimiter(p);
            continue;
        }
        if (c == 0) {
            std::size_t take = std::min(word, width);
            std::memcpy(buffer, p, take);
            c = take;
            std::size_t move = std::min(word + 1, width);
            if (move > word && p[word] == 0) move = word;
            p += move;
        } else if (c + word <= width) {
            std::memcpy(buffer + c, p, word);
            c += word;
            if (c < width) buffer[c++] = ' ';
            p += word;
            past_delimiter(p);
        }
        ok = emitter.emit(buffer, c, 1) && ok;
        c = 0;
    }
    if (c > 0) ok = emitter.emit(buffer, c, 0) && ok;
    record.signature = kSignature;
    if (record.string_count < record.page_lines) record.page_lines = record.string_count;
    return ok;
}

void MessageText::append(const char* s, std::size_t n) {
    std::memcpy(text_ + length_, s, n);
    length_ += n;
    text_[length_] = 0;
}

bool MessageText::add_line(const TreatedLine& line, bool raw) {
    const char* s = raw ? line.unstripped : line.stripped;
    std::size_t n = std::strlen(s);
    bool add_backslash = raw && (n == 0 || s[n - 1] != '\\');
    if (length_ + n + (add_backslash ? 1 : 0) >= kTextChars + 1) return false;
    append(s, n);
    if (add_backslash) append("\\", 1);
    bool ends_open = !raw && (n == 0 || (s[n - 1] != '\\' && s[n - 1] != ' '));
    // The space that separates this line from the next is dropped when the text is full.
    if (ends_open && length_ < static_cast<std::size_t>(kTextChars)) append(" ", 1);
    return true;
}

bool is_too_long(const IndexRecord& r) {
    if (r.string_count <= r.page_lines) return false;
    int m = 0;
    while (m < kPointCount && r.points[m] > 0) ++m;
    long long pages = 1;
    if (m > 0) pages = m + (static_cast<long long>(r.points[m - 1]) < static_cast<long long>(r.end_point) - 20 ? 1 : 0);
    return static_cast<long long>(r.page_lines) * pages < r.string_count;
}

}  // namespace messages
