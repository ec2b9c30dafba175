// dravo recover: brings a game folder back to a whole state after an install that did not
// end (killed, or the machine lost power), as the next start of the installer would, and
// does nothing else. dravo unpatch: takes back the newest completed install.
#include <CLI/CLI.hpp>

#include <cstdio>
#include <memory>
#include <string>

#include "install/main_flow.h"
#include "install/pre_checks.h"
#include "install/programs_list.h"
#include "journal/recovery.h"
#include "platform/platform.h"
#include "tools/commands.h"
#include "tools/tool_util.h"

namespace tool {

namespace {

// Where the system has a list of installed programs, what no install of the folder has any
// more goes from it: the entry and the installer's copy an undo could not remove. Only the
// installer makes entries, since an entry runs a copy of the installer.
void tidy_programs_list(const std::string& game_dir) {
    if (install::ProgramsList* list = install::system_programs_list())
        for (const std::string& line : install::tidy_entries(*list, game_dir))
            std::printf("%s\n", plat::to_host_text(line).c_str());
}

int run_recover(const std::string& game_dir_argument) {
    std::string game_dir = directory_argument(game_dir_argument);
    if (!plat::is_directory(game_dir.c_str())) return fail(game_dir_argument, "no such game directory");
    game_dir = install::canonical_folder(game_dir);
    journal::Recovery r = journal::recover_game(game_dir, install::game_folders(game_dir));
    if (r.result.failed()) {
        if (!r.told.empty()) std::printf("%s\n", plat::to_host_text(r.told).c_str());
        return fail(game_dir_argument, "the game could not be made whole: " + r.result.problem);
    }
    tidy_programs_list(game_dir);
    std::printf("%s\n", plat::to_host_text(r.told.empty() ? "Nothing to recover." : r.told).c_str());
    return kExitOk;
}

int run_unpatch(const std::string& game_dir_argument) {
    std::string game_dir = directory_argument(game_dir_argument);
    if (!plat::is_directory(game_dir.c_str())) return fail(game_dir_argument, "no such game directory");
    game_dir = install::canonical_folder(game_dir);
    // The install the undo takes back: the newest completed one (an install that did not
    // complete is rolled back by the recovery before it).
    std::vector<journal::CommittedInstall> installs = journal::committed_installs(game_dir);
    journal::Recovery r = journal::undo_last_install(game_dir, install::game_folders(game_dir));
    if (!r.told.empty()) std::printf("%s\n", plat::to_host_text(r.told).c_str());
    if (r.result.failed()) return fail(game_dir_argument, r.result.problem);
    // The install is taken back; its entry in the system's list goes with it (and what an
    // earlier undo left there).
    if (install::ProgramsList* list = install::system_programs_list(); list && !installs.empty()) {
        const journal::CommittedInstall& undone = installs.back();
        if (Result gone = install::unregister_install(*list, game_dir, undone.number, undone.entry); gone.failed())
            std::fprintf(stderr, "%s\n", plat::to_host_text(gone.problem).c_str());
        tidy_programs_list(game_dir);
    }
    return kExitOk;
}

}  // namespace

void add_unpatch_command(CLI::App& app, int& exit_status) {
    auto game_dir = std::make_shared<std::string>();
    CLI::App* cmd = app.add_subcommand(
        "unpatch", "Take back the newest completed install, byte for byte, if nothing it wrote changed since");
    cmd->add_option("--game-dir", *game_dir, "The game directory")->required();
    cmd->callback([game_dir, &exit_status] { exit_status = run_unpatch(*game_dir); });
}

void add_recover_command(CLI::App& app, int& exit_status) {
    auto game_dir = std::make_shared<std::string>();
    CLI::App* cmd = app.add_subcommand(
        "recover", "Bring a game back to a whole state after an install that did not end (exit 0 when it is whole)");
    cmd->add_option("--game-dir", *game_dir, "The game directory")->required();
    cmd->callback([game_dir, &exit_status] { exit_status = run_recover(*game_dir); });
}

}  // namespace tool
