// An install as one change of the game: every file it changes is kept or noted in the game's
// journal before it changes, so that the whole install can be rolled back, after a failure or
// after a crash, or taken back later.
//
// While a transaction is open it watches the platform's file operations (plat::FileChanges):
// the first time the install writes over, swaps into or deletes a file, the old file is
// renamed to a kept name beside it (same directory, so the same volume) and the journal says
// so; a file the install creates is noted as new. A file opened for update in place is
// renamed and copied back, so that the old bytes stay whole under the kept name. What the
// install does to a file it has already changed needs nothing more: the first version kept is
// the one a roll-back restores.
#pragma once

#include <map>
#include <memory>
#include <set>
#include <string>
#include <vector>

#include "base/result.h"
#include "journal/journal_file.h"
#include "platform/intercept/file_changes.h"
#include "platform/platform.h"

namespace journal {

// Names in the game folder.
inline constexpr char kUndoFolder[] = "DravoPatch.undo";  // the journals, one per install
inline constexpr char kStageFolder[] = "DravoPatch.stage";  // the patch's files before they are installed
inline constexpr char kLogName[] = "DravoPatch.log";
inline constexpr char kTablesJournal[] = "tables.journal";  // in the undo folder: no install's

std::string undo_folder(const std::string& game_dir);   // with a trailing backslash
std::string stage_folder(const std::string& game_dir);  // with a trailing backslash
std::string journal_path(const std::string& game_dir, int number);
// The journal of the short transaction that rewrites both message tables in `dir`.
std::string tables_journal_path(const std::string& dir);
// Failed, saying why, when the undo folder of `game_dir` is there but is not the kit's own: a
// link, not a folder, another user's, or writable by others. Applied when it is missing.
Result check_undo_folder(const std::string& game_dir);
// The number of the newest journal in the game folder, 0 when there is none.
int newest_journal(const std::string& game_dir);

// A path made absolute against the current directory, in drive form.
std::string absolute_path(const std::string& path);
// A folder's path ending in its separator, the form in which folders are joined and compared.
std::string with_backslash(std::string dir);

class Transaction final : public plat::FileChanges {
public:
    Transaction();
    Transaction(const Transaction&) = delete;
    Transaction& operator=(const Transaction&) = delete;
    // A transaction neither committed nor rolled back is rolled back.
    ~Transaction() override;

    // Starts the next install's journal in `game_dir` (which ends with a backslash) and
    // starts watching. Fails when the journal cannot be written. The journal's folder and the
    // journal itself are on disk before this returns, so no change can outlast its record.
    Result begin(const std::string& game_dir);
    // Starts the short transaction of a command that rewrites both message tables of `dir`:
    // no install, so it is neither numbered nor counted; finish it with commit_and_forget().
    Result begin_tables(const std::string& dir);
    // Records the digest of the patch being installed, before the first change.
    Result note_patch(const std::string& digest);
    // Flushes every file the change wrote and every folder whose names it changed, then writes
    // the commit: from here on the change is whole, and a crash leaves it so.
    Result commit();
    // For the tables' transaction: commits, then removes the kept old tables and the journal,
    // which nothing will take back.
    Result commit_and_forget();
    // Checks every kept file against what the journal recorded, puts them back and removes
    // every new file; the journal goes with them.
    Result roll_back();

    bool open() const { return journal_.is_open(); }
    // Stops watching and closes the journal as it stands, as a process that dies does; the
    // next recovery rolls the install back. For tests of that recovery.
    void abandon();
    int number() const { return number_; }
    const std::vector<Record>& records() const { return records_; }

    bool before_write(const char* path, plat::Disposition disposition) override;
    bool before_replace(const char* source, const char* target, plat::Handle held) override;
    bool before_delete(const char* path, bool* handled) override;
    // A finished file is hashed on a thread of its own while the system flushes it, so that
    // the commit need not read a rewritten container again for its digest.
    void flushing(const char* path, plat::Handle h, const char* target, plat::Handle target_h) override;
    void flushed(const char* path) override;

private:
    struct Hashing;
    struct Version {
        std::int64_t size = -1;
        std::string digest;
    };

    Result start(const std::string& folder, const std::string& journal, const std::string& header);
    bool append(const std::string& line);
    bool exempt(const std::string& key) const;
    bool note_new(const std::string& path, const std::string& key);
    bool old_version(const std::string& path, const std::string& key, plat::Handle held, Version* out);
    bool keep(const std::string& path, const std::string& key, plat::Handle held, bool copy_back);
    std::string kept_name(const std::string& path) const;
    Result forget_kept_files();
    void remove_empty_undo_folder();
    void stop_watching();
    void join_hashing();

    std::string game_dir_;
    std::string journal_path_;
    plat::File journal_;
    int number_ = 0;
    bool tables_ = false;
    std::vector<Record> records_;
    std::set<std::string> changed_;  // keys of the files journaled so far
    // What a file holds now, by key, where it was hashed as it was written and has not
    // changed since; the commit hashes the others.
    std::map<std::string, Version> digests_;
    // The old version of a file about to be replaced, hashed while the new one was flushed, so
    // that keeping it costs no second read.
    std::map<std::string, Version> old_versions_;
    std::unique_ptr<Hashing> hashing_;
};

// The kept old versions that are not what the journal recorded (cut short, changed, replaced
// by something that is not a file): putting them back would report a file as restored that is
// not. Each problem names the file.
std::vector<std::string> damaged_kept_files(const std::vector<Record>& records);

// Takes the records back, newest first: each kept file returns to its name, each new file
// goes, and every name change is on disk before this returns. Safe to repeat after a crash in
// the middle. Fails, naming the file, when one cannot be taken back or a kept file is damaged
// (then nothing is changed).
Result restore_records(const std::vector<Record>& records);

// After a restore: what is not as it was before the change, by the sizes and digests the
// journal recorded (a version 1 journal allows fewer checks). Each problem names the file.
std::vector<std::string> differences_after_restore(const std::vector<Record>& records);

}  // namespace journal
