// Recovery of a game folder from its journal, and the stage's life.
#include "journal/recovery.h"

#include <vector>

#include "journal/transaction.h"
#include "platform/platform.h"

namespace journal {

namespace {

constexpr std::int64_t kMaxJournalBytes = 16 << 20;

bool read_open_file(plat::Handle h, std::string* text) {
    std::int64_t size = plat::file_size(h);
    if (size < 0 || size > kMaxJournalBytes) return false;
    text->assign(static_cast<std::size_t>(size), '\0');
    std::uint32_t got = 0;
    return plat::seek_file(h, 0, plat::SeekFrom::Begin) == 0 &&
           (size == 0 || plat::read_file(h, text->data(), static_cast<std::uint32_t>(size), &got)) &&
           got == static_cast<std::uint32_t>(size);
}

bool header_cut_short(const std::string& text) {
    std::size_t first = text.find('\n');
    return first == std::string::npos || text.find('\n', first + 1) == std::string::npos;
}

Result failed_on(const std::string& path, const std::string& what) {
    return Result::failed(plat::display_path(path) + ": " + what);
}

}  // namespace

bool remove_tree(const std::string& dir) {
    std::string folder = dir;
    if (!folder.empty() && folder.back() == '\\') folder.pop_back();
    std::vector<std::string> names;
    if (!plat::list_directory(folder.c_str(), &names)) return false;
    bool ok = true;
    for (const std::string& name : names) {
        std::string path = folder + "\\" + name;
        ok = (plat::is_directory(path.c_str()) ? remove_tree(path) : plat::delete_file(path.c_str())) && ok;
    }
    return ok && plat::remove_directory(folder.c_str());
}

Result prepare_stage(const std::string& game_dir) {
    if (Result gone = remove_stage(game_dir); gone.failed()) return gone;
    std::string stage = stage_folder(game_dir);
    if (!plat::create_directory(stage.c_str()))
        return failed_on(stage, "cannot create the folder for the patch's files: " + plat::last_error_text());
    return Result::applied();
}

Result remove_stage(const std::string& game_dir) {
    std::string stage = stage_folder(game_dir);
    if (!plat::is_directory(stage.c_str()) || remove_tree(stage)) return Result::applied();
    return failed_on(stage, "cannot remove the patch's unpacked files: " + plat::last_error_text());
}

Recovery recover_game(const std::string& game_dir) {
    Recovery out;
    int number = newest_journal(game_dir);
    if (number > 0) {
        std::string path = journal_path(game_dir, number);
        plat::File file = plat::File::open(path.c_str(), plat::Access::ReadWrite, plat::Disposition::OpenExisting);
        if (!file) {
            if (plat::last_error() == plat::Error::SharingViolation)
                return {Result::failed("another install is running in this game folder (its journal " +
                                       plat::display_path(path) + " is in use)"), {}};
            return {failed_on(path, "cannot open the journal: " + plat::last_error_text()), {}};
        }
        std::string text;
        if (!read_open_file(file.get(), &text))
            return {failed_on(path, "cannot read the journal: " + plat::last_error_text()), {}};
        JournalFile journal;
        std::string why;
        bool parsed = parse_journal(text, &journal, &why);
        if (!parsed && !header_cut_short(text))
            return {failed_on(path, "the journal is damaged (" + why + "); the game folder was left as it is"), {}};
        if (!parsed || !journal.committed || journal.undoing) {
            // Not begun, begun and not committed, or an undo begun: in every case the files go
            // back to what they were before that install.
            if (Result r = restore_records(journal.records); r.failed()) return {r, {}};
            file.close();
            if (!plat::delete_file(path.c_str()))
                return {failed_on(path, "cannot remove the journal: " + plat::last_error_text()), {}};
            if (journal.undoing)
                out.told = "Taking back an earlier install was interrupted; it has now been finished.";
            else if (!journal.records.empty())
                out.told = "An install that was interrupted has been undone: the game is as it was before it.";
        }
    }
    std::string stage = stage_folder(game_dir);
    if (plat::is_directory(stage.c_str())) {
        if (Result r = remove_stage(game_dir); r.failed()) return {r, out.told};
        if (out.told.empty()) out.told = "The unpacked files of an interrupted install have been removed.";
    }
    return out;
}

}  // namespace journal
