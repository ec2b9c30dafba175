// The game's own work-item handlers, behind the runner's table.
#include "messages/message_updates.h"
#include "install/work_list.h"
#include "xfile/replace.h"

namespace {

WorkOutcome with_problem(WorkResult r, const char* problem) {
    if (r == WorkResult::Skipped) return {r, "its check says the game does not need it"};
    return {r, r == WorkResult::Applied ? "" : problem};
}

}  // namespace

WorkHandlers standard_work_handlers() {
    WorkHandlers h;
    h.replace_member = [](const char* argument) {
        ReplaceResult r = replace_container_member(argument);
        return WorkOutcome{r.result, r.problem};
    };
    h.rebuild_messages = [](const char* argument) {
        return with_problem(messages::update_messages_from_source(argument),
                            "the message tables could not be rebuilt from the new source");
    };
    h.replace_message = [](const char* argument, std::FILE* stream) {
        return with_problem(messages::update_one_message(argument, stream), "the message could not be replaced");
    };
    return h;
}
