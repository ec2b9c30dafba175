// Replacing the data of one member of a container file (work kind '0'): the container is
// rewritten into a temporary file beside it with the new data in the member's place, the
// offsets of the members behind it shifted, the version tag "02" stamped, and the temporary
// file then put in the container's place in one step. Adding a member takes the same route.
#pragma once

#include <cstdint>
#include <string>

#include "base/result.h"
#include "xfile/xfile.h"

using ReplaceResult = Result;

// How the new data is named: by a logical name of the game (trimmed, lower-cased and resolved
// through the file table, as work lines name it), or by a path used exactly as given.
enum class SourceKind { LogicalName, Path };

// The work line's argument: the source's logical name up to the first blank, then the
// member's logical name. The member name resolves to its container through the file table.
ReplaceResult replace_container_member(const char* text);

// A kind '0' line's two names as the item reads them: the source up to the first blank, then
// the member, trimmed (neither resolved).
void split_member_line(const char* text, std::string* source, std::string* member);

// What a kind '0' line will need, checked before an install changes anything: its container
// is in the game, sound (its directory inside the file), writable and not in use, and the new
// data can be opened. `container` and `container_bytes` receive the container's path and size
// (the rewrite writes a whole new copy beside it).
Result check_container_member(const char* text, std::string* container, std::int64_t* container_bytes);

// The same rewrite of a container given by its path. The member's name is matched trimmed and
// in lower case.
ReplaceResult replace_member_in(const char* container_path, const char* member, const char* source,
                                SourceKind kind);

// Appends a new member named `member` (1 to 19 characters, stored in lower case) to the
// container at `container_path` through the file library's member create; a missing
// container is created. The data is `source`'s, from its current position to its end. The
// container is copied beside itself and the member added to the copy, which takes the
// container's place only once everything is written: a failure leaves the container as it
// was. It is held from its first read to that swap, so that of two adds at once the second is
// refused rather than lost. A file that is not a container, or that has a member of that name
// already (without regard to case), is refused.
Result add_member_to(const char* container_path, const char* member, XFileHandle* source);
