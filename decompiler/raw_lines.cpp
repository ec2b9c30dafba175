// The lines of a raw message: one per buffer, the compiler ending each with a backslash;
// full-width buffers run on or leave the writer's empty string behind them, and buffers too
// long for a line come from widened lines.
#include "decompiler/line_planning.h"

#include <cstring>
#include <string>
#include <vector>

#include "decompiler/source_lines.h"

namespace decompiler::planning {

using messages::align_line;
using messages::kLineCapacity;

std::string centred_line_for(const std::string& full, const IndexRecord& r) {
    std::string t = trimmed(full);
    if (t.size() + 2 > kLineChars || t.find("//") != std::string::npos || (!t.empty() && !fine_start(t, r)))
        return {};
    char centred[kLineCapacity + 1];
    std::memcpy(centred, t.c_str(), t.size() + 1);
    align_line(centred, static_cast<int>(r.width), 0, 1, 1);
    return full == centred ? t + "\\c" : std::string();
}

namespace {

// A line that the line treatment widens to the full-width buffer `full`: "\e" behind a text
// that justifies to it, or "\c" behind one that centres to it.
bool widened_raw_line(const std::string& full, const IndexRecord& r, RawLine& out) {
    std::string u = widened_source(full, r);
    if (!u.empty()) {
        out = RawLine{true, u + "\\e"};
        return true;
    }
    std::string line = centred_line_for(full, r);
    if (line.empty()) return false;
    out = RawLine{true, line};
    return true;
}

// Whether the buffer `b` of string i cannot be written as a line: too long, or followed by a
// buffer that may not begin a line and does not fit behind it.
bool raw_crowded(const IndexRecord& r, const std::vector<std::vector<std::string>>& buffers, std::size_t i,
                 const std::string& b) {
    if (b.size() + 1 > kLineChars && b.size() != kLineChars) return true;
    if (i + 1 >= buffers.size() || buffers[i + 1].empty()) return false;
    const std::string& next = buffers[i + 1][0];
    return !fine_start(trimmed(next + "\\"), r) && b.size() + next.size() + 2 > kLineChars;
}

// A raw line that begins with "@points", for a message that has the flag although none of its
// buffers begins so: the width cut the line into pieces that alignment stripped. Padded back
// to the width with the blanks alignment takes away again, the pieces of strings first..last
// run on into one line. Empty when no such run is found.
struct PointsLine {
    std::size_t first = 0, last = 0;
    std::string text;
};

bool points_line(const IndexRecord& r, const std::vector<std::string>& s,
                 const std::vector<std::vector<std::string>>& buffers, int line_mode, PointsLine& out) {
    const std::size_t width = r.width;
    const std::string mark = "@points";
    for (std::size_t i = 0; i < s.size(); ++i) {
        if (buffers[i].empty() || buffers[i][0].empty() || buffers[i][0].size() >= mark.size() ||
            mark.compare(0, buffers[i][0].size(), buffers[i][0]) != 0)
            continue;
        // The first piece ends the width with its text; the next ones begin it.
        std::string text = std::string(width - buffers[i][0].size(), ' ') + buffers[i][0];
        std::string spelled = buffers[i][0];
        if (emitted(text, r, line_mode, 1) != s[i]) continue;
        for (std::size_t k = i + 1; k < s.size() && !buffers[k].empty(); ++k) {
            const std::string& t = buffers[k][0];
            spelled += t;
            bool done = spelled.size() >= mark.size();
            if (done && spelled.compare(0, mark.size(), mark) != 0) break;
            if (done && t.size() < width) {
                // A piece shorter than the width ends the line.
                out = PointsLine{i, k, text + t};
                return true;
            }
            std::string piece = t + std::string(width - t.size(), ' ');
            if (!done && t.size() < width) break;  // the mark would end before it is spelled
            if (emitted(piece, r, line_mode, 1) != s[k]) break;
            text += piece;
            if (text.size() + 1 > kLineChars) break;
        }
    }
    return false;
}

}  // namespace

// One line per buffer. A buffer as wide as the width makes the writer stop on the line's
// backslash and give an empty string behind it; when no empty string follows, the buffer
// runs on into the next line's text instead. A buffer too long for any line comes from a line
// that "\e" widened, together with its neighbours.
bool raw_plan(const IndexRecord& r, const std::vector<std::string>& s, int line_mode, bool prefer_widened,
              std::vector<RawLine>& out) {
    const std::size_t width = r.width;
    const std::size_t n = s.size();
    out.clear();
    std::vector<std::vector<std::string>> buffers;
    for (const std::string& x : s) buffers.push_back(buffers_for(x, r, line_mode, 1));
    std::vector<std::size_t> line_of(n, 0);  // the planned line each string is on
    PointsLine marked;
    bool marks = false;
    if (r.has_points) {
        marks = true;
        for (const auto& b : buffers)
            if (!b.empty() && marks_points(trimmed(b[0] + "\\"))) marks = false;
        marks = marks && points_line(r, s, buffers, line_mode, marked);
    }
    std::size_t lowest = 0;
    std::string run_on;
    for (std::size_t i = 0; i < n;) {
        const std::vector<std::string>& b = buffers[i];
        const std::string* shorter = nullptr;
        for (const std::string& x : b)
            if (x.size() < width) {
                shorter = &x;
                break;
            }
        line_of[i] = out.size();
        if (marks && i == marked.first && run_on.empty()) {
            out.push_back(RawLine{false, marked.text});
            for (std::size_t k = i; k <= marked.last; ++k) line_of[k] = line_of[i];
            i = marked.last + 1;
            continue;
        }
        if (shorter && run_on.empty() && raw_crowded(r, buffers, i, *shorter)) {
            RawRegion region;
            if (raw_region(r, s, buffers, line_mode, i, lowest, region) &&
                (region.first == i || line_of[region.first] < out.size())) {
                // Lines planned for the region's first strings are taken back.
                if (region.first < i) {
                    if (region.first > 0 && line_of[region.first - 1] == line_of[region.first]) return false;
                    out.resize(line_of[region.first]);
                }
                out.push_back(RawLine{true, region.line});
                i = region.last + 1;
                lowest = i;
                continue;
            }
        }
        bool empty_behind = i + 1 < n && emitted("", r, line_mode, 1) == s[i + 1];
        if (shorter && run_on.empty() && empty_behind && effective_mode(r, line_mode, 1) == 1 &&
            raw_crowded(r, buffers, i, *shorter)) {
            // Widened to the full width, the line leaves the writer's empty string behind it.
            std::string line = centred_widened_line(trimmed(s[i]), r);
            if (!line.empty()) {
                out.push_back(RawLine{true, line});
                line_of[i + 1] = line_of[i];
                i += 2;
                continue;
            }
        }
        if (run_on.empty() && empty_behind && (prefer_widened || !shorter)) {
            RawLine widened;
            bool found = false;
            for (const std::string& full : b)
                if (full.size() == width && (found = widened_raw_line(full, r, widened))) break;
            if (found && (prefer_widened || b[0].size() + 1 > kLineChars)) {
                out.push_back(widened);
                line_of[i + 1] = line_of[i];
                i += 2;
                continue;
            }
        }
        if (shorter) {
            out.push_back(RawLine{false, run_on + *shorter});
            run_on.clear();
            ++i;
        } else if (b.empty()) {
            return false;
        } else if (empty_behind) {
            out.push_back(RawLine{false, run_on + b[0]});
            run_on.clear();
            line_of[i + 1] = line_of[i];
            i += 2;
        } else if (i + 1 < n) {
            run_on += b[0];
            ++i;
        } else {
            return false;
        }
    }
    return run_on.empty();
}

namespace {

// `text` as a raw line: with the backslash that ends it, or, at the longest a line can be,
// without it, as the compiler adds it then; the line's last backslash must not read as "\c"
// or "\e" there.
bool closed_raw_line(const std::string& text, std::string& line) {
    if (text.size() + 1 <= kLineChars) {
        line = text + "\\";
        return true;
    }
    if (text.size() != kLineChars) return false;
    std::size_t b = text.rfind('\\');
    if (b != std::string::npos && b + 1 < text.size() && (text[b + 1] == 'c' || text[b + 1] == 'e')) return false;
    line = text;
    return true;
}

}  // namespace

// The planned lines as written. A text that may not begin a line goes behind the line before,
// where its backslash ends the string just as the end of that line would.
bool raw_lines(const IndexRecord& r, int line_mode, const std::vector<RawLine>& plan, std::vector<std::string>& lines) {
    lines.clear();
    bool last_fixed = false;
    bool points = false;
    for (const RawLine& x : plan) {
        if (x.fixed) {
            points = points || marks_points(trimmed(x.text));
            lines.push_back(x.text);
            last_fixed = true;
            continue;
        }
        const std::string& t = x.text;
        if (t.find("//") != std::string::npos) return false;
        std::string stripped = trimmed(t + "\\");
        bool can_start = fine_start(stripped, r);
        bool behind = !lines.empty() && !last_fixed && lines.back().back() == '\\';
        std::string line;
        if (can_start && closed_raw_line(t, line)) {
            lines.push_back(line);
            points = points || marks_points(stripped);
        } else if (behind && closed_raw_line(lines.back() + t, line)) {
            lines.back() = line;
        } else {
            return false;
        }
        last_fixed = false;
    }
    if (dots_in_lines(r, line_mode)) {
        bool dots = false;
        for (const std::string& l : lines) dots = dots || starts_with(trimmed(l), 0, "...");
        if (!dots) return false;
    }
    return points == (r.has_points != 0);
}

}  // namespace decompiler::planning
