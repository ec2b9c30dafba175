// The game folder's install log, "DravoPatch.log": every install the user confirmed appends a
// plain-text record of when it ran, which patch it was, what each work item did, and how it
// ended, so that a player or a patch author can see afterwards what happened.
#pragma once

#include <string>
#include <vector>

#include "base/result.h"
#include "install/work_list.h"

namespace install {

struct InstallLogEntry {
    std::string patch;     // "sha256 <hex>" of the carried entries, or where patch.ini came from
    WorkListReport work;   // empty when the run stopped before the work list
    std::string outcome;   // the final message
    std::string not_found = {};  // why the folder was not taken for the game, "PATH: REASON"
    std::vector<std::string> programs_list = {};  // what was done to the system's list of programs
};

// Failed, saying why, when the log's name in `game_dir` holds anything but a plain file (a
// link, a folder, a pipe): checked before the install's first change, since the log is never
// written through such a name.
Result check_install_log(const std::string& game_dir);

// Appends the entry to the log in `game_dir` (which ends with a backslash). A log that cannot
// be written costs the install nothing: it is a record, not part of the game. Nothing is
// written where check_install_log fails.
void append_install_log(const std::string& game_dir, const InstallLogEntry& entry);
// The same, but only into a log the folder already has: a run that never began an install
// makes no file in a folder that may not be the game's.
void add_to_install_log(const std::string& game_dir, const InstallLogEntry& entry);

// A file outside the game folder that gets a copy of every record (the installer's /LOG=FILE),
// also of the runs that end before the game folder is known; empty (the start state): none.
// Opening it for appending (creating it when missing) is checked here, so that a name that
// cannot be written is refused before the run begins.
Result set_log_copy(const std::string& path);
void reset_log_copy();
// Appends the record to the copy alone.
void append_to_log_copy(const InstallLogEntry& entry);

// Whether the log in `game_dir` records a completed install of the patch named `patch` (as
// InstallLogEntry::patch names it) as its last run of that patch.
bool log_records_completed(const std::string& game_dir, const std::string& patch);

// One work item as the log writes it: "applied: LINE", "skipped: LINE (why)".
std::string work_item_line(const WorkItemReport& item);

// The record as it is written, with `when` as its time stamp.
std::string format_install_log(const InstallLogEntry& entry, const std::string& when);

}  // namespace install
