// The checks an install makes before its first change of a game file: every container a
// work line names is sound and can be rewritten, the message tables can be rewritten, every
// new source can be opened, and each volume has room for the new copies the rewrites write
// beside the old files (which stay, kept for undo).
#pragma once

#include "base/result.h"

namespace install {

// Reads the work list at `patch_ini` the way the runner does, checking each line instead of
// running it. Failed, naming every line that would fail and why, or the lack of room.
Result check_work_list(const char* patch_ini);

}  // namespace install
