// The work-list runner: reads the [work] section of patch.ini and hands each line to the
// handler of its kind: '0' replaces a container member, '1' rebuilds the message tables from
// a new source, '2' replaces one message whose text follows in patch.ini.
#pragma once

#include <cstdio>
#include <functional>
#include <string>
#include <vector>

#include "base/work_result.h"

struct WorkOutcome {
    WorkResult result;
    std::string problem;  // empty unless failed or skipped
};

struct WorkHandlers {
    std::function<WorkOutcome(const char* argument)> replace_member;    // kind '0'
    std::function<WorkOutcome(const char* argument)> rebuild_messages;  // kind '1'
    // kind '2'; reads the message's text from the stream, which then stands behind it
    std::function<WorkOutcome(const char* argument, std::FILE* stream)> replace_message;
};

// The game's own handlers.
WorkHandlers standard_work_handlers();

struct WorkItemReport {
    std::string line;  // the work line as written, trimmed
    WorkOutcome outcome;
};

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
