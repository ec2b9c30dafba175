// Replacing the data of one member of a container file (work kind '0'): the container is
// rewritten into a temporary file beside it with the new data in the member's place, the
// offsets of the members behind it shifted, the version tag "02" stamped, and the temporary
// file then put in the container's place in one step.
#pragma once

#include "shell/work.h"

struct ReplaceResult {
    WorkResult result;
    const char* problem;  // what went wrong, for the user; null when applied
};

// The work line's argument: the source's logical name up to the first blank, then the
// member's logical name. The member name resolves to its container through the file table.
ReplaceResult replace_container_member(const char* text);

// The same rewrite of a container given by its path. `member` is lower-cased in place;
// `source` is opened through XFile (a logical name or a path).
ReplaceResult replace_member_in(const char* container_path, char* member, char* source);
