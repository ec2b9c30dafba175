// The header grammar and the token reader of its numbers.
#include "messages/message_header.h"

#include <algorithm>
#include <climits>
#include <cstring>

#include "base/text.h"
#include "messages/source_line.h"

namespace messages {

namespace {

constexpr int kHeaderCapacity = kLineCapacity + 2;  // a treated line and the two spaces behind

using text::is_blank;
bool is_digit(char c) { return c >= '0' && c <= '9'; }

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

// The eight numbers. False when the compiler's rules abandon the header at a missing number,
// whose field `notes` names.
bool read_numbers(char*& p, IndexRecord& r, bool lenient, HeaderNotes& notes) {
    int number = next_number(p);
    notes.number = number;
    r.number = static_cast<std::uint16_t>(number);
    std::uint16_t* fields[] = {&r.hdr2, &r.hdr3, &r.hdr4, &r.hdr5};
    const char* names[] = {"hdr2", "hdr3", "hdr4", "hdr5"};
    for (int i = 0; i < 4; ++i) {
        int v = next_number(p);
        if (v == kNoToken && !lenient) return (notes.abandoned_at = names[i]), false;
        *fields[i] = static_cast<std::uint16_t>(v);
    }
    int v = next_number(p);
    if (v == kNoToken && !lenient) return (notes.abandoned_at = "width"), false;
    notes.width = v;
    notes.width_read = true;
    std::uint32_t width = static_cast<std::uint32_t>(v);
    r.width = (width == 0 || width > static_cast<std::uint32_t>(kMaxWidth)) ? kMaxWidth : width;
    r.page_lines = static_cast<std::uint8_t>(next_number(p));
    if (r.page_lines == 0) r.page_lines = 1;
    v = next_number(p);
    if (v == kNoToken && !lenient) return (notes.abandoned_at = "end_point"), false;
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

bool read_header(const char* line, IndexRecord& record, HeaderRules rules, HeaderNotes* notes) {
    HeaderNotes unused;
    HeaderNotes& note = notes ? *notes : unused;
    note = HeaderNotes{};
    const bool lenient = rules == HeaderRules::Update;
    char header[kHeaderCapacity + 1];
    copy_cut(header, line, kHeaderCapacity - 2);
    text::lower(header);
    std::strcat(header, "  ");  // every token, the last one too, has a delimiter behind it

    char* p = header;
    if (*p) ++p;
    bool raw = *p == '#';
    if (raw) ++p;
    record.raw = raw ? 1 : 0;
    if (!read_numbers(p, record, lenient, note)) {
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

}  // namespace messages
