// The game's own work-item handlers, behind the runner's table: each returns what happened
// and why, in the words of the code that knows.
#include "install/work_list.h"
#include "messages/message_updates.h"
#include "xfile/replace.h"

namespace install {

WorkHandlers standard_work_handlers() {
    WorkHandlers h;
    h.by_kind[0] = [](const char* argument, std::FILE*) { return replace_container_member(argument); };
    h.by_kind[1] = [](const char* argument, std::FILE*) { return messages::update_messages_from_source(argument); };
    h.by_kind[2] = [](const char* argument, std::FILE* stream) { return messages::update_one_message(argument, stream); };
    return h;
}

}  // namespace install
