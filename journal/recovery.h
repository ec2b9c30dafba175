// Bringing a game folder back to a whole state after an install that did not end: the next
// start of either program, and "dravo recover", run this before anything else.
#pragma once

#include <string>
#include <vector>

#include "base/result.h"
#include "journal/journal_file.h"

namespace journal {

struct Recovery {
    Result result;     // failed: the game could not be made whole, and why
    std::string told;  // what was done, for the user; empty when there was nothing to do
};

// A journal is acted on only when it can be trusted: its folder and itself are the kit's own
// (not links, owned by this user or the administrators, writable by no one else), and every
// file it names lies below the game folder or one of `roots` (the other folders the game's
// Dravo.ini names), written plainly and reached without a link below that folder. Anything
// else fails, saying what, and nothing is changed.
//
// Looks at the newest journal of `game_dir`: an install that was not committed is rolled
// back, an undo that was begun is finished; a stage left behind is removed. A journal held by
// a running install is left alone, and said so.
Recovery recover_game(const std::string& game_dir, const std::vector<std::string>& roots = {});

// Failed, naming the file, when a path of the journal is not one recover_game may act on:
// outside `game_dir` and `roots`, not written plainly, or through a link.
Result check_journal_paths(const JournalFile& journal, const std::string& game_dir,
                           const std::vector<std::string>& roots);

// Whether the game folder is whole, found without changing anything: failed, saying why for
// the user, when recover_game would have something to do (the newest journal is not
// committed, or records an undo begun, or is held by a running install, or the stage is
// there); applied otherwise.
Result check_whole(const std::string& game_dir);

// Takes back the newest completed install of `game_dir`, byte for byte, after checking that
// every file it wrote is unchanged since and that every old file it kept is still there;
// refuses, naming the files, otherwise. Installs are taken back newest first.
Recovery undo_last_install(const std::string& game_dir, const std::vector<std::string>& roots = {});

// Whether the game folder holds a committed install, not taken back, of the patch whose digest
// is `digest`, by its journals. NoJournals when the folder keeps none (its undo folder was
// removed, or it never had an install), so that the journals cannot tell.
enum class PatchRecord { Installed, NotInstalled, NoJournals };
PatchRecord find_installed_patch(const std::string& game_dir, const std::string& digest);

// A committed install of a game folder, not taken back, as its journal tells.
struct CommittedInstall {
    int number = 0;
    std::string journal;          // the journal's path
    std::string entry;            // the key of its entry in the system's list of programs; empty when none
    std::int64_t kept_bytes = 0;  // the old files it keeps, for its undo
};
// Every such install of `game_dir`, oldest first. A journal that cannot be read is left out.
std::vector<CommittedInstall> committed_installs(const std::string& game_dir);

// Records in install `number`'s committed journal the key of its entry in the system's list
// of programs (the "entry" line); nothing when it records that key already.
Result record_entry(const std::string& game_dir, int number, const std::string& key);

// The stage: the patch's files unpacked beside the game before the user said yes. It is made
// fresh, for this user only; a stage name that is a link or not a folder is refused, never
// entered or removed through.
Result prepare_stage(const std::string& game_dir);  // empty and ready
Result remove_stage(const std::string& game_dir);   // gone (also when it was not there)

}  // namespace journal
