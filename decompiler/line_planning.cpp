// The writer run backwards for one string: the buffers that give it, the lines that "\e"
// widens to it, and what may begin a line; shared by the normal and the raw planner.
#include "decompiler/line_planning.h"

#include <algorithm>
#include <cstring>

#include "messages/message_writer.h"
#include "decompiler/unjustify.h"

namespace decompiler::planning {

using messages::StringSink;
using messages::align_line;
using messages::decode_string;
using messages::kAlignChars;
using messages::kLineCapacity;
using messages::kMaxWidth;
using messages::kStringRecordSize;
using messages::write_message;

std::string trimmed(const std::string& s) {
    std::size_t b = 0, e = s.size();
    while (b < e && is_blank(s[b])) ++b;
    while (e > b && is_blank(s[e - 1])) --e;
    return s.substr(b, e - b);
}

int effective_mode(const IndexRecord& r, int line_mode, int not_last) {
    int mode = r.align;
    if (mode == 2 && !not_last) mode = 0;
    return line_mode ? line_mode : mode;
}

std::string emitted(const std::string& buffer, const IndexRecord& r, int line_mode, int not_last) {
    char s[kLineCapacity + 1];
    std::size_t n = std::min<std::size_t>(buffer.size(), kMaxWidth);
    std::memcpy(s, buffer.data(), n);
    s[n] = 0;
    std::string text = r.raw ? std::string(s) : trimmed(s);
    std::memcpy(s, text.c_str(), text.size() + 1);
    align_line(s, static_cast<int>(r.width), r.align, line_mode, not_last);
    return s;
}

std::vector<std::string> buffers_for(const std::string& s, const IndexRecord& r, int line_mode, int not_last) {
    const std::size_t width = r.width;
    std::vector<std::string> c;
    switch (effective_mode(r, line_mode, not_last)) {
    case 1: c = {trimmed(s)}; break;
    case 2: c = unjustified_forms(s, static_cast<int>(width)); break;
    default: c = {s}; break;
    }
    std::vector<std::string> out;
    for (const std::string& b : c) {
        if (b.size() > width || b.find_first_of("\\\r\n") != std::string::npos) continue;
        // A normal message's buffer is built from words and single spaces: no tabs, no blanks
        // at either end.
        if (!r.raw && (b.find('\t') != std::string::npos || b != trimmed(b))) continue;
        if (emitted(b, r, line_mode, not_last) == s) out.push_back(b);
    }
    return out;
}

namespace {

// A stripped text line as the compiler goes on with it: a leading "..." is taken away (it
// sets the dots flag) before the line is told apart from a header.
std::string after_dots(const std::string& stripped) {
    return starts_with(stripped, 0, "...") ? trimmed(stripped.substr(3)) : stripped;
}

}  // namespace

// What may begin a text line: no "..." unless the record has the dots flag, nothing that reads
// as a header once the dots are gone, no "@points" unless the record has its flag.
bool fine_start(const std::string& stripped, const IndexRecord& r) {
    if (stripped.empty()) return false;
    if (starts_with(stripped, 0, "...") && !r.dots) return false;
    std::string rest = after_dots(stripped);
    if (!rest.empty() && rest[0] == '#') return false;
    if (starts_with(rest, 0, "@points") && !r.has_points) return false;
    return true;
}

bool marks_points(const std::string& stripped) { return starts_with(after_dots(stripped), 0, "@points"); }

// A text for a line that "\e" widens to the full-width text `j`: short enough for a line with
// its "\e", and one that the line treatment leaves alone before it justifies it. When
// `dots_taken`, `j` begins with "..." that the compiler takes away from the widened line; else
// the line must not begin with "..." in a message whose dots the compiler would take.
std::string widened_line_for(const std::string& j, const IndexRecord& r, bool dots_taken) {
    if (j.size() != r.width || !has_gap(j)) return {};
    std::string chosen;
    first_unjustified_form(j, static_cast<int>(r.width), [&](const std::string& u) {
        // Backslashes inside the text stay: the line treatment looks only at the last one.
        if (u.size() + 2 > kLineChars || u.find("//") != std::string::npos) return false;
        if (!fine_start(u, r) || (!dots_taken && !r.raw && starts_with(u, 0, "..."))) return false;
        chosen = u;
        return true;
    });
    return chosen;
}

std::string widened_source(const std::string& s, const IndexRecord& r) { return widened_line_for(s, r, false); }

// A line that "\e" widens to a full-width text whose first 250 characters, stripped, are the
// centred text `c`: centring looks at no more of a buffer than that, so what stands behind is
// free. It is one made-up word, behind enough spaces to begin at or beyond character 250.
// Empty when no such line is found.
std::string centred_widened_line(const std::string& c, const IndexRecord& r) {
    const std::size_t width = r.width;
    const std::size_t read = static_cast<std::size_t>(kAlignChars);
    if (width <= read || c.size() > read || c.empty()) return {};
    for (std::size_t gap = c.size() < read ? read - c.size() : 0; c.size() + gap < width; ++gap) {
        std::string j = c + std::string(gap, ' ') + std::string(width - c.size() - gap, 'x');
        std::string u = widened_line_for(j, r, false);
        if (!u.empty()) return u + "\\e";
    }
    return {};
}

// Whether the writer, run over `text` as if the text before it had ended its last string with a
// backslash, makes just the strings first..last of `s`.
bool writer_gives(const IndexRecord& r, const std::vector<std::string>& s, int line_mode, const std::string& text,
                    std::size_t first, std::size_t last) {
    class Collect final : public StringSink {
    public:
        bool put_string(const std::uint8_t* record) override {
            strings.emplace_back(decode_string(std::span(record, kStringRecordSize)).text);
            return true;
        }
        std::vector<std::string> strings;
    } collect;
    IndexRecord copy = r;
    copy.string_count = 0;
    std::uint32_t running = 0;
    write_message(text.c_str(), copy, collect, running, line_mode);
    return collect.strings.size() == last - first + 1 &&
           std::equal(collect.strings.begin(), collect.strings.end(), s.begin() + static_cast<std::ptrdiff_t>(first));
}

}  // namespace decompiler::planning
