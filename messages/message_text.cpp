// Token reader, line alignment, header grammar, line treatment and message writer.
#include "messages/message_text.h"

#include <algorithm>
#include <climits>
#include <cstring>

#include "base/text.h"

namespace messages {

namespace {

constexpr int kHeaderCapacity = kLineCapacity + 2;  // a treated line and the two spaces behind

bool is_blank(char c) { return c == '\r' || c == '\n' || c == '\t' || c == ' '; }
bool is_digit(char c) { return c >= '0' && c <= '9'; }

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

// A whitespace-delimited token: the cursor moves past it and one delimiter. The text is left
// as it is, so that a token that turns out not to be wanted can be given back.
struct Token {
    char* start = nullptr;
    std::size_t length = 0;
};

Token next_token(char*& cursor) {
    const char* c = cursor;
    skip_whitespace(c);
    cursor = const_cast<char*>(c);
    Token t;
    t.start = cursor;
    while (cursor[t.length] && !is_blank(cursor[t.length])) ++t.length;
    cursor += t.length;
    if (*cursor) ++cursor;
    return t;
}

bool token_ends_with(const Token& t, const char* suffix) {
    std::size_t n = std::strlen(suffix);
    return t.length >= n && std::memcmp(t.start + t.length - n, suffix, n) == 0;
}

void store_name(char (&field)[kNameBytes], const Token& t) {
    std::size_t n = std::min<std::size_t>(t.length, kNameBytes - 1);
    std::memcpy(field, t.start, n);
    field[n] = 0;
}

// The first occurrence of a keyword in the rest of the header is blanked out, so that its
// letters are not read again as a name or as a point's 'p'.
bool take_keyword(char* rest, const char* keyword) {
    char* k = std::strstr(rest, keyword);
    if (!k) return false;
    std::memset(k, ' ', std::strlen(keyword));
    return true;
}

// The eight numbers. False when the compiler's rules abandon the header at a missing number.
bool read_numbers(char*& p, IndexRecord& r, bool lenient) {
    r.number = static_cast<std::uint16_t>(next_number(p));
    std::uint16_t* fields[] = {&r.hdr2, &r.hdr3, &r.hdr4, &r.hdr5};
    for (std::uint16_t* f : fields) {
        int v = next_number(p);
        if (v == kNoToken && !lenient) return false;
        *f = static_cast<std::uint16_t>(v);
    }
    int v = next_number(p);
    if (v == kNoToken && !lenient) return false;
    std::uint32_t width = static_cast<std::uint32_t>(v);
    r.width = (width == 0 || width > static_cast<std::uint32_t>(kMaxWidth)) ? kMaxWidth : width;
    r.page_lines = static_cast<std::uint8_t>(next_number(p));
    if (r.page_lines == 0) r.page_lines = 1;
    v = next_number(p);
    if (v == kNoToken && !lenient) return false;
    r.end_point = v;
    return true;
}

// Up to two names: a ".wav" sound and an ".avs" film with its two numbers. The first token
// that is neither is left for the points.
void read_names(char*& p, IndexRecord& r, bool lenient) {
    r.avs_first = kNoAvsNumber;
    r.avs_second = kNoAvsNumber;
    r.wav_name[0] = 0;
    r.avs_name[0] = 0;
    for (int i = 0; i < 2; ++i) {
        char* before = p;
        Token t = next_token(p);
        if (t.length == 0) {
            p = before;
            return;
        }
        if (token_ends_with(t, ".wav")) {
            store_name(r.wav_name, t);
        } else if (token_ends_with(t, ".avs")) {
            store_name(r.avs_name, t);
            int first = next_number(p);
            if (first == kNoToken && !lenient) continue;
            r.avs_first = static_cast<std::uint16_t>(first);
            int second = next_number(p);
            if (second != kNoToken || lenient) r.avs_second = static_cast<std::uint16_t>(second);
        } else {
            p = before;
            return;
        }
    }
}

// Points: each 'p' directly followed by a number adds that number to the running sum, which
// the next point entry keeps. Under the update's rules a bare 'p' counts as kNoToken.
void read_points(char* p, IndexRecord& r, bool lenient) {
    int count = 0;
    std::uint32_t sum = 0;  // sums wrap as 32-bit values do, never overflow
    while (count < kPointCount) {
        char* q = std::strchr(p, 'p');
        if (!q) return;
        char* num = q + 1;
        bool has_number = is_digit(num[0]) || ((num[0] == '-' || num[0] == '+') && is_digit(num[1]));
        int value = kNoToken;
        if (has_number) {
            value = text_to_int(num);
            p = num + 1;
            while (is_digit(*p)) ++p;
        } else {
            p = num;
            if (!lenient) continue;
        }
        sum = count == 0 ? static_cast<std::uint32_t>(value) : sum + static_cast<std::uint32_t>(value);
        r.points[count++] = static_cast<std::int32_t>(sum);
    }
}

// Emits one string of the message writer.
class StringEmitter {
public:
    StringEmitter(IndexRecord& record, StringSink& out, std::uint32_t& running, int line_mode)
        : record_(record), out_(out), running_(running), line_mode_(line_mode) {}

    bool emit(const char* buffer, std::size_t length, int not_last) {
        char s[kMaxWidth + 2];
        std::memcpy(s, buffer, length);
        s[length] = 0;
        if (!record_.raw) config::trim(s);
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

void skip_whitespace(const char*& cursor) {
    while (is_blank(*cursor)) ++cursor;
}

int text_to_int(const char* text) {
    while (is_blank(*text)) ++text;
    bool negative = *text == '-';
    if (*text == '-' || *text == '+') ++text;
    long long v = 0;
    for (; is_digit(*text); ++text) {
        v = v * 10 + (*text - '0');
        if (v > static_cast<long long>(INT_MAX) + 1) v = static_cast<long long>(INT_MAX) + 1;
    }
    if (negative) v = -v;
    return static_cast<int>(std::clamp<long long>(v, INT_MIN, INT_MAX));
}

int next_number(char*& cursor) {
    Token t = next_token(cursor);
    if (t.length == 0) return kNoToken;
    t.start[t.length] = 0;  // ended in place: its delimiter was passed already
    return text_to_int(t.start);
}

void align_line(char* text, int width, int message_mode, int line_mode, int not_last) {
    width = std::clamp(width, 0, kMaxWidth);
    int mode = message_mode;
    if (mode == 2 && !not_last) mode = 0;
    if (line_mode) mode = line_mode;
    if (mode != 1 && mode != 2) return;

    char work[kAlignChars + 1];
    copy_cut(work, text, kAlignChars);
    config::trim(work);
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

bool read_header(const char* line, IndexRecord& record, HeaderRules rules) {
    const bool lenient = rules == HeaderRules::Update;
    char header[kHeaderCapacity + 1];
    copy_cut(header, line, kHeaderCapacity - 2);
    config::lower(header);
    std::strcat(header, "  ");  // every token, the last one too, has a delimiter behind it

    char* p = header;
    if (*p) ++p;
    bool raw = *p == '#';
    if (raw) ++p;
    record.raw = raw ? 1 : 0;
    if (!read_numbers(p, record, lenient)) {
        if (record.width == 0) record.width = kMaxWidth;  // abandoned before its width
        return raw;
    }
    if (take_keyword(p, "nostop")) record.nostop = 1;
    if (take_keyword(p, "-c")) record.align = 1;
    if (take_keyword(p, "-e")) record.align = 2;
    read_names(p, record, lenient);
    read_points(p, record, lenient);
    return raw;
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
    config::trim(out.stripped);
    if (!out.stripped[0]) return;
    if (starts_with(out.stripped, "...")) {
        std::memmove(out.stripped, out.stripped + 3, std::strlen(out.stripped + 3) + 1);
        config::trim(out.stripped);
        record.dots = 1;
    }
    if (starts_with(out.stripped, "@points")) record.has_points = 1;
    out.kind = out.stripped[0] == '#' ? LineKind::Header : LineKind::Text;
}

void MessageText::append(const char* s, std::size_t n) {
    std::memcpy(text_ + length_, s, n);
    length_ += n;
    text_[length_] = 0;
}

void MessageText::add_line(const TreatedLine& line, bool raw) {
    const char* s = raw ? line.unstripped : line.stripped;
    std::size_t n = std::strlen(s);
    bool add_backslash = raw && (n == 0 || s[n - 1] != '\\');
    if (length_ + n + (add_backslash ? 1 : 0) >= kTextChars + 1) return;
    append(s, n);
    if (add_backslash) append("\\", 1);
    bool ends_open = !raw && (n == 0 || (s[n - 1] != '\\' && s[n - 1] != ' '));
    // The space that separates this line from the next is dropped when the text is full.
    if (ends_open && length_ < static_cast<std::size_t>(kTextChars)) append(" ", 1);
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
