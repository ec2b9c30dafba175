// Recovery of a game folder from its journal, and the stage's life.
#include "journal/recovery.h"

#include <set>
#include <vector>

#include "journal/transaction.h"
#include "platform/digest.h"
#include "platform/file_tree.h"
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

Result prepare_stage(const std::string& game_dir) {
    if (Result gone = remove_stage(game_dir); gone.failed()) return gone;
    std::string stage = stage_folder(game_dir);
    if (!plat::create_directory(stage.c_str()))
        return failed_on(stage, "cannot create the folder for the patch's files: " + plat::last_error_text());
    return Result::applied();
}

Result remove_stage(const std::string& game_dir) {
    std::string stage = stage_folder(game_dir);
    if (!plat::is_directory(stage.c_str()) || plat::remove_tree(stage)) return Result::applied();
    return failed_on(stage, "cannot remove the patch's unpacked files: " + plat::last_error_text());
}

namespace {

// The newest journal of a game folder, held open (and so locked against a running install).
struct NewestJournal {
    int number = 0;
    std::string path;
    plat::File file;
    std::string text;
    JournalFile journal;
    bool parsed = false;
    std::string why;  // when not parsed
};

Result open_newest_journal(const std::string& game_dir, NewestJournal* out) {
    out->number = newest_journal(game_dir);
    if (out->number == 0) return Result::applied();
    out->path = journal_path(game_dir, out->number);
    out->file = plat::File::open(out->path.c_str(), plat::Access::ReadWrite, plat::Disposition::OpenExisting);
    if (!out->file) {
        if (plat::last_error() == plat::Error::SharingViolation)
            return Result::failed("another install is running in this game folder (its journal " +
                                  plat::display_path(out->path) + " is in use)");
        return failed_on(out->path, "cannot open the journal: " + plat::last_error_text());
    }
    if (!read_open_file(out->file.get(), &out->text))
        return failed_on(out->path, "cannot read the journal: " + plat::last_error_text());
    Result parsed = parse_journal(out->text, &out->journal);
    out->parsed = !parsed.failed();
    out->why = parsed.problem;
    return Result::applied();
}

// Restores what the journal's install changed, then removes the journal.
Result restore_and_forget(NewestJournal& j) {
    if (Result r = restore_records(j.journal.records); r.failed()) return r;
    j.file.close();
    if (!plat::delete_file(j.path.c_str()))
        return failed_on(j.path, "cannot remove the journal: " + plat::last_error_text());
    return Result::applied();
}

bool same_digest(const std::string& path, const std::string& hex) {
    plat::Sha256Digest digest;
    return plat::sha256_of_file(path.c_str(), &digest) && plat::to_hex(digest) == hex;
}

// The files an install left that are no longer as it left them, and the kept old files that
// are gone: either makes an undo unsafe.
std::vector<std::string> unsafe_to_undo(const JournalFile& journal) {
    std::vector<std::string> problems;
    std::set<std::string> written;
    for (const Record& r : journal.records) {
        if (r.kind != Record::Kind::Wrote) continue;
        written.insert(r.path);
        if (!plat::file_exists(r.path.c_str()) || !same_digest(r.path, r.kept))
            problems.push_back(plat::display_path(r.path) + " changed since the install");
    }
    for (const Record& r : journal.records) {
        if (r.kind == Record::Kind::Wrote || written.count(r.path)) continue;
        // The install left no file here (a file it deleted or only used for a while).
        if (plat::file_exists(r.path.c_str()))
            problems.push_back(plat::display_path(r.path) + " was made since the install");
    }
    for (const Record& r : journal.records)
        if (r.kind == Record::Kind::Keep && !plat::file_exists(r.kept.c_str()))
            problems.push_back("the old " + plat::display_path(r.path) + " kept as " + plat::display_path(r.kept) +
                               " is gone");
    return problems;
}

}  // namespace

Result check_whole(const std::string& game_dir) {
    if (int number = newest_journal(game_dir); number > 0) {
        std::string path = journal_path(game_dir, number);
        plat::File f = plat::File::open(path.c_str(), plat::Access::Read, plat::Disposition::OpenExisting);
        std::string text;
        JournalFile journal;
        if (!f)
            return Result::failed(plat::last_error() == plat::Error::SharingViolation
                                      ? "another install is running in this game folder"
                                      : "its journal " + plat::display_path(path) + " cannot be read");
        if (!read_open_file(f.get(), &text) || parse_journal(text, &journal).failed() || !journal.committed ||
            journal.undoing)
            return Result::failed("an earlier install in this game folder did not end (" + plat::display_path(path) +
                                  ")");
    }
    if (plat::is_directory(stage_folder(game_dir).c_str()))
        return Result::failed("the unpacked files of an earlier install that did not end are still there");
    return Result::applied();
}

Recovery recover_game(const std::string& game_dir) {
    Recovery out;
    NewestJournal j;
    if (Result r = open_newest_journal(game_dir, &j); r.failed()) return {r, {}};
    if (j.number > 0) {
        if (!j.parsed && !header_cut_short(j.text))
            return {failed_on(j.path, "the journal is damaged (" + j.why + "); the game folder was left as it is"), {}};
        if (!j.parsed || !j.journal.committed || j.journal.undoing) {
            // Not begun, begun and not committed, or an undo begun: in every case the files go
            // back to what they were before that install.
            if (Result r = restore_and_forget(j); r.failed()) return {r, {}};
            if (j.journal.undoing)
                out.told = "Taking back an earlier install was interrupted; it has now been finished.";
            else if (!j.journal.records.empty())
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

Recovery undo_last_install(const std::string& game_dir) {
    Recovery first = recover_game(game_dir);
    if (first.result.failed()) return first;
    NewestJournal j;
    if (Result r = open_newest_journal(game_dir, &j); r.failed()) return {r, first.told};
    if (j.number == 0) return {Result::failed("no install to take back: the game folder has no journal"), first.told};
    if (!j.parsed) return {failed_on(j.path, "the journal is damaged (" + j.why + ")"), first.told};
    if (!j.journal.committed) return {failed_on(j.path, "the newest install did not complete"), first.told};
    std::vector<std::string> problems = unsafe_to_undo(j.journal);
    if (!problems.empty()) {
        std::string text = "install " + std::to_string(j.number) + " cannot be taken back safely, so nothing was changed:";
        for (const std::string& p : problems) text += "\n  " + p;
        return {Result::failed(text), first.told};
    }
    // From the "undo" line on, a crash is finished by the next recovery.
    std::uint32_t put = 0;
    std::string line = kUndoLine;
    if (plat::seek_file(j.file.get(), 0, plat::SeekFrom::End) < 0 ||
        !plat::write_file(j.file.get(), line.data(), static_cast<std::uint32_t>(line.size()), &put) ||
        put != line.size() || !plat::flush_file(j.file.get()))
        return {failed_on(j.path, "cannot write the journal: " + plat::last_error_text()), first.told};
    if (Result r = restore_and_forget(j); r.failed()) return {r, first.told};
    std::string told = "Install " + std::to_string(j.number) + " was taken back: its files are as they were before it.";
    return {Result::applied(), first.told.empty() ? told : first.told + "\n" + told};
}

}  // namespace journal
