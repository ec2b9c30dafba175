// What a work item of the patch's work list did, so that the installer can tell the user the
// truth: a skipped item (its own check said the game does not need it) is not a failure.
#pragma once

enum class WorkResult {
    Applied,  // the item changed the game as it should
    Skipped,  // its check (a version tag, a check text) says it does not apply: not a failure
    Failed,   // a file could not be opened, read or written, or was not replaced
};
