// Writing the install log.
#include "install/install_log.h"

#include <cstdio>
#include <ctime>
#include <vector>

#include "install/final_texts.h"
#include "journal/transaction.h"
#include "platform/platform.h"
#include "platform/trust.h"

namespace install {

namespace {

std::string local_time_now() {
    std::time_t now = std::time(nullptr);
    char text[32] = "";
    if (std::tm* t = std::localtime(&now)) std::strftime(text, sizeof text, "%Y-%m-%d %H:%M:%S", t);
    return text;
}

const char* state_word(WorkResult r) {
    switch (r) {
        case WorkResult::Applied: return "applied";
        case WorkResult::Skipped: return "skipped";
        case WorkResult::Failed: return "failed";
    }
    return "?";
}

// One line per line of a text, each indented, so that a record's lines stay apart.
std::string indented(const std::string& text) {
    std::string out = "  ";
    for (char c : text) out += c == '\n' ? std::string("\n  ") : std::string(1, c);
    return out;
}

}  // namespace

std::string work_item_line(const WorkItemReport& item) {
    std::string line = std::string(state_word(item.outcome.result)) + ": " + item.line;
    if (!item.outcome.problem.empty()) line += " (" + item.outcome.problem + ")";
    return line;
}

std::string format_install_log(const InstallLogEntry& entry, const std::string& when) {
    std::string out = "== " + when + "\npatch: " + entry.patch + "\n";
    for (const WorkItemReport& item : entry.work.items) out += work_item_line(item) + "\n";
    if (!entry.not_found.empty()) out += "not found: " + entry.not_found + "\n";
    for (const std::string& line : entry.programs_list) out += "programs list: " + line + "\n";
    // Said once a run: the install went on, but a power cut could undo a name change there.
    if (const plat::Durability& d = plat::durability(); d.folder_flush_unsupported)
        out += "durability: the file system of " + plat::display_path(d.first_folder) +
               " cannot flush a folder, so a power cut could undo a change of names there\n";
    out += "outcome:\n" + indented(entry.outcome) + "\n";
    return out;
}

Result check_install_log(const std::string& game_dir) {
    std::string path = game_dir + journal::kLogName;
    plat::EntryKind kind = plat::entry_kind(path.c_str());
    if (kind == plat::EntryKind::Missing || kind == plat::EntryKind::File) return Result::applied();
    return Result::failed(plat::display_path(path) + " is " + plat::entry_kind_words(kind) +
                          ", not the installer's log; remove it and try again");
}

namespace {

std::string g_log_copy;  // the installer's /LOG=FILE, or empty

// The game folder's log is opened without following a link, since others may write in that
// folder; the copy is a file the person running the installer named.
bool append_record(const std::string& path, const std::string& record, bool in_game_folder) {
    std::FILE* log = in_game_folder ? plat::open_append_no_follow(path.c_str()) : plat::open_text(path.c_str(), "ab");
    if (!log) return false;
    bool written = std::fwrite(record.data(), 1, record.size(), log) == record.size();
    return std::fclose(log) == 0 && written;
}

}  // namespace

Result set_log_copy(const std::string& path) {
    std::FILE* log = plat::open_text(path.c_str(), "ab");
    if (!log) return Result::failed(plat::display_path(path) + ": cannot be opened for appending: " + plat::last_error_text());
    std::fclose(log);
    g_log_copy = path;
    return Result::applied();
}

void reset_log_copy() { g_log_copy.clear(); }

void append_to_log_copy(const InstallLogEntry& entry) {
    if (!g_log_copy.empty()) append_record(g_log_copy, format_install_log(entry, local_time_now()), false);
}

void append_install_log(const std::string& game_dir, const InstallLogEntry& entry) {
    append_record(game_dir + journal::kLogName, format_install_log(entry, local_time_now()), true);
}

void add_to_install_log(const std::string& game_dir, const InstallLogEntry& entry) {
    if (plat::entry_kind((game_dir + journal::kLogName).c_str()) == plat::EntryKind::File)
        append_install_log(game_dir, entry);
}

bool log_records_completed(const std::string& game_dir, const std::string& patch) {
    std::string path = game_dir + journal::kLogName;
    std::vector<std::uint8_t> bytes;
    if (plat::read_whole_file(path.c_str(), std::int64_t{64} << 20, &bytes) != plat::ReadWholeResult::Done) return false;
    // Each record: "== WHEN", "patch: NAME", ..., "outcome:", the outcome indented.
    std::string text(bytes.begin(), bytes.end());
    bool ours = false, completed = false, in_outcome = false;
    for (std::size_t at = 0; at < text.size();) {
        std::size_t end = text.find('\n', at);
        if (end == std::string::npos) end = text.size();
        std::string line = text.substr(at, end - at);
        if (!line.empty() && line.back() == '\r') line.pop_back();
        at = end + 1;
        if (line.rfind("== ", 0) == 0) {
            in_outcome = false;
        } else if (line.rfind("patch: ", 0) == 0) {
            ours = line.substr(7) == patch;
        } else if (line == "outcome:") {
            in_outcome = ours;
        } else if (in_outcome) {
            completed = line == std::string("  ") + kCompletedText;
            in_outcome = false;
        }
    }
    return completed;
}

}  // namespace install
