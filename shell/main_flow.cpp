// The installer's main flow.
//
// Every step before the confirmation must succeed: the game found, its directory known, the
// carried files unpacked, Dravo.ini, patch.ini, multigen.dat and patch.dat loaded. Once the
// user confirmed, each work item reports whether it was applied, skipped by its own check, or
// failed, and "Dravo patch completed." is said only when nothing failed.
#include "shell/main_flow.h"

#include <cctype>

#include "config/config.h"
#include "config/records.h"
#include "platform/platform.h"
#include "xfile/xfile.h"

namespace {

// "c:\dir" as the game's runtime forms it: the drive letter in lower case, ":\", the rest.
std::string saved_directory() {
    std::string cwd = plat::current_directory();
    if (!cwd.empty()) cwd[0] = static_cast<char>(std::tolower(static_cast<unsigned char>(cwd[0])));
    return cwd;
}

bool load_configuration(const std::string& game_dir) {
    return config::read_configuration((game_dir + "Dravo.ini").c_str(), config::ConfigMode::Game) &&
           config::read_configuration("patch.ini", config::ConfigMode::Patch) &&
           config::load_record_file((game_dir + "multigen.dat").c_str()) &&
           config::load_record_file("patch.dat");
}

InstallResult finish(InstallerFace& face, InstallOutcome outcome, const std::string& text, const char* caption) {
    face.final_message(text, caption);
    return {outcome, text, {}};
}

}  // namespace

InstallResult run_installation(InstallerFace& face, const InstallSources& sources) {
    face.show_phase(Phase::Searching);
    std::string game_dir;
    bool found = sources.locate_game(game_dir) && game_dir.find('\\') != std::string::npos;
    std::string saved;
    bool ready = false;
    if (found) game_dir.erase(game_dir.rfind('\\') + 1);
    // A shortcut left behind by an uninstalled game points nowhere: the game is not there.
    found = found && plat::is_directory(game_dir.c_str());
    if (found) {
        config::reset_configuration();
        xfile::reset_xfile();
        if (sources.unpack) {
            saved = saved_directory();
            std::string problem;
            if (!sources.unpack(game_dir, problem)) {
                face.show_phase(Phase::Idle);
                plat::change_directory(saved.c_str());
                return finish(face, InstallOutcome::UnpackFailed,
                              "The patch could not be unpacked into the game directory: " + problem +
                                  "\nNothing of the patch was installed.",
                              kFailedCaption);
            }
            plat::change_directory(game_dir.c_str());
        }
        ready = load_configuration(game_dir);
    }
    face.show_phase(Phase::Idle);
    if (!ready) {
        if (!saved.empty()) plat::change_directory(saved.c_str());
        return finish(face, InstallOutcome::NotFound, kNotFoundText, kNotFoundCaption);
    }
    if (!face.confirm()) return {InstallOutcome::Cancelled, "", {}};
    face.show_phase(Phase::Installing);
    WorkListReport work = run_work_list("patch.ini", sources.handlers);
    xfile::reset_xfile();  // containers stay loaded and locked until the run is over
    face.show_phase(Phase::Idle);
    std::string text = work.outcome_text();
    bool failed = work.any_failed();
    face.final_message(text, failed ? kFailedCaption : kCompletedCaption);
    return {failed ? InstallOutcome::Failed : InstallOutcome::Completed, text, work};
}
