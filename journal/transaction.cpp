// The install's transaction: the journal written ahead of every change, the commit, and the
// roll-back.
#include "journal/transaction.h"

#include <algorithm>
#include <cctype>
#include <thread>
#include <vector>

#include "platform/digest.h"
#include "journal/folder_sync.h"
#include "platform/rules/winpath.h"
#include "platform/trust.h"

namespace journal {

namespace {

// Files are told apart as Windows does: by the absolute path, whatever its letter case.
std::string key_of(const std::string& absolute) {
    std::string key = absolute;
    for (char& c : key) c = c == '/' ? '\\' : static_cast<char>(std::tolower(static_cast<unsigned char>(c)));
    return key;
}

bool is_plain_file(const std::string& path) {
    return plat::file_exists(path.c_str()) && !plat::is_directory(path.c_str());
}

// The new file `path` gets the old one's bytes back from `kept`, and is flushed, so that an
// update in place changes a copy while the old bytes stay whole under the kept name. Its
// name is made durable with the others at the commit.
bool copy_back(const std::string& kept, const std::string& path) {
    plat::File from = plat::File::open(kept.c_str(), plat::Access::Read, plat::Disposition::OpenExisting);
    if (!from) return false;
    plat::File to = plat::File::open(path.c_str(), plat::Access::ReadWrite, plat::Disposition::CreateNew);
    if (!to) return false;
    std::int64_t size = plat::file_size(from.get());
    return size >= 0 && plat::copy_range(from.get(), 0, to.get(), size) && plat::flush_file(to.get()) &&
           to.close() && plat::copy_file_attributes(kept.c_str(), path.c_str());
}

}  // namespace

std::string undo_folder(const std::string& game_dir) { return with_backslash(game_dir) + kUndoFolder + "\\"; }
std::string stage_folder(const std::string& game_dir) { return with_backslash(game_dir) + kStageFolder + "\\"; }

std::string journal_path(const std::string& game_dir, int number) {
    return undo_folder(game_dir) + "install-" + std::to_string(number) + ".journal";
}

std::string tables_journal_path(const std::string& dir) { return undo_folder(dir) + kTablesJournal; }

Result check_undo_folder(const std::string& game_dir) {
    std::string folder = undo_folder(game_dir);
    plat::EntryKind kind = plat::entry_kind(folder.c_str());
    if (kind == plat::EntryKind::Missing) return Result::applied();
    if (kind != plat::EntryKind::Directory)
        return Result::failed(plat::display_path(folder) + " is " + plat::entry_kind_words(kind) +
                              ", not the installer's own folder; it was left alone");
    if (!plat::owned_safely(folder.c_str()))
        return Result::failed(plat::display_path(folder) +
                              " belongs to another user or may be written by others, so its journals cannot be "
                              "trusted; it was left alone");
    return Result::applied();
}

int newest_journal(const std::string& game_dir) {
    std::vector<std::string> names;
    if (!plat::list_directory(undo_folder(game_dir).c_str(), &names)) return 0;
    int newest = 0;
    for (const std::string& name : names) {
        std::string n = key_of(name);
        constexpr std::string_view kPrefix = "install-", kSuffix = ".journal";
        if (n.size() <= kPrefix.size() + kSuffix.size() || n.compare(0, kPrefix.size(), kPrefix) != 0 ||
            n.compare(n.size() - kSuffix.size(), kSuffix.size(), kSuffix) != 0)
            continue;
        std::string digits = n.substr(kPrefix.size(), n.size() - kPrefix.size() - kSuffix.size());
        if (digits.empty() || digits.size() > 6 || !std::all_of(digits.begin(), digits.end(), ::isdigit)) continue;
        newest = std::max(newest, std::stoi(digits));
    }
    return newest;
}

std::string with_backslash(std::string dir) {
    if (!dir.empty() && dir.back() != '\\' && dir.back() != '/') dir += '\\';
    return dir;
}

std::string absolute_path(const std::string& path) {
    plat::WindowsPath given = plat::parse_windows_path(path);
    if (given.drive == 0 || !given.rooted) {
        plat::WindowsPath cwd = plat::parse_windows_path(plat::current_directory());
        if (given.drive == 0 && given.rooted) {
            given.drive = cwd.drive;
        } else if (given.drive == 0 || given.drive == cwd.drive) {
            cwd.components.insert(cwd.components.end(), given.components.begin(), given.components.end());
            given = cwd;
        }
    }
    std::string out;
    if (given.drive) out = std::string(1, given.drive) + ":";
    for (const std::string& c : given.components) out += "\\" + c;
    return out.empty() || out.back() == ':' ? out + "\\" : out;
}

namespace {

// A hash of one file read through its handle on a thread of its own.
struct HashJob {
    std::string key;
    std::thread worker;
    plat::Handle handle = plat::Handle::Invalid;
    std::int64_t size = -1;
    bool ok = false;
    plat::Sha256Digest digest{};
};

}  // namespace

// The hashes of one file being flushed and of the old file it is about to replace: threads
// reading them through their handles while the system writes the new one out.
struct Transaction::Hashing {
    HashJob written;  // the new file, for its "wrote" record
    HashJob old;      // the old file, for its "keep" record
    plat::File own;   // the old file opened by the transaction itself, when the caller held none
};

namespace {

// Reads the whole file at `h` (of `size` bytes) from its start into the hash.
bool hash_handle(plat::Handle h, std::int64_t size, plat::Sha256Digest* out) {
    std::vector<std::uint8_t> buffer(1u << 20);
    plat::Sha256 hash;
    for (std::int64_t at = 0; at < size;) {
        auto want = static_cast<std::uint32_t>(std::min<std::int64_t>(size - at, static_cast<std::int64_t>(buffer.size())));
        std::uint32_t got = 0;
        if (!plat::read_at(h, at, buffer.data(), want, &got) || got != want) return false;
        hash.update(buffer.data(), got);
        at += got;
    }
    return hash.finish(out);
}

void start_job(HashJob* job) {
    job->size = plat::file_size(job->handle);
    if (job->size < 0) return;
    job->worker = std::thread([job] { job->ok = hash_handle(job->handle, job->size, &job->digest); });
}

}  // namespace

Transaction::Transaction() = default;

Transaction::~Transaction() {
    join_hashing();
    if (open()) roll_back();
}

void Transaction::flushing(const char* path, plat::Handle h, const char* target, plat::Handle target_h) {
    join_hashing();
    hashing_ = std::make_unique<Hashing>();
    hashing_->written.key = key_of(absolute_path(path));
    hashing_->written.handle = h;
    start_job(&hashing_->written);
    // The old file is read while the disk is busy with the new one, so that keeping it costs no
    // read of its own later; only for a file of the game that this change has not kept yet.
    std::string old_abs = absolute_path(target);
    std::string old_key = key_of(old_abs);
    if (exempt(old_key) || changed_.count(old_key) || !is_plain_file(old_abs)) return;
    if (target_h == plat::Handle::Invalid) {
        hashing_->own = plat::File::open(old_abs.c_str(), plat::Access::Read, plat::Disposition::OpenExisting);
        target_h = hashing_->own.get();
    }
    if (target_h == plat::Handle::Invalid) return;
    hashing_->old.key = old_key;
    hashing_->old.handle = target_h;
    start_job(&hashing_->old);
}

void Transaction::flushed(const char*) {
    if (!hashing_) return;
    for (HashJob* job : {&hashing_->written, &hashing_->old}) {
        if (!job->worker.joinable()) continue;
        job->worker.join();
        if (!job->ok) continue;
        (job == &hashing_->written ? digests_ : old_versions_)[job->key] = {job->size, plat::to_hex(job->digest)};
    }
    hashing_.reset();
}

void Transaction::join_hashing() {
    if (!hashing_) return;
    for (HashJob* job : {&hashing_->written, &hashing_->old})
        if (job->worker.joinable()) job->worker.join();
    hashing_.reset();
}

void Transaction::stop_watching() {
    join_hashing();
    if (plat::file_changes_watcher() == this) plat::watch_file_changes(nullptr);
}

// Makes the journal's folder and the journal durable before anything it guards can change: the
// folder's name in `folder`'s parent, the journal's name in the folder, its first lines.
Result Transaction::start(const std::string& dir, const std::string& journal, const std::string& header) {
    game_dir_ = with_backslash(absolute_path(dir));
    std::string folder = undo_folder(game_dir_);
    // The folder is the kit's own: made so that no one else may write it, and refused when
    // something else (a link, a folder others may write) stands under its name.
    if (Result trusted = check_undo_folder(game_dir_); trusted.failed()) return trusted;
    if (plat::entry_kind(folder.c_str()) == plat::EntryKind::Missing) {
        if (!plat::create_private_directory(folder.c_str(), true))
            return Result::failed("cannot create " + plat::display_path(folder) + ": " + plat::last_error_text());
        if (!plat::flush_folder(game_dir_.c_str())) {
            std::string why = plat::last_error_text();
            remove_empty_undo_folder();
            return Result::failed("cannot flush " + plat::display_path(game_dir_) + ": " + why);
        }
    }
    journal_path_ = journal;
    journal_ = plat::File::open(journal.c_str(), plat::Access::ReadWrite, plat::Disposition::CreateNew);
    if (!journal_ || !plat::restrict_to_owner_writes(journal.c_str()) || !append(header) ||
        !plat::flush_folder(folder.c_str())) {
        std::string why = plat::last_error_text();
        journal_.close();
        plat::delete_file(journal.c_str());
        remove_empty_undo_folder();
        return Result::failed("cannot write the journal " + plat::display_path(journal) + ": " + why);
    }
    plat::watch_file_changes(this);
    return Result::applied();
}

Result Transaction::begin(const std::string& game_dir) {
    std::string dir = with_backslash(absolute_path(game_dir));
    number_ = newest_journal(dir) + 1;
    return start(dir, journal_path(dir, number_), journal_header(number_));
}

Result Transaction::begin_tables(const std::string& dir) {
    std::string abs = with_backslash(absolute_path(dir));
    tables_ = true;
    number_ = 0;
    return start(abs, tables_journal_path(abs), tables_journal_header());
}

Result Transaction::note_patch(const std::string& digest) {
    if (!records_.empty()) return Result::failed("the patch is recorded before the first change");
    if (!append(patch_line(digest))) return Result::failed("cannot write the journal: " + plat::last_error_text());
    return Result::applied();
}

bool Transaction::append(const std::string& line) {
    std::uint32_t put = 0;
    return plat::write_file(journal_.get(), line.data(), static_cast<std::uint32_t>(line.size()), &put) &&
           put == line.size() && plat::flush_file(journal_.get());
}

// The journal, the stage and the log are the change's own files, not the game's.
bool Transaction::exempt(const std::string& key) const {
    for (const std::string& own : {undo_folder(game_dir_), stage_folder(game_dir_)})
        if (key.compare(0, own.size(), key_of(own)) == 0) return true;
    return key == key_of(game_dir_ + kLogName);
}

std::string Transaction::kept_name(const std::string& path) const {
    std::string base = path + "~undo" + std::to_string(number_);
    std::string name = base;
    for (int n = 2; plat::file_exists(name.c_str()); ++n) name = base + "." + std::to_string(n);
    return name;
}

bool Transaction::note_new(const std::string& path, const std::string& key) {
    Record r{Record::Kind::Create, path, {}, {}, -1};
    if (!append(record_line(r))) return false;
    records_.push_back(r);
    changed_.insert(key);
    return true;
}

// The size and digest of the version about to be kept: hashed already while its replacement
// was flushed, or read now, through the caller's handle when it holds the file.
bool Transaction::old_version(const std::string& path, const std::string& key, plat::Handle held, Version* out) {
    if (auto found = old_versions_.find(key); found != old_versions_.end()) {
        *out = found->second;
        old_versions_.erase(found);
        return true;
    }
    plat::File own;
    if (held == plat::Handle::Invalid) {
        own = plat::File::open(path.c_str(), plat::Access::Read, plat::Disposition::OpenExisting);
        if (!own) return false;
        held = own.get();
    }
    plat::Sha256Digest digest;
    out->size = plat::file_size(held);
    if (out->size < 0 || !hash_handle(held, out->size, &digest)) return false;
    out->digest = plat::to_hex(digest);
    return true;
}

bool Transaction::keep(const std::string& path, const std::string& key, plat::Handle held, bool copy) {
    // A read-only file is refused by the change itself, as it would be without a journal.
    if (plat::is_read_only(path.c_str())) return true;
    Version old;
    if (!old_version(path, key, held, &old)) return false;
    Record r{Record::Kind::Keep, path, kept_name(path), old.digest, old.size};
    if (!append(record_line(r))) return false;
    records_.push_back(r);
    if (!plat::move_file(path.c_str(), r.kept.c_str(), held)) return false;
    changed_.insert(key);
    return !copy || copy_back(r.kept, path);
}

bool Transaction::before_write(const char* path, plat::Disposition disposition) {
    std::string abs = absolute_path(path);
    std::string key = key_of(abs);
    digests_.erase(key);  // about to change
    if (exempt(key) || changed_.count(key)) return true;
    if (!is_plain_file(abs)) {
        // An open of a missing file fails on its own; a creation is noted before it happens.
        return disposition == plat::Disposition::OpenExisting || plat::is_directory(abs.c_str()) ||
               note_new(abs, key);
    }
    if (disposition == plat::Disposition::CreateNew) return true;  // fails on its own: the name is taken
    return keep(abs, key, plat::Handle::Invalid, disposition == plat::Disposition::OpenExisting);
}

bool Transaction::before_replace(const char* source, const char* target, plat::Handle held) {
    std::string abs = absolute_path(target);
    std::string key = key_of(abs);
    // The name takes the source's bytes, and so the digest made of them as they were flushed.
    auto hashed = digests_.find(key_of(absolute_path(source)));
    if (hashed != digests_.end()) {
        digests_[key] = hashed->second;
        digests_.erase(hashed);
    } else {
        digests_.erase(key);
    }
    if (exempt(key) || changed_.count(key)) return true;
    if (!is_plain_file(abs)) return plat::is_directory(abs.c_str()) || note_new(abs, key);
    return keep(abs, key, held, false);
}

bool Transaction::before_delete(const char* path, bool* handled) {
    std::string abs = absolute_path(path);
    std::string key = key_of(abs);
    digests_.erase(key);
    if (exempt(key) || changed_.count(key) || !is_plain_file(abs) || plat::is_read_only(abs.c_str())) return true;
    // Deleting a file of the game keeps it instead, under its kept name.
    if (!keep(abs, key, plat::Handle::Invalid, false)) return false;
    *handled = true;
    return true;
}

void Transaction::abandon() {
    stop_watching();
    journal_.close();
}

Result Transaction::commit() {
    stop_watching();
    // What was written in place went through the system's cache, and what was created, renamed
    // or deleted changed a folder: all of it goes to disk before the commit says the change is
    // whole.
    std::set<std::string> seen;
    std::vector<Record> wrote;
    FolderSync folders;
    for (const Record& r : records_) {
        folders.add_file(r.path);
        if (!is_plain_file(r.path) || !seen.insert(key_of(r.path)).second) continue;
        plat::File f = plat::File::open(r.path.c_str(), plat::Access::ReadWrite, plat::Disposition::OpenExisting);
        if (f && !plat::flush_file(f.get()))
            return Result::failed("cannot flush " + plat::display_path(r.path) + ": " + plat::last_error_text());
        f.close();
        // What the change leaves in each file, so that an undo can tell whether it changed
        // since: hashed as it was flushed, or read back now.
        auto hashed = digests_.find(key_of(r.path));
        if (hashed != digests_.end()) {
            wrote.push_back({Record::Kind::Wrote, r.path, {}, hashed->second.digest, hashed->second.size});
            continue;
        }
        Version now;
        if (!old_version(r.path, key_of(r.path), plat::Handle::Invalid, &now))
            return Result::failed("cannot read back " + plat::display_path(r.path) + ": " + plat::last_error_text());
        wrote.push_back({Record::Kind::Wrote, r.path, {}, now.digest, now.size});
    }
    if (Result synced = folders.flush(); synced.failed()) return synced;
    for (const Record& w : wrote)
        if (!append(record_line(w))) return Result::failed("cannot write the journal: " + plat::last_error_text());
    if (!append(kCommitLine)) return Result::failed("cannot write the journal's commit: " + plat::last_error_text());
    journal_.close();
    return Result::applied();
}

// The kept versions go first, then the journal: a crash between the two leaves a committed
// journal whose recovery finishes the job.
Result Transaction::forget_kept_files() {
    FolderSync folders;
    for (const Record& r : records_) {
        if (r.kind != Record::Kind::Keep || !is_plain_file(r.kept)) continue;
        if (!plat::delete_file(r.kept.c_str()))
            return Result::failed("cannot remove " + plat::display_path(r.kept) + ": " + plat::last_error_text());
        folders.add_file(r.kept);
    }
    if (Result synced = folders.flush(); synced.failed()) return synced;
    return remove_journal_file(journal_path_);
}

Result Transaction::commit_and_forget() {
    if (Result committed = commit(); committed.failed()) return committed;
    Result forgotten = forget_kept_files();
    records_.clear();
    changed_.clear();
    remove_empty_undo_folder();
    return forgotten;
}

// The tables' transaction leaves no trace: its folder goes when nothing else is in it (a
// folder holding an install's journals stays, as the removal of a non-empty folder fails).
void Transaction::remove_empty_undo_folder() {
    if (tables_ && plat::remove_directory(undo_folder(game_dir_).c_str())) plat::flush_folder(game_dir_.c_str());
}

Result Transaction::roll_back() {
    stop_watching();
    Result restored = restore_records(records_);
    if (restored.failed()) {
        journal_.close();  // kept: the next start takes it back again
        return restored;
    }
    journal_.close();
    if (Result removed = remove_journal_file(journal_path_); removed.failed()) return removed;
    records_.clear();
    changed_.clear();
    remove_empty_undo_folder();
    return Result::applied();
}

}  // namespace journal
