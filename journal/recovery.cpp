// Recovery of a game folder from its journal, and the stage's life.
#include "journal/recovery.h"

#include <algorithm>
#include <set>
#include <vector>

#include "journal/folder_sync.h"
#include "journal/transaction.h"
#include "platform/digest.h"
#include "platform/file_tree.h"
#include "platform/platform.h"
#include "platform/trust.h"

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
    if (!plat::create_private_directory(stage.c_str()))
        return failed_on(stage, "cannot create the folder for the patch's files: " + plat::last_error_text());
    return Result::applied();
}

Result remove_stage(const std::string& game_dir) {
    std::string stage = stage_folder(game_dir);
    plat::EntryKind kind = plat::entry_kind(stage.c_str());
    if (kind == plat::EntryKind::Missing) return Result::applied();
    if (kind != plat::EntryKind::Directory)
        return failed_on(stage, std::string("is ") + plat::entry_kind_words(kind) +
                                    ", not the installer's own folder; it was left alone");
    if (plat::remove_tree(stage)) return Result::applied();
    return failed_on(stage, "cannot remove the patch's unpacked files: " + plat::last_error_text());
}

namespace {

// A journal of a game folder, held open (and so locked against a running change).
struct OpenJournal {
    std::string path;
    plat::File file;
    std::string text;
    JournalFile journal;
    bool parsed = false;
    std::string why;  // when not parsed
    bool found() const { return !path.empty(); }
};

Result open_journal(const std::string& path, OpenJournal* out) {
    out->path = path;
    if (plat::EntryKind kind = plat::entry_kind(path.c_str()); kind != plat::EntryKind::File)
        return failed_on(path, std::string("the journal is ") + plat::entry_kind_words(kind) +
                                   ", not a file; the folder was left as it is");
    if (!plat::owned_safely(path.c_str()))
        return failed_on(path, "the journal belongs to another user or may be written by others, so it cannot be "
                               "trusted; the folder was left as it is");
    out->file = plat::File::open(path.c_str(), plat::Access::ReadWrite, plat::Disposition::OpenExisting);
    if (!out->file) {
        if (plat::last_error() == plat::Error::SharingViolation)
            return Result::failed("another install is running in this game folder (its journal " +
                                  plat::display_path(path) + " is in use)");
        return failed_on(path, "cannot open the journal: " + plat::last_error_text());
    }
    if (!read_open_file(out->file.get(), &out->text))
        return failed_on(path, "cannot read the journal: " + plat::last_error_text());
    Result parsed = parse_journal(out->text, &out->journal);
    out->parsed = !parsed.failed();
    out->why = parsed.problem;
    return Result::applied();
}

// A parsed journal is acted on only when every path it names may be trusted.
Result open_trusted(const std::string& path, const std::string& game_dir, const std::vector<std::string>& roots,
                    OpenJournal* out) {
    if (Result r = open_journal(path, out); r.failed()) return r;
    if (!out->parsed) return Result::applied();
    if (Result r = check_journal_paths(out->journal, game_dir, roots); r.failed())
        return failed_on(path, "the journal cannot be trusted: " + r.problem + "; the folder was left as it is");
    return Result::applied();
}

Result open_newest_journal(const std::string& game_dir, const std::vector<std::string>& roots, OpenJournal* out) {
    if (Result r = check_undo_folder(game_dir); r.failed()) return r;
    int number = newest_journal(game_dir);
    return number == 0 ? Result::applied() : open_trusted(journal_path(game_dir, number), game_dir, roots, out);
}

Result open_tables_journal(const std::string& dir, OpenJournal* out) {
    if (Result r = check_undo_folder(dir); r.failed()) return r;
    std::string path = tables_journal_path(dir);
    // The tables' transaction names the two tables of its own folder, nothing else.
    return plat::entry_kind(path.c_str()) != plat::EntryKind::Missing ? open_trusted(path, dir, {}, out)
                                                                       : Result::applied();
}

// Lists problems under a heading, one a line.
Result failed_with(const std::string& heading, const std::vector<std::string>& problems) {
    std::string text = heading;
    for (const std::string& p : problems) text += "\n  " + p;
    return Result::failed(text);
}

// Restores what the journal's change did, checks that every file it names is as it was
// before, then removes the journal. A file that is not stops it before the journal goes, so
// the next run tells again.
Result restore_and_forget(OpenJournal& j) {
    if (Result r = restore_records(j.journal.records); r.failed()) return failed_on(j.path, r.problem);
    if (std::vector<std::string> left = differences_after_restore(j.journal.records); !left.empty())
        return failed_with(plat::display_path(j.path) + ": the files were put back, but some are not as the journal "
                                                        "recorded them before the change:",
                           left);
    j.file.close();
    return remove_journal_file(j.path);
}

// A committed rewrite of the tables only has its kept old tables and its journal left to go.
Result finish_tables(OpenJournal& j) {
    FolderSync folders;
    for (const Record& r : j.journal.records) {
        if (r.kind != Record::Kind::Keep || !plat::file_exists(r.kept.c_str())) continue;
        if (!plat::delete_file(r.kept.c_str()))
            return failed_on(r.kept, "cannot remove the kept old table: " + plat::last_error_text());
        folders.add_file(r.kept);
    }
    if (Result synced = folders.flush(); synced.failed()) return synced;
    j.file.close();
    return remove_journal_file(j.path);
}

bool same_digest(const std::string& path, const std::string& hex) {
    plat::Sha256Digest digest;
    return plat::sha256_of_file(path.c_str(), &digest) && plat::to_hex(digest) == hex;
}

// The files an install left that are no longer as it left them, and the kept old files that
// are gone or not as recorded: either makes an undo unsafe.
std::vector<std::string> unsafe_to_undo(const JournalFile& journal) {
    std::vector<std::string> problems;
    std::set<std::string> written;
    for (const Record& r : journal.records) {
        if (r.kind != Record::Kind::Wrote) continue;
        written.insert(r.path);
        if (plat::entry_kind(r.path.c_str()) != plat::EntryKind::File || !same_digest(r.path, r.digest))
            problems.push_back(plat::display_path(r.path) + " changed since the install");
    }
    for (const Record& r : journal.records) {
        if (r.kind == Record::Kind::Wrote || written.count(r.path)) continue;
        // The install left no file here (a file it deleted or only used for a while).
        if (plat::entry_kind(r.path.c_str()) != plat::EntryKind::Missing)
            problems.push_back(plat::display_path(r.path) + " was made since the install");
    }
    for (const Record& r : journal.records)
        if (r.kind == Record::Kind::Keep && plat::entry_kind(r.kept.c_str()) == plat::EntryKind::Missing)
            problems.push_back("the old " + plat::display_path(r.path) + " kept as " + plat::display_path(r.kept) +
                               " is gone");
    std::vector<std::string> damaged = damaged_kept_files(journal.records);
    problems.insert(problems.end(), damaged.begin(), damaged.end());
    return problems;
}

// "dravo.mul~1234.5": the scratch name of a rewrite, "<name>~<process>.<n>".
bool is_scratch_name(const std::string& name, std::uint32_t* process) {
    std::size_t tilde = name.rfind('~');
    std::size_t dot = name.rfind('.');
    if (tilde == std::string::npos || tilde == 0 || dot == std::string::npos || dot < tilde + 2 || dot + 1 == name.size())
        return false;
    auto digits = [&](std::size_t from, std::size_t to) {
        return to - from <= 10 && std::all_of(name.begin() + static_cast<std::ptrdiff_t>(from),
                                              name.begin() + static_cast<std::ptrdiff_t>(to),
                                              [](char c) { return c >= '0' && c <= '9'; });
    };
    if (!digits(tilde + 1, dot) || !digits(dot + 1, name.size())) return false;
    unsigned long long pid = std::stoull(name.substr(tilde + 1, dot - tilde - 1));
    if (pid == 0 || pid > 0xffffffffull) return false;
    *process = static_cast<std::uint32_t>(pid);
    return true;
}

// Removes, from each folder, the scratch files that a killed rewrite left behind: those whose
// process is gone (a running one may still be writing its own).
std::vector<std::string> remove_stale_scratch_files(const std::set<std::string>& folders) {
    std::vector<std::string> removed;
    for (const std::string& folder : folders) {
        std::vector<std::string> names;
        if (plat::entry_kind(folder.c_str()) != plat::EntryKind::Directory ||
            !plat::list_directory(folder.c_str(), &names))
            continue;
        FolderSync sync;
        for (const std::string& name : names) {
            std::uint32_t process = 0;
            std::string path = folder + name;
            if (!is_scratch_name(name, &process) || plat::process_running(process) ||
                plat::entry_kind(path.c_str()) != plat::EntryKind::File)
                continue;
            if (plat::delete_file(path.c_str())) {
                removed.push_back(plat::display_path(path));
                sync.add_file(path);
            }
        }
        sync.flush();
    }
    return removed;
}

// Where scratch files may be: the folder itself, the folders below it (the game's data) and
// every folder a journal names.
std::set<std::string> scratch_folders(const std::string& game_dir, const std::vector<const JournalFile*>& journals) {
    std::set<std::string> folders{with_backslash(game_dir)};
    std::vector<std::string> names;
    if (plat::list_directory(game_dir.c_str(), &names))
        for (const std::string& name : names)
            if (std::string sub = with_backslash(game_dir) + name;
                plat::entry_kind(sub.c_str()) == plat::EntryKind::Directory)
                folders.insert(with_backslash(sub));
    for (const JournalFile* j : journals)
        for (const Record& r : j->records) folders.insert(r.path.substr(0, r.path.find_last_of('\\') + 1));
    return folders;
}

void tell(std::string* told, const std::string& what) {
    if (!told->empty()) *told += "\n";
    *told += what;
}

// A journal that cannot be read as one: when only its first lines were cut short by a crash,
// nothing it guards was changed yet and it can go; otherwise nothing is touched.
bool unreadable(const OpenJournal& j) { return !j.parsed && !header_cut_short(j.text); }

// "" when `path` lies plainly below one of the folders; else why not, from the folder that
// holds it as text when there is one.
std::string why_untrusted(const std::string& path, const std::vector<std::string>& folders) {
    std::string why = "lies outside the game's folders";
    for (const std::string& folder : folders) {
        std::string reason = plat::why_not_beneath(folder, path);
        if (reason.empty()) return {};
        if (reason != "lies outside the folder") why = reason;
    }
    return why;
}

}  // namespace

Result check_journal_paths(const JournalFile& journal, const std::string& game_dir,
                           const std::vector<std::string>& roots) {
    std::vector<std::string> folders{game_dir};
    folders.insert(folders.end(), roots.begin(), roots.end());
    for (const Record& r : journal.records) {
        if (std::string why = why_untrusted(r.path, folders); !why.empty())
            return Result::failed("it names " + plat::display_path(r.path) + ", which " + why);
        // The kept name is its file's name with "~undoN" added (the reader refuses any other),
        // yet it may be a link of its own.
        if (r.kind != Record::Kind::Keep) continue;
        if (std::string why = why_untrusted(r.kept, folders); !why.empty())
            return Result::failed("it names " + plat::display_path(r.kept) + ", which " + why);
    }
    return Result::applied();
}

Result check_whole(const std::string& game_dir) {
    if (Result r = check_undo_folder(game_dir); r.failed()) return r;
    std::vector<std::string> journals;
    if (std::string tables = tables_journal_path(game_dir); plat::file_exists(tables.c_str())) journals.push_back(tables);
    if (int number = newest_journal(game_dir); number > 0) journals.push_back(journal_path(game_dir, number));
    for (const std::string& path : journals) {
        plat::File f = plat::File::open(path.c_str(), plat::Access::Read, plat::Disposition::OpenExisting);
        std::string text;
        JournalFile journal;
        if (!f)
            return Result::failed(plat::last_error() == plat::Error::SharingViolation
                                      ? "another install is running in this game folder"
                                      : "its journal " + plat::display_path(path) + " cannot be read");
        if (!read_open_file(f.get(), &text) || parse_journal(text, &journal).failed() || !journal.committed ||
            journal.undoing || journal.tables)
            return Result::failed("an earlier change in this game folder did not end (" + plat::display_path(path) +
                                  ")");
    }
    if (plat::entry_kind(stage_folder(game_dir).c_str()) != plat::EntryKind::Missing)
        return Result::failed("the unpacked files of an earlier install that did not end are still there");
    return Result::applied();
}

Recovery recover_game(const std::string& game_dir, const std::vector<std::string>& roots) {
    Recovery out;
    OpenJournal tables;
    if (Result r = open_tables_journal(game_dir, &tables); r.failed()) return {r, {}};
    if (tables.found()) {
        if (unreadable(tables))
            return {failed_on(tables.path, "the journal is damaged (" + tables.why + "); the folder was left as it is"), {}};
        bool finished = tables.parsed && tables.journal.committed;
        Result r = finished ? finish_tables(tables) : restore_and_forget(tables);
        if (r.failed()) return {r, {}};
        if (plat::remove_directory(undo_folder(game_dir).c_str())) plat::flush_folder(game_dir.c_str());
        tell(&out.told, finished ? "A rewrite of the message tables that was interrupted has been finished: both "
                                   "tables are the new ones."
                                 : "A rewrite of the message tables that was interrupted has been undone: both "
                                   "tables are the old ones.");
    }
    OpenJournal j;
    if (Result r = open_newest_journal(game_dir, roots, &j); r.failed()) return {r, out.told};
    if (j.found()) {
        if (unreadable(j))
            return {failed_on(j.path, "the journal is damaged (" + j.why + "); the game folder was left as it is"),
                    out.told};
        if (!j.parsed || !j.journal.committed || j.journal.undoing) {
            // Not begun, begun and not committed, or an undo begun: in every case the files go
            // back to what they were before that install.
            if (Result r = restore_and_forget(j); r.failed()) return {r, out.told};
            if (j.journal.undoing)
                tell(&out.told, "Taking back an earlier install was interrupted; it has now been finished.");
            else if (!j.journal.records.empty())
                tell(&out.told, "An install that was interrupted has been undone: the game is as it was before it.");
        }
    }
    std::vector<std::string> scratch =
        remove_stale_scratch_files(scratch_folders(game_dir, {&tables.journal, &j.journal}));
    if (!scratch.empty()) {
        std::string names;
        for (const std::string& s : scratch) names += "\n  " + s;
        tell(&out.told, "Scratch files that an interrupted command left were removed:" + names);
    }
    std::string stage = stage_folder(game_dir);
    if (plat::entry_kind(stage.c_str()) != plat::EntryKind::Missing) {
        if (Result r = remove_stage(game_dir); r.failed()) return {r, out.told};
        if (out.told.empty()) out.told = "The unpacked files of an interrupted install have been removed.";
    }
    return out;
}

Recovery undo_last_install(const std::string& game_dir, const std::vector<std::string>& roots) {
    Recovery first = recover_game(game_dir, roots);
    if (first.result.failed()) return first;
    OpenJournal j;
    if (Result r = open_newest_journal(game_dir, roots, &j); r.failed()) return {r, first.told};
    if (!j.found()) return {Result::failed("no install to take back: the game folder has no journal"), first.told};
    if (!j.parsed) return {failed_on(j.path, "the journal is damaged (" + j.why + ")"), first.told};
    if (!j.journal.committed) return {failed_on(j.path, "the newest install did not complete"), first.told};
    std::vector<std::string> problems = unsafe_to_undo(j.journal);
    if (!problems.empty())
        return {failed_with("install " + std::to_string(j.journal.number) +
                                " cannot be taken back safely, so nothing was changed:",
                            problems),
                first.told};
    // From the "undo" line on, a crash is finished by the next recovery.
    std::uint32_t put = 0;
    std::string line = kUndoLine;
    if (plat::seek_file(j.file.get(), 0, plat::SeekFrom::End) < 0 ||
        !plat::write_file(j.file.get(), line.data(), static_cast<std::uint32_t>(line.size()), &put) ||
        put != line.size() || !plat::flush_file(j.file.get()))
        return {failed_on(j.path, "cannot write the journal: " + plat::last_error_text()), first.told};
    if (Result r = restore_and_forget(j); r.failed()) return {r, first.told};
    std::string told = "Install " + std::to_string(j.journal.number) + " was taken back: its files are as they were before it.";
    return {Result::applied(), first.told.empty() ? told : first.told + "\n" + told};
}

std::vector<CommittedInstall> committed_installs(const std::string& game_dir) {
    std::vector<CommittedInstall> installs;
    if (!plat::is_directory(undo_folder(game_dir).c_str())) return installs;
    for (int number = 1, newest = newest_journal(game_dir); number <= newest; ++number) {
        std::string path = journal_path(game_dir, number);
        std::vector<std::uint8_t> bytes;
        JournalFile j;
        if (!plat::file_exists(path.c_str()) ||
            plat::read_whole_file(path.c_str(), kMaxJournalBytes, &bytes) != plat::ReadWholeResult::Done ||
            parse_journal(std::string_view(reinterpret_cast<const char*>(bytes.data()), bytes.size()), &j).failed() ||
            !j.committed || j.undoing || j.tables)
            continue;
        CommittedInstall install{number, path, j.entry, 0};
        for (const Record& r : j.records)
            if (r.kind == Record::Kind::Keep) install.kept_bytes += r.size >= 0 ? r.size : 0;
        installs.push_back(std::move(install));
    }
    return installs;
}

Result record_entry(const std::string& game_dir, int number, const std::string& key) {
    OpenJournal j;
    std::string path = journal_path(game_dir, number);
    if (Result r = open_journal(path, &j); r.failed()) return r;
    if (!j.parsed) return failed_on(path, "the journal is damaged (" + j.why + ")");
    if (!j.journal.committed || j.journal.undoing) return failed_on(path, "the install is not a completed one");
    if (j.journal.entry == key) return Result::applied();
    if (!j.journal.entry.empty()) return failed_on(path, "the journal names another entry, " + j.journal.entry);
    // A line cut short by a crash is read as not written; a line feed behind it would make it
    // a line, which the reader would refuse, so the journal is left as it is.
    if (!j.text.empty() && j.text.back() != '\n') return failed_on(path, "the journal's last line is cut short");
    std::string line = entry_line(key);
    std::uint32_t put = 0;
    if (plat::seek_file(j.file.get(), 0, plat::SeekFrom::End) < 0 ||
        !plat::write_file(j.file.get(), line.data(), static_cast<std::uint32_t>(line.size()), &put) ||
        put != line.size() || !plat::flush_file(j.file.get()))
        return failed_on(path, "cannot write the journal: " + plat::last_error_text());
    return Result::applied();
}

PatchRecord find_installed_patch(const std::string& game_dir, const std::string& digest) {
    if (!plat::is_directory(undo_folder(game_dir).c_str())) return PatchRecord::NoJournals;
    // A journal is a few lines for each file an install changed.
    constexpr std::int64_t kBound = std::int64_t{16} << 20;
    for (int number = newest_journal(game_dir); number > 0; --number) {
        std::string path = journal_path(game_dir, number);
        std::vector<std::uint8_t> bytes;
        if (!plat::file_exists(path.c_str()) ||
            plat::read_whole_file(path.c_str(), kBound, &bytes) != plat::ReadWholeResult::Done)
            continue;
        JournalFile j;
        if (parse_journal(std::string_view(reinterpret_cast<const char*>(bytes.data()), bytes.size()), &j).failed())
            continue;
        if (j.committed && !j.undoing && !j.patch.empty() && j.patch == digest) return PatchRecord::Installed;
    }
    return PatchRecord::NotInstalled;
}

}  // namespace journal
