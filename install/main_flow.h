// The installer's main flow, the same for the window and for "dravo install": find the game,
// unpack the patch, load the configuration and file tables, ask, run the work list, and say
// truthfully how it went. What the user sees goes through an InstallerFace.
#pragma once

#include <functional>
#include <string>
#include <vector>

#include "base/result.h"
#include "install/final_texts.h"
#include "install/work_list.h"
#include "platform/intercept/overlay.h"

namespace install {

class ProgramsList;

enum class Phase { Idle = 0, Searching = 1, Installing = 2 };

class InstallerFace {
public:
    virtual ~InstallerFace() = default;
    virtual void show_phase(Phase phase) = 0;
    // True to go on; false when the user cancelled (nothing has been changed by the work list).
    virtual bool confirm() = 0;
    // The question before an install is taken back (the installer's /UNDO); a face without a
    // question of its own asks as it asks before an install.
    virtual bool confirm_undo(const std::string& question) {
        (void)question;
        return confirm();
    }
    // The final message box.
    virtual void final_message(const std::string& text, const std::string& caption) = 0;
    // What the start did to a game left unwhole by an install that did not end; the flow
    // goes on after it.
    virtual void notice(const std::string& text) = 0;
};

struct InstallSources {
    // Finds the game directory (ending with a backslash). Failed when the game was not found,
    // with the path the reason concerns, as the user reads it, and the reason: "PATH: REASON".
    std::function<Result(std::string& game_dir)> locate_game;
    // Checks the carried patch against its digest before anything of it is unpacked; null
    // when the installer carries none.
    std::function<Result()> check_patch;
    // Unpacks the carried files into a directory (the stage beside the game); null when the
    // installer carries none (a template). False: a file could not be written, named in
    // `problem`.
    std::function<bool(const std::string& game_dir, std::string& problem)> unpack;
    // The names of the files that `unpack` writes: a patch whose patch.ini lists no work must
    // carry some other file to install, or it does nothing at all.
    std::vector<std::string> carried_files;
    // The patch as the log names it: the digest of its carried files, or where it comes from.
    std::string patch_name = "none carried: patch.ini and patch.dat of the current directory";
    WorkHandlers handlers;
    // Checks the work list before its first change (check_work_list for a real game).
    // `game_folders`: the folders the game's Dravo.ini names (game_folders()).
    std::function<Result(const char* patch_ini, const std::vector<std::string>& game_folders)> check_work;
    // Installs the patch even when the game folder records it as installed already.
    bool reinstall = false;
    // The system's list of installed programs, where the installer registers each install it
    // completes and repairs the entries of the game folder at its start; null: none (the
    // tool, a system without one).
    ProgramsList* programs = nullptr;
};

// The folder as the system spells it, long names and all, ending with a backslash: one folder,
// whichever way it was found or typed, has one spelling in the journal, the log and the list
// of programs.
std::string canonical_folder(const std::string& dir);

enum class InstallOutcome {
    NotFound,        // no game: no shortcut, no such directory, or no Dravo.ini in it
    UnpackFailed,    // a carried file could not be written
    GameIncomplete,  // the game lacks its multigen.dat
    PatchDamaged,    // the patch lacks patch.ini or patch.dat, or gives nothing to do
    AlreadyInstalled,  // the game records this very patch as installed; nothing was changed
    Cancelled,
    Completed,
    Failed,          // a work item failed, or the install could not be made whole; nothing was changed
    NotWhole,        // a failed install (or one interrupted earlier) could not be rolled back
};

struct InstallResult {
    InstallOutcome outcome;
    std::string text;  // what the final message said (empty when cancelled)
    WorkListReport work;
    // NotFound: where the game was looked for and why it is not there, "PATH: REASON" (the
    // final message only says that it was not found); empty otherwise.
    std::string not_found = {};
    // The game folder the run worked on (ending with a backslash); empty when none was found.
    std::string game_dir = {};
};

// The exit status of the window program, with its window or silent: 0 the install (or undo)
// completed, 3 the user cancelled, as "dravo install" says it; 1 anything else (a failure, no
// game). A script can tell a cancelled run from a completed one.
inline int installer_exit_status(InstallOutcome o) {
    switch (o) {
        case InstallOutcome::Completed: return 0;
        case InstallOutcome::Cancelled: return 3;
        default: return 1;
    }
}
// A malformed switch of the installer's command line.
inline constexpr int kInstallerUsageError = 2;

// The whole run, under one journal: a failure of any work item, or of the commit, rolls back
// every change, so that the game is either the old one or the patched one.
InstallResult run_installation(InstallerFace& face, const InstallSources& sources);

// A dry run: the same flow without the question, every change made to scratch copies of the
// files it touches (later items see what earlier ones wrote), none to the game or anywhere
// else. The carried files are unpacked into a scratch folder, not beside the game; no journal
// and no log are written. `outcome` is Completed when the real install would complete.
struct DryRunResult {
    InstallResult install;
    std::vector<plat::Overlay::Change> changes;  // what the install would change, in order
    // For each change that is not a delete, whether the file would hold other bytes than now.
    std::vector<bool> differs;
};
// `inspect`, when given, is called after the work list while the view is still in place: what
// it reads of the game is what the install would leave.
DryRunResult try_installation(InstallerFace& face, const InstallSources& sources,
                              const std::function<void()>& inspect = {});

}  // namespace install
