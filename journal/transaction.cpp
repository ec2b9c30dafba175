// The install's transaction: the journal written ahead of every change, the commit, and the
// roll-back.
#include "journal/transaction.h"

#include <algorithm>
#include <cctype>
#include <thread>
#include <vector>

#include "platform/digest.h"
#include "platform/rules/winpath.h"

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

std::string with_backslash(std::string dir) {
    if (!dir.empty() && dir.back() != '\\' && dir.back() != '/') dir += '\\';
    return dir;
}

// The new file `path` gets the old one's bytes back from `kept`, and is flushed, so that an
// update in place changes a copy while the old bytes stay whole under the kept name.
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

// The hash of one file being flushed: a thread reading it through the writer's handle.
struct Transaction::Hashing {
    std::string key;
    std::thread worker;
    bool ok = false;
    plat::Sha256Digest digest{};
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

}  // namespace

Transaction::Transaction() = default;

Transaction::~Transaction() {
    join_hashing();
    if (open()) roll_back();
}

void Transaction::flushing(const char* path, plat::Handle h) {
    join_hashing();
    std::int64_t size = plat::file_size(h);
    if (size < 0) return;
    hashing_ = std::make_unique<Hashing>();
    hashing_->key = key_of(absolute_path(path));
    Hashing* job = hashing_.get();
    job->worker = std::thread([job, h, size] { job->ok = hash_handle(h, size, &job->digest); });
}

void Transaction::flushed(const char*) {
    if (!hashing_) return;
    hashing_->worker.join();
    if (hashing_->ok) digests_[hashing_->key] = plat::to_hex(hashing_->digest);
    hashing_.reset();
}

void Transaction::join_hashing() {
    if (hashing_ && hashing_->worker.joinable()) hashing_->worker.join();
    hashing_.reset();
}

void Transaction::stop_watching() {
    join_hashing();
    if (plat::file_changes_watcher() == this) plat::watch_file_changes(nullptr);
}

Result Transaction::begin(const std::string& game_dir) {
    game_dir_ = with_backslash(absolute_path(game_dir));
    std::string folder = undo_folder(game_dir_);
    if (!plat::is_directory(folder.c_str()) && !plat::create_directory(folder.c_str()))
        return Result::failed("cannot create " + plat::display_path(folder) + ": " + plat::last_error_text());
    number_ = newest_journal(game_dir_) + 1;
    std::string path = journal_path(game_dir_, number_);
    journal_ = plat::File::open(path.c_str(), plat::Access::ReadWrite, plat::Disposition::CreateNew);
    if (!journal_ || !append(journal_header(number_))) {
        std::string why = plat::last_error_text();
        journal_.close();
        plat::delete_file(path.c_str());
        return Result::failed("cannot write the journal " + plat::display_path(path) + ": " + why);
    }
    plat::watch_file_changes(this);
    return Result::applied();
}

bool Transaction::append(const std::string& line) {
    std::uint32_t put = 0;
    return plat::write_file(journal_.get(), line.data(), static_cast<std::uint32_t>(line.size()), &put) &&
           put == line.size() && plat::flush_file(journal_.get());
}

// The journal, the stage and the log are the install's own files, not the game's.
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
    Record r{Record::Kind::Create, path, {}};
    if (!append(record_line(r))) return false;
    records_.push_back(r);
    changed_.insert(key);
    return true;
}

bool Transaction::keep(const std::string& path, const std::string& key, plat::Handle held, bool copy) {
    // A read-only file is refused by the change itself, as it would be without a journal.
    if (plat::is_read_only(path.c_str())) return true;
    Record r{Record::Kind::Keep, path, kept_name(path)};
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
    // What was written in place went through the system's cache: put it on disk before the
    // commit says the install is whole.
    std::set<std::string> seen;
    std::vector<Record> wrote;
    for (const Record& r : records_) {
        if (!is_plain_file(r.path) || !seen.insert(key_of(r.path)).second) continue;
        plat::File f = plat::File::open(r.path.c_str(), plat::Access::ReadWrite, plat::Disposition::OpenExisting);
        if (f && !plat::flush_file(f.get()))
            return Result::failed("cannot flush " + plat::display_path(r.path) + ": " + plat::last_error_text());
        f.close();
        // What the install leaves in each file, so that an undo can tell whether it changed
        // since: hashed as it was flushed, or read back now.
        auto hashed = digests_.find(key_of(r.path));
        if (hashed != digests_.end()) {
            wrote.push_back({Record::Kind::Wrote, r.path, hashed->second});
            continue;
        }
        plat::Sha256Digest digest;
        if (!plat::sha256_of_file(r.path.c_str(), &digest))
            return Result::failed("cannot read back " + plat::display_path(r.path) + ": " + plat::last_error_text());
        wrote.push_back({Record::Kind::Wrote, r.path, plat::to_hex(digest)});
    }
    for (const Record& w : wrote)
        if (!append(record_line(w))) return Result::failed("cannot write the journal: " + plat::last_error_text());
    if (!append(kCommitLine)) return Result::failed("cannot write the journal's commit: " + plat::last_error_text());
    journal_.close();
    return Result::applied();
}

Result Transaction::roll_back() {
    stop_watching();
    Result restored = restore_records(records_);
    if (restored.failed()) {
        journal_.close();  // kept: the next start takes it back again
        return restored;
    }
    std::string path = journal_path(game_dir_, number_);
    journal_.close();
    if (!plat::delete_file(path.c_str()))
        return Result::failed("cannot remove the journal " + plat::display_path(path) + ": " + plat::last_error_text());
    records_.clear();
    changed_.clear();
    return Result::applied();
}

Result restore_records(const std::vector<Record>& records) {
    for (auto r = records.rbegin(); r != records.rend(); ++r) {
        if (r->kind == Record::Kind::Wrote) continue;
        if (r->kind == Record::Kind::Create) {
            if (is_plain_file(r->path) && !plat::delete_file(r->path.c_str()))
                return Result::failed("cannot remove " + plat::display_path(r->path) + ": " + plat::last_error_text());
        } else if (is_plain_file(r->kept)) {
            if (!plat::replace_file(r->kept.c_str(), r->path.c_str()))
                return Result::failed("cannot put back " + plat::display_path(r->path) + " from " +
                                      plat::display_path(r->kept) + ": " + plat::last_error_text());
        }
    }
    return Result::applied();
}

}  // namespace journal
