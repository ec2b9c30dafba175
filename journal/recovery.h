// Bringing a game folder back to a whole state after an install that did not end: the next
// start of either program, and "dravo recover", run this before anything else.
#pragma once

#include <string>

#include "base/result.h"

namespace journal {

struct Recovery {
    Result result;     // failed: the game could not be made whole, and why
    std::string told;  // what was done, for the user; empty when there was nothing to do
};

// Looks at the newest journal of `game_dir`: an install that was not committed is rolled
// back, an undo that was begun is finished; a stage left behind is removed. A journal held by
// a running install is left alone, and said so.
Recovery recover_game(const std::string& game_dir);

// Whether the game folder is whole, found without changing anything: failed, saying why for
// the user, when recover_game would have something to do (the newest journal is not
// committed, or records an undo begun, or is held by a running install, or the stage is
// there); applied otherwise.
Result check_whole(const std::string& game_dir);

// Takes back the newest completed install of `game_dir`, byte for byte, after checking that
// every file it wrote is unchanged since and that every old file it kept is still there;
// refuses, naming the files, otherwise. Installs are taken back newest first.
Recovery undo_last_install(const std::string& game_dir);

// Whether the game folder holds a committed install, not taken back, of the patch whose digest
// is `digest`, by its journals. NoJournals when the folder keeps none (its undo folder was
// removed, or it never had an install), so that the journals cannot tell.
enum class PatchRecord { Installed, NotInstalled, NoJournals };
PatchRecord find_installed_patch(const std::string& game_dir, const std::string& digest);

// The stage: the patch's files unpacked beside the game before the user said yes.
Result prepare_stage(const std::string& game_dir);  // empty and ready
Result remove_stage(const std::string& game_dir);   // gone (also when it was not there)

}  // namespace journal
