// The work-list runner: reads the [work] section of patch.ini and hands each line to the
// handler of its kind: '0' replaces a container member, '1' rebuilds the message tables from
// a new source, '2' replaces one message whose text follows in patch.ini.
#pragma once

#include <array>
#include <cstdio>
#include <functional>
#include <string>
#include <vector>

#include "base/result.h"

namespace install {

// The handler of one work kind: it gets the line from its third character on, and the open
// patch configuration, which stands behind the line (kind '2' reads its message text from it).
using WorkHandler = std::function<Result(const char* argument, std::FILE* stream)>;

// The handlers by kind, '0' to '2'; a line of any other kind is passed over.
struct WorkHandlers {
    static constexpr char kFirstKind = '0';
    std::array<WorkHandler, 3> by_kind;
    // Told of every line of the section that is passed over (no handler for its kind), with
    // the whole line, so that a checker can name it; its result is not looked at. The game's
    // own runner has none.
    WorkHandler passed_over;
    // Null for a kind that has no handler.
    const WorkHandler* handler_for(char kind) const {
        int index = kind - kFirstKind;
        return index >= 0 && index < static_cast<int>(by_kind.size()) && by_kind[index] ? &by_kind[index] : nullptr;
    }
};

// The game's own handlers.
WorkHandlers standard_work_handlers();

struct WorkItemReport {
    std::string line;  // the work line as written, trimmed
    Result outcome;
    std::string advice = {};  // a failed item: what the player can do about its cause, if anything
};

// The advice for the file the platform last refused: "Close the game and any program using
// FILE, then run the patch again." when it is in use, "Make FILE writable, then run the patch
// again." when it is read-only; empty otherwise.
std::string refusal_advice();
std::string in_use_advice(const std::string& path);
std::string read_only_advice(const std::string& path);

struct WorkListReport {
    bool found = false;  // patch.ini could be opened
    std::vector<WorkItemReport> items;
    bool any_failed() const;
    // "Dravo patch completed." when nothing failed, else the text that names the failures.
    std::string outcome_text() const;
};

// Runs every work line of the patch configuration at `path` (in the current directory when
// it has no directory part), in order.
WorkListReport run_work_list(const char* path, const WorkHandlers& handlers);

// What a patch configuration holds for the runner, read the same way but without running
// anything: whether it has the "[work]" line and at least one work item behind it.
struct WorkListSurvey {
    bool found = false;  // the file could be opened
    bool has_section = false;
    bool has_items = false;
};
WorkListSurvey survey_work_list(const char* path);

}  // namespace install
