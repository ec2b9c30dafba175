// The installer's main flow.
//
// Every step before the confirmation must succeed: the game found, its directory known, the
// carried files unpacked, Dravo.ini, patch.ini, multigen.dat and patch.dat loaded, and the
// patch giving something to do. A game that is not there is "Dravo not found."; every other
// failure names the file and what is wrong with it. Once the user confirmed, each work item
// reports whether it was applied, skipped by its own check, or failed, and "Dravo patch
// completed." is said only when nothing failed.
#include "install/main_flow.h"

#include <cctype>
#include <optional>

#include "config/config.h"
#include "xfile/records.h"
#include "platform/platform.h"
#include "platform/winpath.h"
#include "xfile/xfile.h"

namespace {

// "c:\dir" as the game's runtime forms it: the drive letter in lower case, ":\", the rest.
std::string saved_directory() {
    std::string cwd = plat::current_directory();
    if (!cwd.empty()) cwd[0] = static_cast<char>(std::tolower(static_cast<unsigned char>(cwd[0])));
    return cwd;
}

std::string current_directory_with_backslash() {
    std::string dir = plat::current_directory();
    if (!dir.empty() && dir.back() != '\\') dir += '\\';
    return dir;
}

struct Problem {
    InstallOutcome outcome;
    std::string text;
    const char* caption;
};

bool carries(const std::vector<std::string>& carried, const char* name) {
    for (const std::string& c : carried)
        if (plat::names_equal_ignoring_case(c, name)) return true;
    return false;
}

// "c:\game\multigen.dat is missing." or "... cannot be opened."
std::string unreadable(const std::string& path) {
    return plat::display_path(path) + (plat::file_exists(path.c_str()) ? " cannot be opened." : " is missing.");
}

// patch.ini or patch.dat could not be loaded from the current directory.
Problem patch_file_problem(const char* name, const InstallSources& sources) {
    if (sources.unpack && !carries(sources.carried_files, name))
        return {InstallOutcome::PatchDamaged, std::string("The patch is damaged: it carries no ") + name + ".",
                kFailedCaption};
    std::string path = current_directory_with_backslash() + name;
    return {InstallOutcome::PatchDamaged, "The patch cannot be read: " + unreadable(path), kFailedCaption};
}

// A patch must give the work-list runner something to do, or carry files that unpacking
// already installed: otherwise "completed" would be said for nothing done.
std::optional<Problem> work_problem(const InstallSources& sources) {
    WorkListSurvey survey = survey_work_list("patch.ini");
    if (!survey.has_section)
        return Problem{InstallOutcome::PatchDamaged, "The patch is damaged: patch.ini has no [work] section.",
                       kFailedCaption};
    if (survey.has_items) return std::nullopt;
    for (const std::string& c : sources.carried_files)
        if (!plat::names_equal_ignoring_case(c, "patch.ini") && !plat::names_equal_ignoring_case(c, "patch.dat"))
            return std::nullopt;
    return Problem{InstallOutcome::PatchDamaged,
                   "The patch is damaged: patch.ini lists no work item, and the patch carries no file to install "
                   "besides patch.ini and patch.dat.",
                   kFailedCaption};
}

// Loads the game's and the patch's configuration and file tables, in that order.
std::optional<Problem> load_configuration(const std::string& game_dir, const InstallSources& sources) {
    if (!config::read_configuration((game_dir + "Dravo.ini").c_str(), config::ConfigMode::Game))
        return Problem{InstallOutcome::NotFound, kNotFoundText, kNotFoundCaption};
    if (!config::read_configuration("patch.ini", config::ConfigMode::Patch))
        return patch_file_problem("patch.ini", sources);
    if (std::optional<Problem> p = work_problem(sources)) return p;
    std::string multigen = game_dir + "multigen.dat";
    if (!config::load_record_file(multigen.c_str()))
        return Problem{InstallOutcome::GameIncomplete, "The game is incomplete: " + unreadable(multigen),
                       kFailedCaption};
    if (!config::load_record_file("patch.dat")) return patch_file_problem("patch.dat", sources);
    return std::nullopt;
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
    if (found) game_dir.erase(game_dir.rfind('\\') + 1);
    // A shortcut left behind by an uninstalled game points nowhere: the game is not there.
    found = found && plat::is_directory(game_dir.c_str());
    std::optional<Problem> problem = Problem{InstallOutcome::NotFound, kNotFoundText, kNotFoundCaption};
    if (found) {
        config::reset_configuration();
        xfile::reset_xfile();
        if (sources.unpack) {
            saved = saved_directory();
            std::string why;
            if (!sources.unpack(game_dir, why)) {
                face.show_phase(Phase::Idle);
                plat::change_directory(saved.c_str());
                return finish(face, InstallOutcome::UnpackFailed,
                              "The patch could not be unpacked into the game directory: " + why +
                                  "\nNothing of the patch was installed.",
                              kFailedCaption);
            }
            plat::change_directory(game_dir.c_str());
        }
        problem = load_configuration(game_dir, sources);
    }
    face.show_phase(Phase::Idle);
    if (problem) {
        xfile::reset_xfile();
        if (!saved.empty()) plat::change_directory(saved.c_str());
        return finish(face, problem->outcome, problem->text, problem->caption);
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
