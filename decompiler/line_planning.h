// What the line planners of the decompiler share (internal to decompiler/): the writer run
// backwards for one string (line_planning.cpp), the planner of a normal message
// (normal_lines.cpp), that of a raw message (raw_lines.cpp), and the lines widened by "\e"
// that several strings share (widened_regions.cpp). find_lines (source_lines.cpp) drives them.
#pragma once

#include <cstddef>
#include <cstring>
#include <limits>
#include <string>
#include <vector>

#include "base/text.h"
#include "messages/message_tables.h"
#include "messages/source_line.h"

namespace decompiler::planning {

using messages::IndexRecord;
using messages::kLinePieceChars;

constexpr std::size_t kLineChars = kLinePieceChars;  // a line of this length is still one piece
constexpr std::size_t kNone = std::numeric_limits<std::size_t>::max();

// ---- shared helpers (line_planning.cpp) -------------------------------------------------

using text::is_blank;

inline bool starts_with(const std::string& s, std::size_t at, const char* prefix) {
    return s.compare(at, std::strlen(prefix), prefix) == 0;
}

inline bool has_gap(const std::string& s) { return s.find_first_of(" \t") != std::string::npos; }

std::string trimmed(const std::string& s);

// The alignment mode the writer applies to a string: the message's, unless the line's overrides
// it; a justified message leaves its last string alone.
int effective_mode(const IndexRecord& r, int line_mode, int not_last);

// The string the writer makes of `buffer`.
std::string emitted(const std::string& buffer, const IndexRecord& r, int line_mode, int not_last);

// The buffers the writer turns into `s`, shortest first.
std::vector<std::string> buffers_for(const std::string& s, const IndexRecord& r, int line_mode, int not_last);

// Whether a stripped text line may begin a line of this message, and whether it carries the
// "@points" mark.
bool fine_start(const std::string& stripped, const IndexRecord& r);
bool marks_points(const std::string& stripped);

// The text of a line that "\e" widens to the full-width text `j` (without the "\e"); empty
// when there is none. `dots_taken`: `j` begins with a "..." the compiler takes away.
std::string widened_line_for(const std::string& j, const IndexRecord& r, bool dots_taken);
std::string widened_source(const std::string& s, const IndexRecord& r);

// A line, "\e" included, that widens to a text whose centred first 250 characters are `c`.
std::string centred_widened_line(const std::string& c, const IndexRecord& r);

// Whether the writer, run over `text`, makes just the strings first..last of `s`.
bool writer_gives(const IndexRecord& r, const std::vector<std::string>& s, int line_mode, const std::string& text,
                  std::size_t first, std::size_t last);

// ---- normal messages (normal_lines.cpp; regions in widened_regions.cpp) -----------------

// A run of the message text that is cut into lines, or one line written as it stands.
struct Block {
    bool fixed = false;
    std::string text;
    std::vector<std::size_t> soft_breaks;  // where a line may end although no space stands there
};

enum class Widen { WhenNeeded, Never, Always };

inline bool single_full_word(const std::string& t, std::size_t width) { return t.size() == width && !has_gap(t); }

// Whether `t` holds a piece between the places a line may end that is too long for a line.
bool needs_widening(const std::string& t, const IndexRecord& r);

class NormalText {
public:
    NormalText(const IndexRecord& r, const std::vector<std::string>& s, int line_mode);

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
    bool one_line(const std::string& f, bool lead_dots, int points_in, int points_out,
                  std::vector<std::string>& lines) const;
    bool fine_flow_line(const std::string& f, std::size_t s, std::size_t e, bool lead_dots, std::string& line) const;

    const IndexRecord& r_;
    const std::vector<std::string>& s_;
    int line_mode_;
    std::vector<std::vector<std::string>> ended_;  // each string's buffers, ended by a backslash
    std::vector<std::string> open_last_;           // the last string's, ended by the text's end
};

// ---- raw messages (raw_lines.cpp; regions in widened_regions.cpp) -----------------------

struct RawLine {
    bool fixed = false;  // widened by the line treatment; written as it stands
    std::string text;    // without the backslash the compiler ends a raw line with
};

// A line that "\c" widens to `full`, the text of a raw line centred to the width; empty when
// there is none.
std::string centred_line_for(const std::string& full, const IndexRecord& r);

// Strings first..last of a raw message from one line that "\e" widened: their buffers, joined
// by the backslashes that ended them, are the widened text. A centred buffer longer than the
// 250 characters centring reads may have had anything behind them; a made-up word stands in.
struct RawRegion {
    std::size_t first = 0, last = 0;
    std::string line;
};

bool raw_region(const IndexRecord& r, const std::vector<std::string>& s,
                const std::vector<std::vector<std::string>>& buffers, int line_mode, std::size_t i, std::size_t lowest,
                RawRegion& out);

// The lines of a raw message, one per buffer but where widened lines stand in.
bool raw_plan(const IndexRecord& r, const std::vector<std::string>& s, int line_mode, bool prefer_widened,
              std::vector<RawLine>& out);
// The planned lines as the source writes them.
bool raw_lines(const IndexRecord& r, int line_mode, const std::vector<RawLine>& plan, std::vector<std::string>& lines);

}  // namespace decompiler::planning
