// The installs of a game folder in the system's list of installed programs: the entries'
// values, and keeping the list in step with the folder's journals.
#include "install/programs_list.h"

#include <algorithm>
#include <ctime>
#include <set>

#include "base/text.h"
#include "journal/recovery.h"
#include "journal/transaction.h"
#include "platform/digest.h"
#include "platform/platform.h"

namespace install {

namespace {

constexpr char kKeyPrefix[] = "DravoPatch-";

// A folder as the player reads it: "c:\games\dravo\" -> "C:\games\dravo" (the drive letter in
// upper case, as Windows shows it); a drive's root keeps its backslash.
std::string shown_folder(const std::string& dir) {
    std::string shown = plat::display_path(dir);
    while (shown.size() > 3 && (shown.back() == '\\' || shown.back() == '/')) shown.pop_back();
    if (shown.size() >= 2 && shown[1] == ':' && shown[0] >= 'a' && shown[0] <= 'z') shown[0] = static_cast<char>(shown[0] - 'a' + 'A');
    return shown;
}

// "c:\games\dravo\" -> "c:\games\dravo"; a drive's root keeps its backslash.
std::string without_backslash(std::string dir) {
    while (dir.size() > 3 && (dir.back() == '\\' || dir.back() == '/')) dir.pop_back();
    return dir;
}

// The folder as /D="..." gives it back through the C runtime's splitting: a backslash before
// the closing quote would escape it, so a root's backslash is doubled ("D:\\" reads "D:\").
std::string quoted_folder(const std::string& folder) {
    std::string text = folder;
    if (!text.empty() && text.back() == '\\') text += '\\';
    return "\"" + text + "\"";
}

std::string local_date(std::int64_t when) {
    std::time_t t = static_cast<std::time_t>(when < 0 ? 0 : when);
    char text[16] = "";
    if (std::tm* local = std::localtime(&t)) std::strftime(text, sizeof text, "%Y%m%d", local);
    return text;
}

bool begins_with(const std::string& text, const std::string& prefix) {
    return text.size() >= prefix.size() && text::starts_with_ignoring_case(text, text::lowered(prefix));
}

std::string entry_line_of(const std::string& key, const std::string& what) { return key + ": " + what; }

}  // namespace

std::string entry_key_prefix(const std::string& game_dir) {
    std::string folder = text::lowered(without_backslash(game_dir));
    plat::Sha256 hash;
    hash.update(folder.data(), folder.size());
    plat::Sha256Digest digest{};
    std::string hex = hash.finish(&digest) ? plat::to_hex(digest).substr(0, 8) : "00000000";
    return kKeyPrefix + hex + "-";
}

std::string entry_key(const std::string& game_dir, int number) {
    return entry_key_prefix(game_dir) + std::to_string(number);
}

int entry_number(const std::string& game_dir, const std::string& key) {
    std::string prefix = entry_key_prefix(game_dir);
    if (!begins_with(key, prefix) || key.size() == prefix.size() || key.size() > prefix.size() + 9) return 0;
    std::string digits = key.substr(prefix.size());
    if (digits[0] == '0' || !std::all_of(digits.begin(), digits.end(), [](char c) { return c >= '0' && c <= '9'; }))
        return 0;
    return std::stoi(digits);
}

ProgramEntry program_entry(const std::string& game_dir, int number, const std::string& copy, std::int64_t when,
                           std::int64_t kept_bytes) {
    ProgramEntry e;
    std::string folder = shown_folder(game_dir);
    e.key = entry_key(game_dir, number);
    e.display_name = "Dravo patch " + std::to_string(number) + " (" + folder + ")";
    e.install_location = folder;
    e.install_date = local_date(when);
    std::int64_t kib = (std::max<std::int64_t>(kept_bytes, 0) + 1023) / 1024;
    e.size_kib = static_cast<std::uint32_t>(std::min<std::int64_t>(kib, 0xffffffff));
    e.uninstall = "\"" + copy + "\" /UNDO=" + std::to_string(number) + " /D=" + quoted_folder(folder);
    e.quiet_uninstall = e.uninstall + " /S";
    return e;
}

namespace {

// The entry install `install` should have, run from the copy the list keeps for it.
ProgramEntry wanted_entry(ProgramsList& list, const std::string& game_dir, const journal::CommittedInstall& install) {
    std::string key = entry_key(game_dir, install.number);
    return program_entry(game_dir, install.number, list.copy_path(key), plat::modified_time(install.journal.c_str()),
                         install.kept_bytes);
}

bool listed(const std::vector<std::string>& keys, const std::string& key) {
    return std::any_of(keys.begin(), keys.end(), [&](const std::string& k) { return text::lowered(k) == text::lowered(key); });
}

}  // namespace

Result register_install(ProgramsList& list, const std::string& game_dir, int number) {
    std::string key = entry_key(game_dir, number);
    std::vector<journal::CommittedInstall> installs = journal::committed_installs(game_dir);
    auto install = std::find_if(installs.begin(), installs.end(),
                                [&](const journal::CommittedInstall& i) { return i.number == number; });
    if (install == installs.end()) return Result::failed("install " + std::to_string(number) + " has no completed journal");
    if (Result kept = list.keep_copy(key); kept.failed())
        return Result::failed("cannot keep a copy of the installer for the undo: " + kept.problem);
    if (Result written = list.write(wanted_entry(list, game_dir, *install)); written.failed()) {
        list.drop_copy(key);
        return Result::failed("cannot write the entry " + key + ": " + written.problem);
    }
    return journal::record_entry(game_dir, number, key);
}

Result unregister_install(ProgramsList& list, const std::string& game_dir, int number, const std::string& recorded) {
    std::vector<std::string> keys{entry_key(game_dir, number)};
    if (!recorded.empty() && text::lowered(recorded) != text::lowered(keys[0])) keys.push_back(recorded);
    for (const std::string& key : keys) {
        Result removed = list.remove(key);
        Result dropped = list.drop_copy(key);
        if (removed.failed()) return Result::failed("cannot remove the entry " + key + ": " + removed.problem);
        if (dropped.failed())
            return Result::failed("cannot remove the installer's copy for " + key + ": " + dropped.problem);
    }
    return Result::applied();
}

namespace {

// What this folder's list holds that no install in `wanted` has: taken back where the list
// could not hear of it, or its journal removed.
void remove_stale(ProgramsList& list, const std::string& game_dir, const std::set<int>& wanted,
                  std::vector<std::string>* told) {
    std::vector<std::string> keys = list.keys();
    std::vector<std::string> copies = list.copies();
    std::set<std::string> stale;
    for (const std::string& key : keys)
        if (int n = entry_number(game_dir, key); n != 0 && !wanted.count(n)) stale.insert(key);
    for (const std::string& key : copies)
        if (int n = entry_number(game_dir, key); n != 0 && !wanted.count(n)) stale.insert(key);
    for (const std::string& key : stale) {
        Result removed = listed(keys, key) ? list.remove(key) : Result::applied();
        Result dropped = listed(copies, key) ? list.drop_copy(key) : Result::applied();
        if (removed.failed() || dropped.failed())
            told->push_back(entry_line_of(key, "cannot remove what no install needs: " +
                                                   (removed.failed() ? removed.problem : dropped.problem)));
        else if (listed(keys, key))
            told->push_back(entry_line_of(key, "the entry of an install that is no longer there was removed"));
    }
}

std::set<int> install_numbers(const std::vector<journal::CommittedInstall>& installs) {
    std::set<int> numbers;
    for (const journal::CommittedInstall& install : installs) numbers.insert(install.number);
    return numbers;
}

}  // namespace

std::vector<std::string> tidy_entries(ProgramsList& list, const std::string& game_dir) {
    std::vector<std::string> told;
    remove_stale(list, game_dir, install_numbers(journal::committed_installs(game_dir)), &told);
    return told;
}

std::vector<std::string> repair_entries(ProgramsList& list, const std::string& game_dir) {
    std::vector<std::string> told;
    std::vector<journal::CommittedInstall> installs = journal::committed_installs(game_dir);
    std::vector<std::string> copies = list.copies();
    for (const journal::CommittedInstall& install : installs) {
        std::string key = entry_key(game_dir, install.number);
        if (!listed(copies, key) || !plat::file_exists(list.copy_path(key).c_str())) {
            Result kept = list.keep_copy(key);
            told.push_back(entry_line_of(key, kept.failed() ? "cannot keep a copy of the installer: " + kept.problem
                                                            : "the installer's copy was made again"));
            if (kept.failed()) continue;
        }
        ProgramEntry now, want = wanted_entry(list, game_dir, install);
        if (!list.read(key, &now) || now != want) {
            Result written = list.write(want);
            told.push_back(entry_line_of(key, written.failed() ? "cannot write the entry: " + written.problem
                                                               : "the entry was written again"));
            if (written.failed()) continue;
        }
        if (install.entry.empty())
            if (Result noted = journal::record_entry(game_dir, install.number, key); noted.failed())
                told.push_back(entry_line_of(key, "cannot record the entry in the journal: " + noted.problem));
    }
    remove_stale(list, game_dir, install_numbers(installs), &told);
    return told;
}

}  // namespace install
