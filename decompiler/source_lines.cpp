// The writer's side, run backwards. A string is the writer's buffer after stripping and
// alignment, so for each string the buffers that give it are found first (the string itself,
// its stripped text when centred, or the texts that justify to it). Then:
//
// - a normal message's buffers are joined into one text, each ended with a backslash, which
//   ends a string wherever it stands; a buffer that is one word as wide as the width is cut
//   there by the writer itself and needs none. That text is cut into lines where the compiler
//   puts back what the cut removed: behind a backslash, at a single space, or (with the dots
//   flag) at a wider gap filled by lines of "..." alone. A string whose gaps are too wide for
//   any line comes from a line widened by "\e": alone, or shared with its neighbours and the
//   words before it; a centred one wider than centring reads gets a made-up tail.
// - a raw message has one line per buffer (the compiler ends each line with a backslash); a
//   buffer as wide as the width runs on into the next one, or leaves the empty string the
//   writer makes behind a line that fills the width; buffers too long for a line come from
//   widened lines too.
#include "decompiler/source_lines.h"

#include <algorithm>
#include <bit>
#include <cstring>
#include <functional>
#include <limits>

#include "messages/message_text.h"
#include "decompiler/unjustify.h"

namespace messages {

namespace {

constexpr std::size_t kLineChars = kLinePieceChars;  // a line of this length is still one piece
constexpr std::size_t kNone = std::numeric_limits<std::size_t>::max();
constexpr std::size_t kRegionReach = 6;  // strings a widened line may share, either side of one

bool is_blank(char c) { return c == ' ' || c == '\t' || c == '\r' || c == '\n'; }

std::string trimmed(const std::string& s) {
    std::size_t b = 0, e = s.size();
    while (b < e && is_blank(s[b])) ++b;
    while (e > b && is_blank(s[e - 1])) --e;
    return s.substr(b, e - b);
}

bool starts_with(const std::string& s, std::size_t at, const char* prefix) {
    return s.compare(at, std::strlen(prefix), prefix) == 0;
}

bool has_gap(const std::string& s) { return s.find_first_of(" \t") != std::string::npos; }

int effective_mode(const IndexRecord& r, int line_mode, int not_last) {
    int mode = r.align;
    if (mode == 2 && !not_last) mode = 0;
    return line_mode ? line_mode : mode;
}

// The string the writer makes of `buffer`.
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

// The buffers the writer turns into `s`, shortest first.
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

// A stripped text line as the compiler goes on with it: a leading "..." is taken away (it
// sets the dots flag) before the line is told apart from a header.
std::string after_dots(const std::string& stripped) {
    return starts_with(stripped, 0, "...") ? trimmed(stripped.substr(3)) : stripped;
}

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
    for (const std::string& u : unjustified_forms(j, static_cast<int>(r.width))) {
        // Backslashes inside the text stay: the line treatment looks only at the last one.
        if (u.size() + 2 > kLineChars || u.find("//") != std::string::npos) continue;
        if (!fine_start(u, r) || (!dots_taken && !r.raw && starts_with(u, 0, "..."))) continue;
        return u;
    }
    return {};
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

// Calls `visit` with every way of splitting `total` into `parts` gaps of at least one space
// and, when `with_lead`, a lead of any size before them, until it answers true or `budget`
// ways were tried.
template <class Visit>
bool for_each_spacing(std::size_t total, std::size_t parts, bool with_lead, std::size_t& budget, Visit visit) {
    std::vector<std::size_t> gaps(parts, 1);
    std::size_t minimum = parts;
    if (total < minimum) return false;
    std::size_t spare = total - minimum;
    // The lead and the gaps but the last take what they take; the last slot takes the rest.
    std::size_t slots = parts + (with_lead ? 1 : 0);
    if (slots == 0) return spare == 0 && budget-- > 0 && visit(std::size_t{0}, gaps);
    std::vector<std::size_t> part(slots, 0);
    for (;;) {
        std::size_t used = 0;
        for (std::size_t k = 0; k + 1 < slots; ++k) used += part[k];
        if (used <= spare) {
            part[slots - 1] = spare - used;
            std::size_t lead = with_lead ? part[0] : 0;
            for (std::size_t g = 0; g < parts; ++g) gaps[g] = 1 + part[g + (with_lead ? 1 : 0)];
            if (budget == 0) return false;
            --budget;
            if (visit(lead, gaps)) return true;
        }
        // The next choice of the free slots, as an odometer over 0..spare.
        std::size_t k = 0;
        while (k + 1 < slots && ++part[k] > spare) part[k++] = 0;
        if (k + 1 >= slots) return false;
    }
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

// ---- normal messages --------------------------------------------------------------------

// A run of the message text that is cut into lines, or one line written as it stands.
struct Block {
    bool fixed = false;
    std::string text;
    std::vector<std::size_t> soft_breaks;  // where a line may end although no space stands there
};

enum class Widen { WhenNeeded, Never, Always };

bool single_full_word(const std::string& t, std::size_t width) { return t.size() == width && !has_gap(t); }

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

bool needs_widening(const std::string& t, const IndexRecord& r) {
    return too_long_for_a_line(pieces_of(t, r).longest);
}

class NormalText {
public:
    NormalText(const IndexRecord& r, const std::vector<std::string>& s, int line_mode)
        : r_(r), s_(s), line_mode_(line_mode) {
        for (const std::string& x : s) ended_.push_back(buffers_for(x, r, line_mode, 1));
        if (!s.empty()) open_last_ = buffers_for(s.back(), r, line_mode, 0);
    }

    bool plan(Widen widen, std::vector<Block>& blocks) const;
    bool cut(const std::vector<Block>& blocks, std::vector<std::string>& lines) const;

private:
    // Strings first..last written as words (`words`, possibly none) and then one line that
    // "\e" widens, which the writer splits as it split them.
    struct Region {
        std::size_t first = 0, last = 0;
        std::string words, line;
    };
    bool find_region(std::size_t i, std::size_t lowest, Region& out) const;
    bool find_region(std::size_t i, std::size_t lowest, bool exact, std::size_t& budget, Region& out) const;
    bool crowded(std::size_t i) const;
    bool fits_behind_a_space(std::size_t i) const;
    bool may_follow_a_line(std::size_t i) const;
    bool writes_strings(const std::string& text, std::size_t first, std::size_t last) const;
    bool cut_flow(const Block& block, bool lead_dots, int points_in, int points_out,
                  std::vector<std::string>& lines) const;
    bool fine_flow_line(const std::string& f, std::size_t s, std::size_t e, bool lead_dots, std::string& line) const;

    const IndexRecord& r_;
    const std::vector<std::string>& s_;
    int line_mode_;
    std::vector<std::vector<std::string>> ended_;  // each string's buffers, ended by a backslash
    std::vector<std::string> open_last_;           // the last string's, ended by the text's end
};

bool NormalText::writes_strings(const std::string& text, std::size_t first, std::size_t last) const {
    return writer_gives(r_, s_, line_mode_, text, first, last);
}

// A line widened by "\e" that the writer shares out over several strings, behind words of the
// first of them: the text that gave string i when no line can hold its gaps. The widened
// text is the strings' buffers from some word of the first on, with gaps at the string
// boundaries that make it exactly as wide as the width (and a "..." in front, which the
// compiler takes away, in a message with the dots flag).
bool NormalText::find_region(std::size_t i, std::size_t lowest, Region& out) const {
    // Splits that leave nothing to choose (every boundary a backslash) are tried everywhere
    // first; then those with gaps to size, within a budget.
    std::size_t budget = 4000;
    return find_region(i, lowest, true, budget, out) || find_region(i, lowest, false, budget, out);
}

bool NormalText::find_region(std::size_t i, std::size_t lowest, bool exact, std::size_t& budget, Region& out) const {
    const std::size_t width = r_.width;
    const std::size_t n = s_.size();
    // The strings that one widened line holds whole are at most as wide as the width together.
    auto width_of = [this](std::size_t from, std::size_t to) {
        std::size_t total = 0;
        for (std::size_t k = from; k <= to; ++k) total += ended_[k].empty() ? 0 : ended_[k][0].size() + 1;
        return total;
    };
    for (std::size_t first = i + 1; first-- > lowest && first + kRegionReach >= i;) {
        if (first < i && width_of(first + 1, i) > width + 1) break;
        for (std::size_t last = i; last < n && last <= i + kRegionReach; ++last) {
            if (last > i && width_of(i + 1, last) > width + 1) break;
            std::vector<std::string> b;
            for (std::size_t k = first; k <= last; ++k) {
                const std::vector<std::string>& c = ended_[k];
                if (c.empty() || (k == first && c[0].empty())) break;
                b.push_back(c[0]);
            }
            if (b.size() != last - first + 1) continue;
            std::size_t rest = 0;
            for (std::size_t k = 1; k < b.size(); ++k) rest += b[k].size();
            const std::string& head = b[0];
            const std::size_t bounds = b.size() - 1;
            // The widened text begins at a word of the first buffer behind a single space, or
            // behind the whole buffer with the backslash that ends it.
            for (std::size_t x = 0; x <= head.size(); ++x) {
                const bool behind = x == head.size();
                if (behind && bounds == 0) break;
                if (!behind && x > 0 && !(x >= 2 && head[x - 1] == ' ' && head[x - 2] != ' ' && head[x] != ' '))
                    continue;
                std::string words = behind ? head : x ? head.substr(0, x - 1) : std::string();
                if (needs_widening(words, r_)) continue;
                std::size_t content = head.size() - x + rest;
                // Each boundary inside the widened text is a gap (the writer ended the string
                // there because the next word did not fit) or a backslash of the widened line.
                // Boundaries that are all backslashes leave nothing to choose: those go first.
                std::vector<unsigned> patterns;
                for (unsigned forced = 0; forced < (1u << bounds); ++forced) patterns.push_back(forced);
                std::stable_sort(patterns.begin(), patterns.end(), [](unsigned a, unsigned b) {
                    return std::popcount(a) > std::popcount(b);
                });
                for (unsigned forced : patterns) {
                    if (behind && !(forced & 1u)) continue;
                    std::size_t backslashes = 0;
                    bool fine = true;
                    for (std::size_t k = 0; k < bounds; ++k) {
                        bool bs = (forced >> k) & 1u;
                        backslashes += bs;
                        if (!bs && b[k + 1].empty()) fine = false;  // only a backslash ends an empty string
                    }
                    if (!fine || exact != (backslashes == bounds)) continue;
                    for (bool dots : {false, true}) {
                        if (dots && !r_.dots) break;
                        std::size_t frame = content + backslashes + (dots ? 3 : 0);
                        if (frame > width) continue;
                        auto visit = [&](std::size_t lead, const std::vector<std::size_t>& gaps) {
                            std::string v = head.substr(x);
                            for (std::size_t k = 1, g = 0; k < b.size(); ++k)
                                v += (((forced >> (k - 1)) & 1u) ? std::string("\\") : std::string(gaps[g++], ' ')) + b[k];
                            std::string j = dots ? "..." + std::string(lead, ' ') + v : v;
                            if (!has_gap(j)) return false;
                            if (!writes_strings((words.empty() ? "" : words + " ") + v + "\\", first, last)) return false;
                            if (!may_follow_a_line(last + 1)) return false;
                            std::string u = widened_line_for(j, r_, dots);
                            if (u.empty()) return false;
                            out = Region{first, last, words, u + "\\e"};
                            return true;
                        };
                        if (for_each_spacing(width - frame, bounds - backslashes, dots, budget, visit)) return true;
                        if (budget == 0) return false;
                    }
                }
            }
        }
    }
    return false;
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
        if (widen != Widen::Never && !glued && emitted(s_[i], r_, line_mode_, 1) == s_[i]) {
            std::string u = may_follow_a_line(i + 1) ? widened_source(s_[i], r_) : std::string();
            if (!u.empty() && (widen == Widen::Always || too_wide)) {
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

// The fewest lines for the flow text `f`, entered with the "@points" mark `points_in` and left
// with `points_out`. A line ends behind a backslash or at a single space; the compiler puts
// the space back between two lines. With the dots flag set a line may end at a wider gap too:
// a line of "..." alone adds one more space.
bool NormalText::cut_flow(const Block& block, bool lead_dots, int points_in, int points_out,
                          std::vector<std::string>& lines) const {
    const std::string& f = block.text;
    const std::size_t n = f.size();
    std::vector<bool> soft(n + 1, false);
    for (std::size_t at : block.soft_breaks) soft[at] = true;
    if (n == 0) return points_in == points_out && !lead_dots;
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

// ---- raw messages -----------------------------------------------------------------------

struct RawLine {
    bool fixed = false;  // widened by the line treatment; written as it stands
    std::string text;    // without the backslash the compiler ends a raw line with
};

// A line that "\c" widens to `full`, the text of a raw line centred to the width; empty when
// there is none.
std::string centred_line_for(const std::string& full, const IndexRecord& r) {
    std::string t = trimmed(full);
    if (t.size() + 2 > kLineChars || t.find("//") != std::string::npos || (!t.empty() && !fine_start(t, r)))
        return {};
    char centred[kLineCapacity + 1];
    std::memcpy(centred, t.c_str(), t.size() + 1);
    align_line(centred, static_cast<int>(r.width), 0, 1, 1);
    return full == centred ? t + "\\c" : std::string();
}

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

// Strings first..last of a raw message from one line that "\e" widened: their buffers, joined
// by the backslashes that ended them, are the widened text. A centred buffer longer than the
// 250 characters centring reads may have had anything behind them; a made-up word stands in.
struct RawRegion {
    std::size_t first = 0, last = 0;
    std::string line;
};


bool raw_region(const IndexRecord& r, const std::vector<std::string>& s,
                const std::vector<std::vector<std::string>>& buffers, int line_mode, std::size_t i, std::size_t lowest,
                RawRegion& out) {
    const std::size_t n = buffers.size();
    const std::size_t width = r.width;
    const std::size_t read = static_cast<std::size_t>(kAlignChars);
    const bool centred = effective_mode(r, line_mode, 1) == 1;
    for (std::size_t first = i + 1; first-- > lowest && first + 3 >= i;) {
        for (std::size_t last = i; last < n && last <= i + 3; ++last) {
            std::vector<std::string> b;
            for (std::size_t k = first; k <= last && !buffers[k].empty(); ++k) b.push_back(buffers[k][0]);
            if (b.size() != last - first + 1) continue;
            auto joined = [&b](std::size_t tail_at, const std::string& tail) {
                std::string j;
                for (std::size_t k = 0; k < b.size(); ++k) j += (k ? "\\" : "") + b[k] + (k == tail_at ? tail : "");
                return j;
            };
            auto line_for = [&](const std::string& j) -> std::string {
                if (j.size() != width || !writer_gives(r, s, line_mode, j + "\\", first, last)) return {};
                std::string line = centred_line_for(j, r);
                if (line.empty() && has_gap(j)) {
                    std::string u = widened_line_for(j, r, false);
                    if (!u.empty()) line = u + "\\e";
                }
                return line;
            };
            std::string line = line_for(joined(kNone, ""));
            std::size_t length = joined(kNone, "").size();
            for (std::size_t k = 0; line.empty() && centred && k < b.size(); ++k) {
                if (b[k].empty() || b[k].size() > read || length >= width) continue;
                for (std::size_t gap = b[k].size() < read ? read - b[k].size() : 0; line.empty() && length + gap < width; ++gap)
                    line = line_for(joined(k, std::string(gap, ' ') + std::string(width - length - gap, 'x')));
            }
            if (line.empty()) continue;
            out = RawRegion{first, last, line};
            return true;
        }
    }
    return false;
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

}  // namespace

bool dots_in_lines(const IndexRecord& record, int line_mode) {
    // "...#0" centred or justified to fewer than four characters no longer reads as a header.
    return record.dots && line_mode != 0 && record.width < 4;
}

bool find_lines(const IndexRecord& record, const std::vector<std::string>& strings, int line_mode,
                const std::function<bool(const std::vector<std::string>&)>& accept) {
    if (record.width < 1 || record.width > static_cast<std::uint32_t>(kMaxWidth)) return false;
    std::vector<std::vector<std::string>> tried;
    auto offer = [&](const std::vector<std::string>& lines) {
        for (const auto& t : tried)
            if (t == lines) return false;
        tried.push_back(lines);
        return accept(lines);
    };
    std::vector<std::string> lines;
    if (record.raw) {
        for (bool prefer_widened : {false, true}) {
            std::vector<RawLine> plan;
            if (raw_plan(record, strings, line_mode, prefer_widened, plan) && raw_lines(record, line_mode, plan, lines) &&
                offer(lines))
                return true;
        }
        return false;
    }
    NormalText text(record, strings, line_mode);
    for (Widen widen : {Widen::WhenNeeded, Widen::Never, Widen::Always}) {
        std::vector<Block> blocks;
        lines.clear();
        if (text.plan(widen, blocks) && text.cut(blocks, lines) && offer(lines)) return true;
    }
    return false;
}

}  // namespace messages
