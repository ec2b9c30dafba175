// The installs of a game folder in the system's list of installed programs (Windows' "Apps"
// and "Programs and Features"), so that a player can take a patch back from there: each
// committed install gets an entry whose uninstall command runs a copy of the installer, kept
// where only the administrators may change it, with /UNDO=N for that install.
//
// The entries and their values are worked out here, the same on every system; the system's
// side (the registry, the kept copies) is a ProgramsList, which only Windows has.
#pragma once

#include <cstdint>
#include <string>
#include <vector>

#include "base/result.h"

namespace install {

// An entry as the list shows and runs it.
struct ProgramEntry {
    std::string key;               // "DravoPatch-" + 8 hex digits of the game folder + "-N"
    std::string display_name;      // "Dravo patch N (FOLDER)"
    std::string install_location;  // the game folder, without its trailing backslash
    std::string install_date;      // YYYYMMDD
    std::uint32_t size_kib = 0;    // what the install keeps for its undo
    std::string uninstall;         // "COPY" /UNDO=N /D="GAME"
    std::string quiet_uninstall;   // the same with /S
    bool operator==(const ProgramEntry&) const = default;
};

// The system's list of programs and the copies of the installer that its entries run.
class ProgramsList {
public:
    virtual ~ProgramsList() = default;
    // The keys of the entries there are now.
    virtual std::vector<std::string> keys() = 0;
    // False when there is no such entry (or it cannot be read).
    virtual bool read(const std::string& key, ProgramEntry* out) = 0;
    // Writes the entry whole, replacing any values it had.
    virtual Result write(const ProgramEntry& entry) = 0;
    // Applied when it is gone, also when it was not there.
    virtual Result remove(const std::string& key) = 0;
    // The keys that have a kept copy of the installer.
    virtual std::vector<std::string> copies() = 0;
    // Where the copy for `key` is (or would be), as the uninstall command names it.
    virtual std::string copy_path(const std::string& key) = 0;
    // Keeps a fresh copy of the running installer for `key`, replacing any folder there.
    virtual Result keep_copy(const std::string& key) = 0;
    // Removes the copy and its folder; a copy that is running (the undo started from the list
    // runs it) is removed when the machine next starts. Applied when nothing is left to do
    // now.
    virtual Result drop_copy(const std::string& key) = 0;
};

// The system's list: Windows' registry (32-bit view) and %ProgramData%; null elsewhere.
ProgramsList* system_programs_list();

// The game folder as the key's digest reads it: without its trailing backslash, in lower case
// (one folder, however spelt, has one key).
std::string entry_key_prefix(const std::string& game_dir);  // "DravoPatch-0123abcd-"
std::string entry_key(const std::string& game_dir, int number);
// Install N of the key, or 0 when the key is not one of `game_dir`'s.
int entry_number(const std::string& game_dir, const std::string& key);

// The entry of install `number` of `game_dir`, run from `copy`; `when` in seconds since 1970
// (the date is the local one), `kept_bytes` what the install keeps.
ProgramEntry program_entry(const std::string& game_dir, int number, const std::string& copy, std::int64_t when,
                           std::int64_t kept_bytes);

// After install `number` of `game_dir` committed: keeps a copy of the installer, writes the
// entry and records its key in the journal. Failed, saying why, when any of it could not be
// done; the install stays as it is.
Result register_install(ProgramsList& list, const std::string& game_dir, int number);

// After an install was taken back: its entry goes, and its copy (now or at the next start);
// `recorded` is the key its journal named, when that is another (the folder spelt otherwise).
Result unregister_install(ProgramsList& list, const std::string& game_dir, int number,
                          const std::string& recorded = "");

// Makes the list agree with the game folder's journals: a committed install without an entry
// (or with one whose values are not what they should be, or without its copy) gets it again;
// an entry or copy of this folder that no install has any more goes. What was done, one line
// each, for the log; the problems met are lines too, and nothing stops at them.
std::vector<std::string> repair_entries(ProgramsList& list, const std::string& game_dir);
// Only the second half: what no install of the folder has any more goes. For a program that
// is not the installer, and so cannot be the copy an entry runs.
std::vector<std::string> tidy_entries(ProgramsList& list, const std::string& game_dir);

}  // namespace install
