// The work-list runner.
//
// Lines are read 98 characters at a time (a longer line comes in pieces, each taken as a
// line), trimmed, and matched in lower case; nothing before the "[work]" line is a work item,
// and the section does not end at a later header. The kind is the line's first character,
// the second is a separator, whatever it is, and the argument is the rest, in its written
// case. A line whose kind is not '0', '1' or '2' is passed over.
#include "config/line_widths.h"
#include "install/work_list.h"

#include <cstring>

#include "base/text.h"
#include "install/final_texts.h"
#include "platform/platform.h"

namespace install {

namespace {

constexpr int kLineChars = static_cast<int>(config::kLineChars);

const char* argument_of(const char* line) { return std::strlen(line) >= 2 ? line + 2 : line + std::strlen(line); }


}  // namespace

bool WorkListReport::any_failed() const {
    for (const WorkItemReport& item : items)
        if (item.outcome.result == WorkResult::Failed) return true;
    return false;
}

std::string in_use_advice(const std::string& path) {
    return "Close the game and any program using " + plat::display_path(path) + ", then run the patch again.";
}

std::string read_only_advice(const std::string& path) {
    return "Make " + plat::display_path(path) + " writable, then run the patch again.";
}

std::string refusal_advice() {
    plat::RefusedFile refused = plat::last_refused_file();
    if (refused.path.empty()) return {};
    if (refused.error == plat::Error::SharingViolation) return in_use_advice(refused.path);
    if (refused.error == plat::Error::AccessDenied && plat::is_read_only(refused.path.c_str()))
        return read_only_advice(refused.path);
    return {};
}

std::string WorkListReport::outcome_text() const {
    if (!any_failed()) return kCompletedText;
    std::string text = kDidNotCompleteText;
    std::string advice;
    for (const WorkItemReport& item : items) {
        if (item.outcome.result != WorkResult::Failed) continue;
        text += "\n" + item.line;
        if (!item.outcome.problem.empty()) text += ": " + item.outcome.problem;
        if (advice.empty()) advice = item.advice;
    }
    // One line of advice, the first cause's: the player removes it and runs the patch again.
    return advice.empty() ? text : text + "\n" + advice;
}

namespace {

// Reads the next non-blank line, trimmed as written and in lower case. False at the end.
bool next_line(std::FILE* f, char (&line)[kLineChars + 1], char (&lowered)[kLineChars + 1]) {
    while (!std::feof(f)) {
        if (!std::fgets(line, sizeof line, f)) return false;
        text::trim(line);
        std::strcpy(lowered, line);
        text::lower(lowered);
        if (lowered[0]) return true;
    }
    return false;
}

bool is_work_header(const char* lowered) { return std::strcmp(lowered, "[work]") == 0; }
bool is_work_item(const char* line) { return line[0] == '0' || line[0] == '1' || line[0] == '2'; }

}  // namespace

WorkListReport run_work_list(const char* path, const WorkHandlers& handlers) {
    WorkListReport report;
    // Binary: the message text of kind '2' is read on from this stream, and every line is
    // trimmed, which removes the CR of a CRLF line end.
    std::FILE* f = plat::open_text(path, "rb");
    if (!f) return report;
    report.found = true;
    bool in_section = false;
    char line[kLineChars + 1];
    char lowered[kLineChars + 1];
    while (next_line(f, line, lowered)) {
        if (!in_section) {
            in_section = is_work_header(lowered);
            continue;
        }
        const WorkHandler* handler = is_work_item(line) ? handlers.handler_for(line[0]) : nullptr;
        if (!handler) {
            if (handlers.passed_over) handlers.passed_over(line, f);
            continue;
        }
        WorkItemReport item{line, {}};
        plat::clear_refused_file();
        item.outcome = (*handler)(argument_of(line), f);
        if (item.outcome.failed()) item.advice = refusal_advice();
        report.items.push_back(std::move(item));
    }
    std::fclose(f);
    return report;
}

WorkListSurvey survey_work_list(const char* path) {
    WorkListSurvey survey;
    std::FILE* f = plat::open_text(path, "rb");
    if (!f) return survey;
    survey.found = true;
    char line[kLineChars + 1];
    char lowered[kLineChars + 1];
    while (!survey.has_items && next_line(f, line, lowered)) {
        if (!survey.has_section)
            survey.has_section = is_work_header(lowered);
        else
            survey.has_items = is_work_item(line);
    }
    std::fclose(f);
    return survey;
}

}  // namespace install
