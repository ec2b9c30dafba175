#include "install/undo_flow.h"

#include <ctime>

#include "install/install_log.h"
#include "install/pre_checks.h"
#include "install/programs_list.h"
#include "journal/recovery.h"
#include "journal/transaction.h"
#include "platform/platform.h"
#include "xfile/xfile.h"

namespace install {

namespace {

std::string date_of(const std::string& path) {
    std::int64_t seconds = plat::modified_time(path.c_str());
    std::time_t t = static_cast<std::time_t>(seconds);
    char text[16] = "";
    if (std::tm* local = seconds < 0 ? nullptr : std::localtime(&t)) std::strftime(text, sizeof text, "%Y-%m-%d", local);
    return text;
}

std::string folder_shown(const std::string& game_dir) {
    std::string shown = plat::display_path(game_dir);
    if (shown.size() > 3 && (shown.back() == '\\' || shown.back() == '/')) shown.pop_back();
    // The drive letter as Windows shows it.
    if (shown.size() >= 2 && shown[1] == ':' && shown[0] >= 'a' && shown[0] <= 'z') shown[0] = static_cast<char>(shown[0] - 'a' + 'A');
    return shown;
}

// "Take back the Dravo patch 2 installed on 2026-12-09 in C:\Games\Dravo?"
std::string undo_question(const std::string& game_dir, int number) {
    std::string date = date_of(journal::journal_path(game_dir, number));
    return "Take back the Dravo patch " + std::to_string(number) + " installed" + (date.empty() ? "" : " on " + date) +
           " in " + folder_shown(game_dir) + "?";
}

InstallResult ended(InstallerFace& face, InstallOutcome outcome, std::string text, const char* caption) {
    if (outcome != InstallOutcome::Cancelled) face.final_message(text, caption);
    return {outcome, std::move(text), {}};
}

InstallResult failed(InstallerFace& face, const std::string& why) {
    return ended(face, InstallOutcome::Failed, why + "\nNothing was changed.", kUndoFailedCaption);
}


InstallResult undo_located(InstallerFace& face, const InstallSources& sources, const std::string& game_dir, int number,
                           std::vector<std::string>* programs_told) {
    int newest = journal::newest_journal(game_dir);
    if (newest == 0) return failed(face, "There is no install of the Dravo patch to take back in " + folder_shown(game_dir) + ".");
    if (number > newest || (number != 0 && !plat::file_exists(journal::journal_path(game_dir, number).c_str())))
        return failed(face, "There is no install " + std::to_string(number) + " of the Dravo patch in " +
                                folder_shown(game_dir) + ".");
    if (number != 0 && number != newest)
        return failed(face, "Install " + std::to_string(number) + " cannot be taken back before install " +
                                std::to_string(newest) + ", which came after it.");
    if (!face.confirm_undo(undo_question(game_dir, newest))) return ended(face, InstallOutcome::Cancelled, "", "");
    // The install the undo takes back: the newest completed one (one that did not complete is
    // rolled back by the recovery before it).
    std::vector<journal::CommittedInstall> installs = journal::committed_installs(game_dir);
    journal::Recovery undone = journal::undo_last_install(game_dir, game_folders(game_dir));
    xfile::reset_xfile();
    if (!undone.told.empty() && undone.result.failed()) face.notice(undone.told);
    if (undone.result.failed()) return failed(face, undone.result.problem);
    std::string text = kUndoneText;
    // The game is back; an entry left in the list is said, and the next start removes it.
    if (sources.programs && !installs.empty()) {
        const journal::CommittedInstall& undone = installs.back();
        Result gone = unregister_install(*sources.programs, game_dir, undone.number, undone.entry);
        programs_told->push_back(gone.failed() ? gone.problem
                                               : entry_key(game_dir, undone.number) + ": the entry was removed");
        if (gone.failed())
            text += "\nIts entry in Windows' list of installed programs could not be removed (" + gone.problem + ").";
    }
    return ended(face, InstallOutcome::Completed, text, kUndoCaption);
}

}  // namespace

InstallResult run_undo(InstallerFace& face, const InstallSources& sources, int number) {
    std::string game_dir;
    InstallResult r;
    std::vector<std::string> programs_told;
    if (Result found = sources.locate_game(game_dir); found.failed()) {
        r = ended(face, InstallOutcome::NotFound, kNotFoundText, kNotFoundCaption);
        r.not_found = found.problem;
    } else {
        game_dir = canonical_folder(game_dir);
        if (sources.programs) programs_told = repair_entries(*sources.programs, game_dir);
        r = undo_located(face, sources, game_dir, number, &programs_told);
    }
    std::string what = "none: taking back " + (number ? "install " + std::to_string(number) : std::string("the newest install"));
    InstallLogEntry entry{what, {}, r.text.empty() ? "Cancelled." : r.text, r.not_found, programs_told};
    append_to_log_copy(entry);
    if (!game_dir.empty() && r.outcome != InstallOutcome::Cancelled) add_to_install_log(game_dir, entry);
    return r;
}

}  // namespace install
