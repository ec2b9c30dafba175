// Lines widened by "\e" that the writer shares out over several strings: the way back for
// strings whose gaps no line can hold, in normal and in raw messages.
#include "decompiler/line_planning.h"

#include <algorithm>
#include <bit>
#include <string>
#include <vector>

namespace decompiler::planning {

using messages::kAlignChars;

namespace {

constexpr std::size_t kRegionReach = 6;  // strings a widened line may share, either side of one

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

}  // namespace

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

}  // namespace decompiler::planning
