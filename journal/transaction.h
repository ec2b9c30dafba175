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

std::string undo_folder(const std::string& game_dir);   // with a trailing backslash
std::string stage_folder(const std::string& game_dir);  // with a trailing backslash
std::string journal_path(const std::string& game_dir, int number);
// The number of the newest journal in the game folder, 0 when there is none.
int newest_journal(const std::string& game_dir);

// A path made absolute against the current directory, in drive form.
std::string absolute_path(const std::string& path);

class Transaction final : public plat::FileChanges {
public:
    Transaction();
    Transaction(const Transaction&) = delete;
    Transaction& operator=(const Transaction&) = delete;
    // A transaction neither committed nor rolled back is rolled back.
    ~Transaction() override;

    // Starts the next install's journal in `game_dir` (which ends with a backslash) and
    // starts watching. Fails when the journal cannot be written.
    Result begin(const std::string& game_dir);
    // Flushes every file the install changed, then writes the commit: from here on the
    // install is whole, and a crash leaves it so.
    Result commit();
    // Puts every kept file back and removes every new one; the journal goes with them.
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
    void flushing(const char* path, plat::Handle h) override;
    void flushed(const char* path) override;

private:
    bool append(const std::string& line);
    bool exempt(const std::string& key) const;
    bool note_new(const std::string& path, const std::string& key);
    bool keep(const std::string& path, const std::string& key, plat::Handle held, bool copy_back);
    std::string kept_name(const std::string& path) const;
    void stop_watching();

    std::string game_dir_;
    plat::File journal_;
    int number_ = 0;
    std::vector<Record> records_;
    std::set<std::string> changed_;  // keys of the files journaled so far
    // What a file holds now, by key, where it was hashed as it was written and has not
    // changed since; the commit hashes the others.
    std::map<std::string, std::string> digests_;
    struct Hashing;
    std::unique_ptr<Hashing> hashing_;
    void join_hashing();
};

// Takes the records back, newest first: each kept file returns to its name, each new file
// goes. Safe to repeat after a crash in the middle. Fails, naming the file, when one cannot.
Result restore_records(const std::vector<Record>& records);

}  // namespace journal
