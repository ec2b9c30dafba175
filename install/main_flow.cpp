// The installer's main flow.
//
// Every step before the confirmation must succeed: the game found, its directory known, the
// carried files unpacked, Dravo.ini, patch.ini, multigen.dat and patch.dat loaded, and the
// patch giving something to do. A game that is not there is "Dravo not found."; every other
// failure names the file and what is wrong with it. Once the user confirmed, each work item
// reports whether it was applied, skipped by its own check, or failed, and "Dravo patch
// completed." is said only when nothing failed.
#include "install/main_flow.h"

#include <algorithm>
#include <cctype>
#include <optional>

#include "config/config.h"
#include "install/install_log.h"
#include "install/pre_checks.h"
#include "journal/recovery.h"
#include "journal/transaction.h"
#include "xfile/records.h"
#include "platform/file_tree.h"
#include "platform/platform.h"
#include "platform/rules/winpath.h"
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

// How a run goes: for real, or as a dry run on a view of the files.
struct RunMode {
    bool dry = false;
    std::string scratch;          // a dry run's own folder: its stage and the view's copies
    DryRunResult* dry_result = nullptr;
    std::function<void()> inspect;  // a dry run's look at the view before it goes
    std::string stage(const std::string& game_dir) const {
        return dry ? scratch + "stage\\" : journal::stage_folder(game_dir);
    }
};

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

// patch.ini or patch.dat could not be loaded from `patch_dir` (empty: the current directory).
Problem patch_file_problem(const char* name, const std::string& patch_dir, const InstallSources& sources) {
    if (sources.unpack && !carries(sources.carried_files, name))
        return {InstallOutcome::PatchDamaged, std::string("The patch is damaged: it carries no ") + name + ".",
                kFailedCaption};
    std::string path = (patch_dir.empty() ? current_directory_with_backslash() : patch_dir) + name;
    return {InstallOutcome::PatchDamaged, "The patch cannot be read: " + unreadable(path), kFailedCaption};
}

// A patch must give the work-list runner something to do, or carry files that unpacking
// already installed: otherwise "completed" would be said for nothing done.
std::optional<Problem> work_problem(const std::string& patch_ini, const InstallSources& sources) {
    WorkListSurvey survey = survey_work_list(patch_ini.c_str());
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

// Loads the game's and the patch's configuration and file tables, in that order; the patch's
// from `patch_dir` (the stage), or from the current directory when it is empty.
std::optional<Problem> load_configuration(const std::string& game_dir, const std::string& patch_dir,
                                          const InstallSources& sources) {
    if (!config::read_configuration((game_dir + "Dravo.ini").c_str(), config::ConfigMode::Game))
        return Problem{InstallOutcome::NotFound, kNotFoundText, kNotFoundCaption};
    std::string patch_ini = patch_dir + "patch.ini";
    if (!config::read_configuration(patch_ini.c_str(), config::ConfigMode::Patch))
        return patch_file_problem("patch.ini", patch_dir, sources);
    if (std::optional<Problem> p = work_problem(patch_ini, sources)) return p;
    std::string multigen = game_dir + "multigen.dat";
    if (!xfile::load_record_file(multigen.c_str()))
        return Problem{InstallOutcome::GameIncomplete, "The game is incomplete: " + unreadable(multigen),
                       kFailedCaption};
    if (!xfile::load_record_file((patch_dir + "patch.dat").c_str()))
        return patch_file_problem("patch.dat", patch_dir, sources);
    return std::nullopt;
}

InstallResult finish(InstallerFace& face, InstallOutcome outcome, const std::string& text, const char* caption) {
    face.final_message(text, caption);
    return {outcome, text, {}};
}

constexpr char kNothingChanged[] = "\nNothing was changed: the game is as it was before.";

// A failed install is rolled back whole; when even that fails, the journal stays and the next
// start finishes it.
InstallResult roll_back_and_finish(InstallerFace& face, journal::Transaction& tx, const std::string& game_dir,
                                   std::string text, WorkListReport work) {
    Result back = tx.roll_back();
    journal::remove_stage(game_dir);
    InstallOutcome outcome = InstallOutcome::Failed;
    if (back.failed()) {
        outcome = InstallOutcome::NotWhole;
        text += "\nThe game could not be put back as it was: " + back.problem +
                "\nRun the installer again (or \"dravo recover\") to finish putting it back.";
    } else {
        text += kNothingChanged;
    }
    face.show_phase(Phase::Idle);
    face.final_message(text, kFailedCaption);
    return {outcome, text, std::move(work)};
}

// The carried files go from the stage into the game folder, each through the journal, which
// keeps the game's own file of that name.
Result move_in_from_stage(const std::string& game_dir, const std::vector<std::string>& names) {
    std::string stage = journal::stage_folder(game_dir);
    for (const std::string& name : names) {
        std::string from = stage + name;
        std::string to = game_dir + name;
        if (!plat::replace_file(from.c_str(), to.c_str()))
            return Result::failed("cannot install " + plat::display_path(to) + ": " + plat::last_error_text());
    }
    return Result::applied();
}

// Whether `scratch` holds other bytes than the file at `path` on disk, read side by side in
// pieces, so that a large container costs no memory.
bool content_differs(const std::string& path, const std::string& scratch) {
    plat::File a = plat::File::open(path.c_str(), plat::Access::Read, plat::Disposition::OpenExisting);
    plat::File b = plat::File::open(scratch.c_str(), plat::Access::Read, plat::Disposition::OpenExisting);
    std::int64_t size = a ? plat::file_size(a.get()) : -1;
    bool same = false;
    return !b || size < 0 || size != plat::file_size(b.get()) || !plat::same_bytes(a.get(), b.get(), size, &same) ||
           !same;
}

// The confirmed part of a dry run: the carried files go into the view, and the work list runs
// on it as it would on the game.
InstallResult install_in_view(InstallerFace& face, const InstallSources& sources, const std::string& game_dir,
                              const RunMode& mode) {
    face.show_phase(Phase::Installing);
    std::string view_dir = mode.scratch + "view\\";
    if (!plat::create_directory(view_dir.c_str()))
        return finish(face, InstallOutcome::Failed,
                      "The dry run cannot make its folder " + plat::display_path(view_dir) + ": " +
                          plat::last_error_text(),
                      kFailedCaption);
    InstallResult result{InstallOutcome::Completed, "", {}};
    {
        plat::Overlay view(view_dir);
        plat::use_overlay(&view);
        Result ready = Result::applied();
        if (sources.unpack)
            for (const std::string& name : sources.carried_files)
                if (ready.result == WorkResult::Applied && !view.adopt(game_dir + name, mode.stage(game_dir) + name))
                    ready = Result::failed("cannot install " + plat::display_path(game_dir + name) + ": " +
                                           plat::last_error_text());
        if (!ready.failed() && sources.check_work) {
            ready = sources.check_work("patch.ini");
            xfile::reset_xfile();
        }
        if (ready.failed()) {
            result = {InstallOutcome::Failed, ready.problem, {}};
        } else {
            result.work = run_work_list("patch.ini", sources.handlers);
            xfile::reset_xfile();
            result.text = result.work.outcome_text();
            if (result.work.any_failed()) result.outcome = InstallOutcome::Failed;
            if (mode.inspect) mode.inspect();
        }
        plat::use_overlay(nullptr);
        mode.dry_result->changes = view.changes();
        for (const plat::Overlay::Change& c : mode.dry_result->changes)
            mode.dry_result->differs.push_back(c.kind == plat::Overlay::Kind::Created ||
                                               (c.kind == plat::Overlay::Kind::Changed && content_differs(c.path, c.scratch)));
    }
    plat::remove_tree(view_dir);
    face.show_phase(Phase::Idle);
    face.final_message(result.text, result.outcome == InstallOutcome::Completed ? kCompletedCaption : kFailedCaption);
    return result;
}

InstallResult install_confirmed(InstallerFace& face, const InstallSources& sources, const std::string& game_dir) {
    face.show_phase(Phase::Installing);
    journal::Transaction tx;
    if (Result begun = tx.begin(game_dir); begun.failed()) {
        journal::remove_stage(game_dir);
        face.show_phase(Phase::Idle);
        return finish(face, InstallOutcome::Failed,
                      "The patch could not be installed: " + begun.problem + kNothingChanged, kFailedCaption);
    }
    if (sources.unpack) {
        Result moved = move_in_from_stage(game_dir, sources.carried_files);
        if (moved.failed())
            return roll_back_and_finish(face, tx, game_dir, "The patch could not be installed: " + moved.problem, {});
        journal::remove_stage(game_dir);
    }
    // Every check before the first change of a game file; the carried files are in place by
    // now, so their names resolve as the work items will resolve them.
    if (sources.check_work) {
        Result ready = sources.check_work("patch.ini");
        xfile::reset_xfile();
        if (ready.failed())
            return roll_back_and_finish(face, tx, game_dir, ready.problem, {});
    }
    WorkListReport work = run_work_list("patch.ini", sources.handlers);
    xfile::reset_xfile();  // containers stay loaded and locked until the run is over
    if (work.any_failed()) {
        std::string failures = work.outcome_text();
        return roll_back_and_finish(face, tx, game_dir, failures, std::move(work));
    }
    if (Result committed = tx.commit(); committed.failed())
        return roll_back_and_finish(face, tx, game_dir, "The patch could not be installed: " + committed.problem,
                                    std::move(work));
    face.show_phase(Phase::Idle);
    std::string text = work.outcome_text();
    face.final_message(text, kCompletedCaption);
    return {InstallOutcome::Completed, text, work};
}

// A dry run's stage, in its own folder rather than beside the game.
Result make_dry_stage(const std::string& stage) {
    if (!plat::create_directory(stage.c_str()))
        return Result::failed("cannot make " + plat::display_path(stage) + ": " + plat::last_error_text());
    return Result::applied();
}

// The whole run; `game_dir` is left empty when the game was not found.
InstallResult run_steps(InstallerFace& face, const InstallSources& sources, std::string& game_dir,
                        const RunMode& mode) {
    face.show_phase(Phase::Searching);
    bool found = sources.locate_game(game_dir) && game_dir.find('\\') != std::string::npos;
    std::string saved;
    if (found) game_dir.erase(game_dir.rfind('\\') + 1);
    // A shortcut left behind by an uninstalled game points nowhere: the game is not there.
    found = found && plat::is_directory(game_dir.c_str());
    if (!found) game_dir.clear();
    std::optional<Problem> problem = Problem{InstallOutcome::NotFound, kNotFoundText, kNotFoundCaption};
    if (found && !mode.dry) {
        // An install that did not end is taken back (or an undo finished) before anything else.
        journal::Recovery recovery = journal::recover_game(game_dir);
        if (recovery.result.failed()) {
            face.show_phase(Phase::Idle);
            return finish(face, InstallOutcome::NotWhole,
                          "The game is not whole after an earlier install that did not end, and could not be "
                          "put back: " + recovery.result.problem,
                          kFailedCaption);
        }
        if (!recovery.told.empty()) face.notice(recovery.told);
    }
    // The real install would first put such a game back; a dry run changes nothing, and so
    // cannot tell what the install would do.
    if (Result whole; found && mode.dry && (whole = journal::check_whole(game_dir)).failed()) {
        face.show_phase(Phase::Idle);
        return finish(face, InstallOutcome::NotWhole,
                      "The game is not whole: " + whole.problem +
                          ". The installer puts it back first; run \"dravo recover\" (or the installer) and try "
                          "again.\nNothing was changed.",
                      kFailedCaption);
    }
    if (found) {
        config::reset_configuration();
        xfile::reset_xfile();
        if (sources.check_patch) {
            if (Result sound = sources.check_patch(); sound.failed()) {
                face.show_phase(Phase::Idle);
                return finish(face, InstallOutcome::PatchDamaged, sound.problem + "\nNothing was changed.",
                              kFailedCaption);
            }
        }
        if (sources.unpack) {
            // The carried files wait in a stage beside the game until the user said yes; the
            // patch's own configuration is read from there.
            saved = saved_directory();
            std::string why;
            std::string stage = mode.stage(game_dir);
            Result staged = mode.dry ? make_dry_stage(stage) : journal::prepare_stage(game_dir);
            if (staged.failed() || !sources.unpack(stage, why)) {
                if (!mode.dry) journal::remove_stage(game_dir);
                face.show_phase(Phase::Idle);
                return finish(face, InstallOutcome::UnpackFailed,
                              "The patch could not be unpacked: " + (staged.failed() ? staged.problem : why) +
                                  "\nNothing was changed.",
                              kFailedCaption);
            }
            plat::change_directory(game_dir.c_str());
        }
        problem = load_configuration(game_dir, sources.unpack ? mode.stage(game_dir) : "", sources);
    }
    face.show_phase(Phase::Idle);
    if (problem) {
        xfile::reset_xfile();
        if (!saved.empty()) {
            plat::change_directory(saved.c_str());
            if (!mode.dry) journal::remove_stage(game_dir);
        }
        return finish(face, problem->outcome, problem->text, problem->caption);
    }
    if (mode.dry) {
        InstallResult r = install_in_view(face, sources, game_dir, mode);
        if (!saved.empty()) plat::change_directory(saved.c_str());
        return r;
    }
    bool confirmed = face.confirm();
    if (!confirmed) {
        xfile::reset_xfile();
        if (!saved.empty()) plat::change_directory(saved.c_str());
        journal::remove_stage(game_dir);
        return {InstallOutcome::Cancelled, "", {}};
    }
    return install_confirmed(face, sources, game_dir);
}

}  // namespace

InstallResult run_installation(InstallerFace& face, const InstallSources& sources) {
    std::string game_dir;
    InstallResult r = run_steps(face, sources, game_dir, RunMode{});
    // Only an install that began is recorded: a run that stopped before (not found, a damaged
    // patch, Cancel) leaves the game folder byte for byte as it was.
    bool began = r.outcome == InstallOutcome::Completed || r.outcome == InstallOutcome::Failed ||
                 r.outcome == InstallOutcome::NotWhole;
    if (!game_dir.empty() && began) append_install_log(game_dir, {sources.patch_name, r.work, r.text});
    return r;
}

DryRunResult try_installation(InstallerFace& face, const InstallSources& sources,
                              const std::function<void()>& inspect) {
    DryRunResult dry;
    RunMode mode;
    mode.inspect = inspect;
    mode.dry = true;
    mode.dry_result = &dry;
    mode.scratch = plat::temp_directory() + "dravo-dry-run-" + std::to_string(plat::process_id()) + "\\";
    plat::remove_tree(mode.scratch);  // left by an earlier run of a process with this number
    if (!plat::create_directory(mode.scratch.c_str())) {
        dry.install = finish(face, InstallOutcome::Failed,
                             "The dry run cannot make its folder " + plat::display_path(mode.scratch) + ": " +
                                 plat::last_error_text(),
                             kFailedCaption);
        return dry;
    }
    std::string game_dir;
    dry.install = run_steps(face, sources, game_dir, mode);
    plat::remove_tree(mode.scratch);
    return dry;
}
