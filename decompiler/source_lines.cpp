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
//
// The planners live in normal_lines.cpp and raw_lines.cpp, the widened lines several strings
// share in widened_regions.cpp, and what they share in line_planning.*.
#include "decompiler/source_lines.h"

#include <functional>
#include <string>
#include <vector>

#include "decompiler/line_planning.h"

namespace decompiler {

using messages::IndexRecord;
using messages::kMaxWidth;

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
            std::vector<planning::RawLine> plan;
            if (planning::raw_plan(record, strings, line_mode, prefer_widened, plan) &&
                planning::raw_lines(record, line_mode, plan, lines) && offer(lines))
                return true;
        }
        return false;
    }
    using planning::Widen;
    planning::NormalText text(record, strings, line_mode);
    for (Widen widen : {Widen::WhenNeeded, Widen::Never, Widen::Always}) {
        std::vector<planning::Block> blocks;
        lines.clear();
        if (text.plan(widen, blocks) && text.cut(blocks, lines) && offer(lines)) return true;
    }
    return false;
}

}  // namespace decompiler
