// The lines of a normal message: its buffers joined into one text with the backslashes that
// end its strings (plan), then cut into the fewest lines the compiler reads back as that
// text (cut). The regions of strings that share a widened line are in widened_regions.cpp.
#include "decompiler/line_planning.h"

#include <algorithm>
#include <string>
#include <vector>

#include "decompiler/source_lines.h"

namespace decompiler::planning {

namespace {

// The pieces of `t` between the gaps where a line may end: single spaces, or any gap in a
// message with the dots flag (see cut_flow); the text behind the gap must be able to begin a
// line. The length of the longest, of the first and of the last.
struct Pieces {
    std::size_t longest = 0, first = 0, last = 0;
};

Pieces pieces_of(const std::string& t, const IndexRecord& r) {
    Pieces p;
    std::size_t run = 0;
    bool first_done = false;
    for (std::size_t i = 0; i < t.size(); ++i) {
        std::size_t gap = 0;
        while (t[i] == ' ' && i > 0 && t[i - 1] != ' ' && i + gap < t.size() && t[i + gap] == ' ') ++gap;
        bool line_end = gap > 0 && (gap == 1 || r.dots) && i + gap < t.size() && fine_start(t.substr(i + gap, 8), r);
        if (line_end) {
            if (!first_done) p.first = run;
            first_done = true;
            run = 0;
            i += gap - 1;
            continue;
        }
        p.longest = std::max(p.longest, ++run);
    }
    if (!first_done) p.first = run;
    p.last = run;
    return p;
}

// Room for the "..." that a line may need in front.
bool too_long_for_a_line(std::size_t n) { return n + 3 > kLineChars - 1; }

}  // namespace

bool needs_widening(const std::string& t, const IndexRecord& r) {
    return too_long_for_a_line(pieces_of(t, r).longest);
}

NormalText::NormalText(const IndexRecord& r, const std::vector<std::string>& s, int line_mode)
    : r_(r), s_(s), line_mode_(line_mode) {
    for (const std::string& x : s) ended_.push_back(buffers_for(x, r, line_mode, 1));
    if (!s.empty()) open_last_ = buffers_for(s.back(), r, line_mode, 0);
}

bool NormalText::writes_strings(const std::string& text, std::size_t first, std::size_t last) const {
    return writer_gives(r_, s_, line_mode_, text, first, last);
}

// Whether string i cannot be written as words: a piece between single spaces too long for a
// line, or a neighbour that may not begin a line and so shares one with it.
bool NormalText::crowded(std::size_t i) const {
    if (ended_[i].empty()) return true;
    const std::string& t = ended_[i][0];
    Pieces p = pieces_of(t, r_);
    if (too_long_for_a_line(p.longest)) return true;
    if (i + 1 < s_.size() && !ended_[i + 1].empty() && !ended_[i + 1][0].empty() && !fine_start(ended_[i + 1][0], r_) &&
        too_long_for_a_line(p.last + 1 + pieces_of(ended_[i + 1][0], r_).first))
        return true;
    if (i > 0 && !ended_[i - 1].empty() && !t.empty() && !fine_start(t, r_) &&
        too_long_for_a_line(pieces_of(ended_[i - 1][0], r_).last + 1 + p.first))
        return true;
    return false;
}

// Whether string i (if there is one) may begin the line behind a line widened by "\e".
bool NormalText::may_follow_a_line(std::size_t i) const {
    if (i >= s_.size() || ended_[i].empty() || ended_[i][0].empty()) return true;
    const std::string& t = ended_[i][0];
    return fine_start(r_.dots && starts_with(t, 0, "...") ? "..." + t : t, r_);
}

// Whether string i's buffer, whichever way it is ended, fits behind one space.
bool NormalText::fits_behind_a_space(std::size_t i) const {
    auto fits = [this](const std::vector<std::string>& b) {
        return !b.empty() && !b[0].empty() && b[0].size() + 1 <= r_.width;
    };
    // The last string is written as plan() writes it: open when it can be.
    bool open = i + 1 == s_.size() && !open_last_.empty() && !open_last_[0].empty() &&
                !single_full_word(open_last_[0], r_.width);
    return open ? fits(open_last_) : fits(ended_[i]);
}

bool NormalText::plan(Widen widen, std::vector<Block>& blocks) const {
    const std::size_t width = r_.width;
    const std::size_t n = s_.size();
    blocks.assign(1, Block{});
    auto flow = [&blocks]() -> std::string& {
        if (blocks.back().fixed) blocks.push_back(Block{});
        return blocks.back().text;
    };
    // Where the text stood before each string, so that a region found later can take back
    // the strings it covers.
    struct Mark {
        std::size_t blocks, length;
        bool glued;
    };
    std::vector<Mark> marks;
    std::size_t lowest = 0;  // strings before this one are in a region already
    bool glued = false;  // the text so far ends in a word the writer cuts at the width
    for (std::size_t i = 0; i < n;) {
        marks.resize(i);
        flow();  // the mark must stand in a run of text, which may still be empty
        marks.push_back(Mark{blocks.size(), blocks.back().text.size(), glued});
        bool last = i + 1 == n;
        const std::vector<std::string>& ended = ended_[i];
        bool too_wide = crowded(i);
        // The search for a widened line is the costly part of planning: only when it is used.
        if ((widen == Widen::Always || (widen != Widen::Never && too_wide)) && !glued &&
            emitted(s_[i], r_, line_mode_, 1) == s_[i]) {
            std::string u = may_follow_a_line(i + 1) ? widened_source(s_[i], r_) : std::string();
            if (!u.empty()) {
                blocks.push_back(Block{true, u + "\\e", {}});
                ++i;
                continue;
            }
        }
        if (widen != Widen::Never && too_wide && !glued && effective_mode(r_, line_mode_, 1) == 1 &&
            may_follow_a_line(i + 1) && emitted(s_[i], r_, line_mode_, 1) == s_[i]) {
            std::string line = centred_widened_line(trimmed(s_[i]), r_);
            if (!line.empty()) {
                blocks.push_back(Block{true, line, {}});
                ++i;
                continue;
            }
        }
        Region region;
        if (widen != Widen::Never && too_wide && find_region(i, lowest, region)) {
            const Mark& m = marks[region.first];
            if (!m.glued && m.blocks == blocks.size()) {
                Block& back = blocks.back();
                back.text.resize(m.length);
                std::erase_if(back.soft_breaks, [&m](std::size_t at) { return at >= m.length; });
                if (!region.words.empty()) flow() += region.words;
                blocks.push_back(Block{true, region.line, {}});
                i = region.last + 1;
                lowest = i;
                glued = false;
                continue;
            }
        }
        if (last) {
            // The last string may end with the text: the writer gives it its natural spacing.
            const std::vector<std::string>& open = open_last_;
            if (!open.empty() && !open[0].empty() && !single_full_word(open[0], width)) {
                flow() += open[0];
                break;
            }
        }
        if (ended.empty()) return false;
        const std::string& t = ended[0];
        glued = false;
        if (single_full_word(t, width)) {
            // The writer stops right behind a word as wide as the width.
            if (i + 1 < n && emitted("", r_, line_mode_, 1) == s_[i + 1]) {
                flow() += t + "\\";  // the backslash there makes the empty string behind it
                i += 2;
            } else if (i + 2 == n && emitted("", r_, line_mode_, 0) == s_[i + 1]) {
                flow() += t;  // the space behind the last line makes the empty last string
                i += 2;
            } else if (i + 1 < n) {
                flow() += t;  // runs on into the next string's first word
                // A line may also end there: the writer passes over the space the compiler puts
                // behind it, when the next string still fits behind the one space it keeps.
                if (fits_behind_a_space(i + 1)) blocks.back().soft_breaks.push_back(blocks.back().text.size());
                glued = true;
                ++i;
            } else {
                return false;
            }
            continue;
        }
        flow() += t + "\\";
        ++i;
    }
    return true;
}

// The line s..e of the flow text `f`, as it is written, when the compiler reads it back as
// that text. A line whose text begins with "..." gets three more, which the compiler takes
// away again (only in a message that has the dots flag anyway); so does the first line when
// it has to set the flag (`lead_dots`).
bool NormalText::fine_flow_line(const std::string& f, std::size_t s, std::size_t e, bool lead_dots,
                                std::string& line) const {
    line.assign(f, s, e - s);
    if (lead_dots || (r_.dots && starts_with(line, 0, "..."))) line.insert(0, "...");
    if (line.size() > kLineChars || !fine_start(line, r_)) return false;
    std::size_t b = line.rfind('\\');
    return b == std::string::npos || b + 1 == line.size() || (line[b + 1] != 'c' && line[b + 1] != 'e');
}

// Most texts fit on one line, which is then the fewest: the search below would find that line
// first, so it is taken without the search, under the same conditions.
bool NormalText::one_line(const std::string& f, bool lead_dots, int points_in, int points_out,
                          std::vector<std::string>& lines) const {
    const std::size_t n = f.size();
    if (f[0] == '#' || f.find("//") != std::string::npos) return false;
    const bool dots = f.compare(0, 3, "...") == 0;
    const bool points = f.compare(0, 7, "@points") == 0;
    if ((dots && !r_.dots) || (points && !r_.has_points)) return false;
    if (n + ((lead_dots || dots) ? 3 : 0) > kLineChars) return false;
    std::size_t b = f.rfind('\\');
    if (b != std::string::npos && b + 1 < n && (f[b + 1] == 'c' || f[b + 1] == 'e')) return false;
    if ((points_in | (points ? 1 : 0)) != points_out) return false;
    std::string line;
    fine_flow_line(f, 0, n, lead_dots, line);
    lines.push_back(line);
    return true;
}

// The fewest lines for the flow text `f`, entered with the "@points" mark `points_in` and left
// with `points_out`. A line ends behind a backslash or at a single space; the compiler puts
// the space back between two lines. With the dots flag set a line may end at a wider gap too:
// a line of "..." alone adds one more space.
bool NormalText::cut_flow(const Block& block, bool lead_dots, int points_in, int points_out,
                          std::vector<std::string>& lines) const {
    const std::string& f = block.text;
    const std::size_t n = f.size();
    if (n == 0) return points_in == points_out && !lead_dots;
    if (one_line(f, lead_dots, points_in, points_out, lines)) return true;
    std::vector<bool> soft(n + 1, false);
    for (std::size_t at : block.soft_breaks) soft[at] = true;
    struct Step {
        std::size_t count = kNone, from = 0, line_end = 0;
        int points_from = 0;
    };
    std::vector<Step> best[2] = {std::vector<Step>(n + 1), std::vector<Step>(n + 1)};
    best[points_in][0].count = 0;
    for (std::size_t s = 0; s < n; ++s) {
        if (best[0][s].count == kNone && best[1][s].count == kNone) continue;
        // What the line's beginning decides; the same checks as fine_flow_line, made once.
        if (f[s] == '#') continue;
        const bool dots_start = f.compare(s, 3, "...") == 0;
        const bool points_start = f.compare(s, 7, "@points") == 0;
        const bool lead = lead_dots && s == 0;
        std::size_t last_backslash = kNone;
        for (std::size_t e = s + 1; e <= n; ++e) {
            if (f[e - 1] == '\\') last_backslash = e - 1;
            if (e - s >= 2 && f[e - 2] == '/' && f[e - 1] == '/') break;
            std::size_t next = kNone;
            if (e == n || f[e - 1] == '\\' || soft[e]) {
                next = e;
            } else if (f[e] == ' ' && !is_blank(f[e - 1])) {
                std::size_t gap = 1;
                while (e + gap < n && f[e + gap] == ' ') ++gap;
                if (e + gap < n && (gap == 1 || r_.dots)) next = e + gap;
            }
            if (next == kNone) continue;
            const std::size_t length = e - s;
            const bool dots = dots_start && length >= 3;
            const bool points = points_start && length >= 7;
            if ((dots && !r_.dots) || (points && !r_.has_points)) continue;
            if (length + ((lead || dots) ? 3 : 0) > kLineChars) break;
            if (last_backslash != kNone && last_backslash + 1 < e &&
                (f[last_backslash + 1] == 'c' || f[last_backslash + 1] == 'e'))
                continue;
            for (int p = 0; p < 2; ++p) {
                if (best[p][s].count == kNone) continue;
                int q = p | (points ? 1 : 0);
                std::size_t count = best[p][s].count + 1 + (next > e + 1 ? next - e - 1 : 0);
                if (best[q][next].count <= count) continue;
                best[q][next] = Step{count, s, e, p};
            }
        }
    }
    if (best[points_out][n].count == kNone) return false;
    std::string line;
    std::vector<std::string> cut;
    for (std::size_t at = n, p = static_cast<std::size_t>(points_out); at > 0;) {
        const Step& step = best[p][at];
        // A line of "..." alone in a message with the dots flag is an empty line that the
        // compiler follows with a space: one for each space of the gap beyond the first.
        for (std::size_t gap = step.line_end; gap + 1 < at && f[gap + 1] == ' '; ++gap) cut.push_back("...");
        fine_flow_line(f, step.from, step.line_end, lead_dots && step.from == 0, line);
        cut.push_back(line);
        at = step.from;
        p = static_cast<std::size_t>(step.points_from);
    }
    lines.insert(lines.end(), cut.rbegin(), cut.rend());
    return true;
}

bool NormalText::cut(const std::vector<Block>& blocks, std::vector<std::string>& lines) const {
    // Which blocks may bring the "@points" mark: it must be set once when the record has it.
    const int want = r_.has_points ? 1 : 0;
    for (std::size_t carrier = 0; carrier <= blocks.size(); ++carrier) {
        if (want == 0 && carrier > 0) break;
        if (want == 1 && carrier == blocks.size()) break;
        std::vector<std::string> out;
        int points = 0;
        bool ok = true;
        for (std::size_t b = 0; b < blocks.size() && ok; ++b) {
            const Block& block = blocks[b];
            int after = (want == 1 && b >= carrier) ? 1 : 0;
            bool lead_dots = b == 0 && dots_in_lines(r_, line_mode_);
            if (block.fixed) {
                int mark = marks_points(block.text) ? 1 : 0;
                ok = (points | mark) == after && !lead_dots;
                out.push_back(block.text);
            } else {
                ok = cut_flow(block, lead_dots, points, after, out);
            }
            points = after;
        }
        if (ok) {
            lines = out;
            return true;
        }
    }
    return false;
}

}  // namespace decompiler::planning
