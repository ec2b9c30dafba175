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
#include <string_view>
#include <utility>

#include "config/config.h"
#include "install/install_log.h"
#include "install/pre_checks.h"
#include "install/programs_list.h"
#include "journal/recovery.h"
#include "journal/transaction.h"
#include "platform/file_tree.h"
#include "platform/intercept/held_files.h"
#include "platform/trust.h"
#include "xfile/records.h"
#include "platform/platform.h"
#include "platform/rules/winpath.h"
#include "xfile/xfile.h"

namespace install {

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
    std::string scratch;              // a dry run's own folder: its stage and the view's copies
    DryRunResult* dry_result = nullptr;  // set for a dry run only
    std::function<void()> inspect;    // a dry run's look at the view before it goes
    bool dry() const { return dry_result != nullptr; }
};

// A folder of the run's own (a dry run's scratch folder, its view), removed with everything in
// it when the guard goes.
class ScratchFolder {
public:
    explicit ScratchFolder(std::string dir) : dir_(std::move(dir)) {}
    ScratchFolder(const ScratchFolder&) = delete;
    ScratchFolder& operator=(const ScratchFolder&) = delete;
    ~ScratchFolder() { plat::remove_tree(dir_); }

private:
    std::string dir_;
};

// The stage beside the game, where the carried files wait until the user said yes. Once made
// (fresh, for this user only) it belongs to the run, which holds it open so that on Windows no
// one can rename it or put a link in its place, and removes it on every way out; after the
// install moved its files into the game it is removed at once.
class Stage {
public:
    Stage() = default;
    Stage(const Stage&) = delete;
    Stage& operator=(const Stage&) = delete;
    ~Stage() { remove(); }
    Result prepare(const std::string& game_dir) {
        game_dir_ = game_dir;
        if (Result made = journal::prepare_stage(game_dir); made.failed()) return made;
        std::string stage = journal::stage_folder(game_dir);
        folder_ = plat::File(plat::hold_folder(stage.c_str()));
        if (!folder_)
            return Result::failed(plat::display_path(stage) + ": cannot hold the folder for the patch's files: " +
                                  plat::last_error_text());
        // Held now, the name is checked once more: a folder put in its place between the
        // create and the hold is someone else's.
        if (!plat::owned_safely(stage.c_str()))
            return Result::failed(plat::display_path(stage) + ": the folder for the patch's files was replaced by "
                                  "one that others may write; nothing was unpacked");
        return Result::applied();
    }
    void remove() {
        folder_.close();  // a held folder cannot be removed on Windows
        if (!game_dir_.empty()) journal::remove_stage(std::exchange(game_dir_, std::string()));
    }

private:
    std::string game_dir_;  // empty: no stage is owned
    plat::File folder_;     // the stage, held while it is there
};

// The current directory the run found, while the run works with the game folder current: put
// back when the run ends, unless the confirmed install leaves the game folder current as the
// game's runtime does.
class SavedDirectory {
public:
    SavedDirectory() = default;
    SavedDirectory(const SavedDirectory&) = delete;
    SavedDirectory& operator=(const SavedDirectory&) = delete;
    ~SavedDirectory() { restore(); }
    void enter(const std::string& dir) {
        saved_ = saved_directory();
        plat::change_directory(dir.c_str());
    }
    void restore() {
        if (!saved_.empty()) plat::change_directory(std::exchange(saved_, std::string()).c_str());
    }
    void stay() { saved_.clear(); }

private:
    std::string saved_;  // empty: nothing to put back
};

// The dry run's view of the files, in use while the guard lives.
class ViewInUse {
public:
    explicit ViewInUse(plat::Overlay& view) { plat::use_overlay(&view); }
    ViewInUse(const ViewInUse&) = delete;
    ViewInUse& operator=(const ViewInUse&) = delete;
    ~ViewInUse() { plat::use_overlay(nullptr); }
};

struct Problem {
    InstallOutcome outcome;
    std::string text;
    const char* caption;
    std::string not_found = {};  // NotFound: "PATH: REASON"
};

// One run: the face and the sources, the game folder once found, what the run set up, and
// the one way out, finish().
class Run {
public:
    Run(InstallerFace& face, const InstallSources& sources, const RunMode& mode)
        : face(face), sources(sources), mode(mode) {}

    InstallerFace& face;
    const InstallSources& sources;
    const RunMode& mode;
    std::string game_dir;  // ends with a backslash; empty until the game was found
    std::vector<std::string> game_folders;  // the other folders the game's Dravo.ini names
    Stage stage;
    SavedDirectory directory;
    std::vector<std::string> programs_told;  // what was done to the system's list of programs

    void show(Phase phase) {
        face.show_phase(phase);
        phase_ = phase;
    }
    // The carried files' folder until the install: beside the game, or in a dry run's scratch.
    std::string stage_folder() const {
        return mode.dry() ? mode.scratch + "stage\\" : journal::stage_folder(game_dir);
    }
    // Every way out: the files the library holds closed, the current directory and the stage
    // put back (as far as the run still owns them), the phase back to idle, and the final
    // message (none when the user cancelled, who knows what happened).
    InstallResult finish(InstallOutcome outcome, std::string text, const char* caption, WorkListReport work = {}) {
        xfile::reset_xfile();
        plat::release_held_files();
        directory.restore();
        stage.remove();
        if (phase_ != Phase::Idle) show(Phase::Idle);
        // A patch the installer carries that is damaged is fetched again.
        if (outcome == InstallOutcome::PatchDamaged && (sources.unpack || sources.check_patch) &&
            text.find("download it again") == std::string::npos)
            text += std::string("\n") + kDownloadAgainText;
        if (outcome != InstallOutcome::Cancelled) face.final_message(text, caption);
        return {outcome, std::move(text), std::move(work)};
    }
    InstallResult finish(Problem problem) {
        InstallResult r = finish(problem.outcome, std::move(problem.text), problem.caption);
        r.not_found = std::move(problem.not_found);
        return r;
    }

private:
    Phase phase_ = Phase::Idle;
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
    std::string game_ini = game_dir + "Dravo.ini";
    if (!config::read_configuration(game_ini.c_str(), config::ConfigMode::Game))
        return Problem{InstallOutcome::NotFound, kNotFoundText, kNotFoundCaption,
                       plat::file_exists(game_ini.c_str())
                           ? plat::display_path(game_ini) + ": cannot be opened"
                           : plat::display_path(game_dir) + ": no Dravo.ini in this folder"};
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

constexpr char kNothingChanged[] = "\nNothing was changed: the game is as it was before.";

// ---- preparing: everything before the question ----

// The game folder: where the sources say, cut behind its last backslash, and there. Failed:
// "PATH: REASON".
Result find_game(Run& run) {
    std::string dir;
    if (Result located = run.sources.locate_game(dir); located.failed()) return located;
    std::size_t last = dir.rfind('\\');
    if (last == std::string::npos)
        return Result::failed(plat::display_path(dir) + ": the path has no folder part");
    dir.erase(last + 1);
    // A shortcut left behind by an uninstalled game points nowhere: the game is not there.
    if (!plat::is_directory(dir.c_str())) return Result::failed(plat::display_path(dir) + ": no such folder");
    run.game_dir = canonical_folder(dir);
    return Result::applied();
}

// An install that did not end is taken back (or an undo finished) before anything else.
std::optional<InstallResult> make_game_whole(Run& run) {
    journal::Recovery recovery = journal::recover_game(run.game_dir, run.game_folders);
    if (recovery.result.failed())
        return run.finish(InstallOutcome::NotWhole,
                          "The game is not whole after an earlier install that did not end, and could not be "
                          "put back: " + recovery.result.problem,
                          kFailedCaption);
    if (!recovery.told.empty()) run.face.notice(recovery.told);
    return std::nullopt;
}

// The real install would first put such a game back; a dry run changes nothing, and so cannot
// tell what the install would do.
std::optional<InstallResult> refuse_unwhole_game(Run& run) {
    Result whole = journal::check_whole(run.game_dir);
    if (!whole.failed()) return std::nullopt;
    return run.finish(InstallOutcome::NotWhole,
                      "The game is not whole: " + whole.problem +
                          ". The installer puts it back first; run \"dravo recover\" (or the installer) and try "
                          "again.\nNothing was changed.",
                      kFailedCaption);
}

// The digest a carried patch is named by ("sha256 HEX"); empty when it has none.
std::string patch_digest(const InstallSources& sources) {
    constexpr std::string_view kPrefix = "sha256 ";
    const std::string& name = sources.patch_name;
    return name.compare(0, kPrefix.size(), kPrefix) == 0 ? name.substr(kPrefix.size()) : std::string();
}

// The same patch installed again would run its items once more: kind '2' items append their
// messages again on every run. A committed install of it that was not taken back, by the
// journals, or by the log where the journals were removed, refuses it.
std::optional<InstallResult> refuse_installed_patch(Run& run) {
    std::string digest = patch_digest(run.sources);
    if (run.sources.reinstall || digest.empty()) return std::nullopt;
    journal::PatchRecord record = journal::find_installed_patch(run.game_dir, digest);
    bool installed = record == journal::PatchRecord::Installed ||
                     (record == journal::PatchRecord::NoJournals &&
                      log_records_completed(run.game_dir, run.sources.patch_name));
    if (!installed) return std::nullopt;
    return run.finish(InstallOutcome::AlreadyInstalled, kAlreadyInstalledText, kFailedCaption);
}

// A damaged patch ends the run before anything of it is unpacked.
std::optional<InstallResult> check_patch(Run& run) {
    if (!run.sources.check_patch) return std::nullopt;
    Result sound = run.sources.check_patch();
    if (!sound.failed()) return std::nullopt;
    return run.finish(InstallOutcome::PatchDamaged, sound.problem + "\nNothing was changed.", kFailedCaption);
}

// The stage beside the game, owned by the run; a dry run's in its scratch folder instead, which
// goes with it.
Result make_stage(Run& run) {
    if (!run.mode.dry()) return run.stage.prepare(run.game_dir);
    std::string stage = run.stage_folder();
    if (!plat::create_directory(stage.c_str()))
        return Result::failed("cannot make " + plat::display_path(stage) + ": " + plat::last_error_text());
    return Result::applied();
}

// The carried files wait in the stage until the user said yes; the patch's own configuration
// is read from there, with the game folder current.
std::optional<InstallResult> unpack_into_stage(Run& run) {
    if (!run.sources.unpack) return std::nullopt;
    std::string why;
    Result staged = make_stage(run);
    if (staged.failed() || !run.sources.unpack(run.stage_folder(), why))
        return run.finish(InstallOutcome::UnpackFailed,
                          "The patch could not be unpacked: " + (staged.failed() ? staged.problem : why) +
                              "\nNothing was changed.",
                          kFailedCaption);
    run.directory.enter(run.game_dir);
    return std::nullopt;
}

// Everything before the question: the game found and whole, the patch checked and unpacked,
// the game's and the patch's configuration loaded. Nothing when all is ready; otherwise how
// the run ended.
std::optional<InstallResult> prepare(Run& run) {
    run.show(Phase::Searching);
    if (Result found = find_game(run); found.failed())
        return run.finish({InstallOutcome::NotFound, kNotFoundText, kNotFoundCaption, std::move(found.problem)});
    run.game_folders = game_folders(run.game_dir);
    if (std::optional<InstallResult> end = run.mode.dry() ? refuse_unwhole_game(run) : make_game_whole(run))
        return end;
    if (run.sources.programs && !run.mode.dry()) run.programs_told = repair_entries(*run.sources.programs, run.game_dir);
    config::reset_configuration();
    xfile::reset_xfile();
    if (std::optional<InstallResult> end = check_patch(run)) return end;
    if (std::optional<InstallResult> end = unpack_into_stage(run)) return end;
    if (std::optional<Problem> problem =
            load_configuration(run.game_dir, run.sources.unpack ? run.stage_folder() : "", run.sources))
        return run.finish(*std::move(problem));
    return refuse_installed_patch(run);
}

// ---- the confirmed install ----

// A failed install is rolled back whole; when even that fails, the journal stays and the next
// start finishes it.
InstallResult roll_back_and_finish(Run& run, journal::Transaction& tx, std::string text, WorkListReport work) {
    Result back = tx.roll_back();
    InstallOutcome outcome = InstallOutcome::Failed;
    if (back.failed()) {
        outcome = InstallOutcome::NotWhole;
        text += "\nThe game could not be put back as it was: " + back.problem +
                "\nRun the installer again (or \"dravo recover\") to finish putting it back.";
    } else {
        text += kNothingChanged;
    }
    return run.finish(outcome, std::move(text), kFailedCaption, std::move(work));
}

// The carried files go from the stage into the game folder, each through the journal, which
// keeps the game's own file of that name. Each is moved through the handle held since it was
// unpacked and stays held under its new name: the work items read it through that handle.
Result move_in_from_stage(const std::string& game_dir, const std::vector<std::string>& names) {
    std::string stage = journal::stage_folder(game_dir);
    for (const std::string& name : names) {
        std::string from = stage + name;
        std::string to = game_dir + name;
        // Sources that unpack by name (a test's) hold nothing: their files move by name.
        bool moved = plat::holds_file(from.c_str()) ? plat::move_held_file(from.c_str(), to.c_str())
                                                    : plat::replace_file(from.c_str(), to.c_str());
        if (!moved)
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

InstallResult install_confirmed(Run& run) {
    // The install leaves the game folder current, as the game's runtime does.
    run.directory.stay();
    run.show(Phase::Installing);
    // The log is written after the install, whatever became of it: a name there that is no
    // log refuses the install now, before anything changed, rather than after a commit.
    if (Result log = check_install_log(run.game_dir); log.failed())
        return run.finish(InstallOutcome::Failed, "The patch could not be installed: " + log.problem + kNothingChanged,
                          kFailedCaption);
    journal::Transaction tx;
    if (Result begun = tx.begin(run.game_dir); begun.failed())
        return run.finish(InstallOutcome::Failed,
                          "The patch could not be installed: " + begun.problem + kNothingChanged, kFailedCaption);
    if (std::string digest = patch_digest(run.sources); !digest.empty())
        if (Result noted = tx.note_patch(digest); noted.failed())
            return roll_back_and_finish(run, tx, "The patch could not be installed: " + noted.problem, {});
    if (run.sources.unpack) {
        Result moved = move_in_from_stage(run.game_dir, run.sources.carried_files);
        if (moved.failed())
            return roll_back_and_finish(run, tx, "The patch could not be installed: " + moved.problem, {});
        run.stage.remove();
    }
    // Every check before the first change of a game file; the carried files are in place by
    // now, so their names resolve as the work items will resolve them.
    if (run.sources.check_work) {
        Result ready = run.sources.check_work("patch.ini", run.game_folders);
        xfile::reset_xfile();
        if (ready.failed()) return roll_back_and_finish(run, tx, ready.problem, {});
    }
    WorkListReport work = run_work_list("patch.ini", run.sources.handlers);
    xfile::reset_xfile();  // containers stay loaded and locked until the run is over
    if (work.any_failed()) {
        std::string failures = work.outcome_text();
        return roll_back_and_finish(run, tx, std::move(failures), std::move(work));
    }
    if (Result committed = tx.commit(); committed.failed())
        return roll_back_and_finish(run, tx, "The patch could not be installed: " + committed.problem, std::move(work));
    std::string text = work.outcome_text();
    // The install is whole and stays so: an entry that cannot be made is said, not undone.
    if (run.sources.programs) {
        Result listed = register_install(*run.sources.programs, run.game_dir, tx.number());
        run.programs_told.push_back(listed.failed() ? listed.problem
                                                    : entry_key(run.game_dir, tx.number()) + ": the entry was written");
        if (listed.failed())
            text += "\nThe install could not be added to Windows' list of installed programs (" + listed.problem +
                    "). It can be taken back with DravoPatch.exe /UNDO.";
    }
    return run.finish(InstallOutcome::Completed, std::move(text), kCompletedCaption, std::move(work));
}

InstallResult ask_and_install(Run& run) {
    if (!run.face.confirm()) return run.finish(InstallOutcome::Cancelled, "", "");
    return install_confirmed(run);
}

// ---- the dry run ----

// The work list on the view: the carried files adopted into it under their names in the game
// folder, then the checks and the items as they would run on the game.
InstallResult run_in_view(Run& run, plat::Overlay& view) {
    ViewInUse in_use(view);
    if (run.sources.unpack)
        for (const std::string& name : run.sources.carried_files)
            if (!view.adopt(run.game_dir + name, run.stage_folder() + name) ||
                (plat::holds_file((run.stage_folder() + name).c_str()) &&
                 !plat::hold_also_as((run.stage_folder() + name).c_str(), (run.game_dir + name).c_str())))
                return {InstallOutcome::Failed,
                        "cannot install " + plat::display_path(run.game_dir + name) + ": " + plat::last_error_text(),
                        {}};
    if (run.sources.check_work) {
        Result ready = run.sources.check_work("patch.ini", run.game_folders);
        xfile::reset_xfile();
        if (ready.failed()) return {InstallOutcome::Failed, ready.problem, {}};
    }
    InstallResult result{InstallOutcome::Completed, "", run_work_list("patch.ini", run.sources.handlers)};
    xfile::reset_xfile();
    result.text = result.work.outcome_text();
    if (result.work.any_failed()) result.outcome = InstallOutcome::Failed;
    if (run.mode.inspect) run.mode.inspect();
    return result;
}

// The confirmed part of a dry run, without the question: the install on a view of the files,
// and what it changed.
InstallResult install_in_view(Run& run) {
    run.show(Phase::Installing);
    std::string view_dir = run.mode.scratch + "view\\";
    if (!plat::create_directory(view_dir.c_str()))
        return run.finish(InstallOutcome::Failed,
                          "The dry run cannot make its folder " + plat::display_path(view_dir) + ": " +
                              plat::last_error_text(),
                          kFailedCaption);
    InstallResult result{InstallOutcome::Failed, "", {}};
    {
        ScratchFolder view_folder(view_dir);  // goes after the view
        plat::Overlay view(view_dir);
        result = run_in_view(run, view);
        DryRunResult& dry = *run.mode.dry_result;
        dry.changes = view.changes();
        for (const plat::Overlay::Change& c : dry.changes)
            dry.differs.push_back(c.kind == plat::Overlay::Kind::Created ||
                                  (c.kind == plat::Overlay::Kind::Changed && content_differs(c.path, c.scratch)));
    }
    const char* caption = result.outcome == InstallOutcome::Completed ? kCompletedCaption : kFailedCaption;
    return run.finish(result.outcome, std::move(result.text), caption, std::move(result.work));
}

// The whole run: preparing, then the confirmed install or the dry run.
InstallResult run_steps(Run& run) {
    if (std::optional<InstallResult> end = prepare(run)) return *std::move(end);
    run.show(Phase::Idle);
    return run.mode.dry() ? install_in_view(run) : ask_and_install(run);
}

}  // namespace

std::string canonical_folder(const std::string& dir) {
    std::string path = plat::long_path_name(dir.c_str());
    if (path.empty()) path = dir;
    if (path.back() != '\\' && path.back() != '/') path += '\\';
    return path;
}

InstallResult run_installation(InstallerFace& face, const InstallSources& sources) {
    RunMode real;
    Run run(face, sources, real);
    InstallResult r = run_steps(run);
    append_to_log_copy({sources.patch_name, r.work, r.text.empty() ? "Cancelled." : r.text, r.not_found, run.programs_told});
    r.game_dir = run.game_dir;
    if (run.game_dir.empty()) return r;
    // An install that began is recorded. A run that stopped before (a damaged patch, Cancel)
    // leaves the game folder byte for byte as it was; one that did not take the folder for the
    // game says why in the folder's log, when it has one.
    bool began = r.outcome == InstallOutcome::Completed || r.outcome == InstallOutcome::Failed ||
                 r.outcome == InstallOutcome::NotWhole;
    InstallLogEntry entry{sources.patch_name, r.work, r.text, r.not_found, run.programs_told};
    if (began) append_install_log(run.game_dir, entry);
    if (r.outcome == InstallOutcome::NotFound) add_to_install_log(run.game_dir, entry);
    return r;
}

DryRunResult try_installation(InstallerFace& face, const InstallSources& sources,
                              const std::function<void()>& inspect) {
    DryRunResult dry;
    RunMode mode{plat::make_scratch_folder("dravo-dry-run-"), &dry, inspect};
    if (mode.scratch.empty()) {
        Run run(face, sources, mode);
        dry.install = run.finish(InstallOutcome::Failed,
                                 "The dry run cannot make its folder in " + plat::display_path(plat::temp_directory()) +
                                     ": " + plat::last_error_text(),
                                 kFailedCaption);
        return dry;
    }
    ScratchFolder scratch(mode.scratch);
    Run run(face, sources, mode);
    dry.install = run_steps(run);
    dry.install.game_dir = run.game_dir;
    return dry;
}

}  // namespace install
