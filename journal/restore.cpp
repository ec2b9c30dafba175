// Taking a change back from its records, and checking what the journal recorded: the kept
// versions before they are put back, the files after.
#include <set>
#include <string>
#include <vector>

#include "journal/folder_sync.h"
#include "journal/transaction.h"
#include "platform/digest.h"
#include "platform/platform.h"
#include "platform/rules/winpath.h"
#include "platform/trust.h"

namespace journal {

namespace {

// A file itself, not a link, a folder or a pipe: the only thing a restore moves or removes.
bool is_plain_file(const std::string& path) { return plat::entry_kind(path.c_str()) == plat::EntryKind::File; }

std::string folder_of(const std::string& path) {
    std::size_t cut = path.find_last_of('\\');
    return cut == std::string::npos ? path : path.substr(0, cut + 1);
}

std::string lower(std::string s) {
    for (char& c : s) c = static_cast<char>(std::tolower(static_cast<unsigned char>(c)));
    return s;
}

// "" when `path` is a plain file of `size` bytes (when known) whose SHA-256 is `digest` (when
// known); else what is wrong with it, in words.
std::string mismatch(const std::string& path, std::int64_t size, const std::string& digest) {
    plat::EntryKind kind = plat::entry_kind(path.c_str());
    if (kind == plat::EntryKind::Missing) return "is missing";
    if (kind != plat::EntryKind::File) return std::string("is ") + plat::entry_kind_words(kind) + ", not a file";
    if (size < 0 && digest.empty()) return {};
    plat::File f = plat::File::open(path.c_str(), plat::Access::Read, plat::Disposition::OpenExisting);
    if (!f) return "cannot be read: " + plat::last_error_text();
    std::int64_t actual = plat::file_size(f.get());
    if (size >= 0 && actual != size)
        return "holds " + std::to_string(actual) + " bytes, not the " + std::to_string(size) + " recorded";
    f.close();
    if (digest.empty()) return {};
    plat::Sha256Digest d;
    if (!plat::sha256_of_file(path.c_str(), &d)) return "cannot be read: " + plat::last_error_text();
    return plat::to_hex(d) == digest ? std::string() : "is not the version recorded (its SHA-256 differs)";
}

}  // namespace

void FolderSync::add_file(const std::string& path) {
    std::string folder = folder_of(path);
    if (keys_.insert(lower(folder)).second) folders_.insert(folder);
}

Result FolderSync::flush() {
    for (const std::string& folder : folders_) {
        if (!plat::is_directory(folder.c_str())) continue;  // gone with what it held
        if (!plat::flush_folder(folder.c_str()))
            return Result::failed("cannot flush the folder " + plat::display_path(folder) + ": " +
                                  plat::last_error_text());
    }
    return Result::applied();
}

Result remove_journal_file(const std::string& path) {
    if (plat::file_exists(path.c_str()) && !plat::delete_file(path.c_str()))
        return Result::failed("cannot remove the journal " + plat::display_path(path) + ": " + plat::last_error_text());
    FolderSync folder;
    folder.add_file(path);
    return folder.flush();
}

std::vector<std::string> damaged_kept_files(const std::vector<Record>& records) {
    std::vector<std::string> problems;
    for (const Record& r : records) {
        if (r.kind != Record::Kind::Keep || plat::entry_kind(r.kept.c_str()) == plat::EntryKind::Missing) continue;
        // A kept name that is not there was never renamed to (the old file still has its own
        // name) or was put back already; the check after the restore sees to both.
        if (std::string wrong = mismatch(r.kept, r.size, r.digest); !wrong.empty())
            problems.push_back("the old " + plat::display_path(r.path) + " kept as " + plat::display_path(r.kept) +
                               " " + wrong);
    }
    return problems;
}

Result restore_records(const std::vector<Record>& records) {
    if (std::vector<std::string> damaged = damaged_kept_files(records); !damaged.empty()) {
        std::string text = "nothing was put back, since a kept file is not what the journal recorded:";
        for (const std::string& d : damaged) text += "\n  " + d;
        return Result::failed(text);
    }
    FolderSync folders;
    for (auto r = records.rbegin(); r != records.rend(); ++r) {
        if (r->kind == Record::Kind::Wrote) continue;
        folders.add_file(r->path);
        if (r->kind == Record::Kind::Create) {
            if (is_plain_file(r->path) && !plat::delete_file(r->path.c_str()))
                return Result::failed("cannot remove " + plat::display_path(r->path) + ": " + plat::last_error_text());
        } else if (is_plain_file(r->kept)) {
            if (!plat::replace_file(r->kept.c_str(), r->path.c_str()))
                return Result::failed("cannot put back " + plat::display_path(r->path) + " from " +
                                      plat::display_path(r->kept) + ": " + plat::last_error_text());
        }
    }
    return folders.flush();
}

std::vector<std::string> differences_after_restore(const std::vector<Record>& records) {
    std::vector<std::string> problems;
    std::set<std::string> kept;
    for (const Record& r : records)
        if (r.kind == Record::Kind::Keep) kept.insert(lower(r.path));
    for (const Record& r : records) {
        if (r.kind == Record::Kind::Keep) {
            if (std::string wrong = mismatch(r.path, r.size, r.digest); !wrong.empty())
                problems.push_back(plat::display_path(r.path) + " " + wrong);
        } else if (r.kind == Record::Kind::Create && !kept.count(lower(r.path)) &&
                   plat::file_exists(r.path.c_str())) {
            problems.push_back(plat::display_path(r.path) + " is still there, though the change made it");
        }
    }
    return problems;
}

}  // namespace journal
