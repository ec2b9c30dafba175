// The install's checks before its first change.
#include "install/pre_checks.h"

#include <cstdint>
#include <map>
#include <string>

#include "config/config.h"
#include "config/file_table.h"
#include "install/final_texts.h"
#include "install/work_list.h"
#include "journal/transaction.h"
#include "messages/message_updates.h"
#include "platform/platform.h"
#include "platform/rules/winpath.h"
#include "platform/trust.h"
#include "xfile/replace.h"

namespace install {

namespace {

std::string directory_of(const std::string& path) {
    std::size_t cut = path.find_last_of("\\/");
    return cut == std::string::npos ? plat::current_directory() : path.substr(0, cut + 1);
}

// "Free 12 MB on C:, then run the patch again.": what is missing, rounded up, on the drive of
// `dir` (the folder itself where it has no drive letter).
std::string room_advice(const std::string& dir, std::int64_t missing) {
    std::string shown = plat::display_path(dir);
    std::string drive = shown.size() >= 2 && shown[1] == ':' ? shown.substr(0, 2) : shown;
    std::int64_t mb = (missing + (1 << 20) - 1) >> 20;
    return "Free " + std::to_string(mb) + " MB on " + drive + ", then run the patch again.";
}

// The bytes the rewrites will write, by the directory they are written in; a file rewritten by
// several lines counts once.
class RoomNeeded {
public:
    void add(const std::string& path) {
        if (counted_.count(path)) return;
        plat::File f = plat::File::open(path.c_str(), plat::Access::Read, plat::Disposition::OpenExisting);
        std::int64_t size = f ? plat::file_size(f.get()) : 0;
        counted_[path] = size;
        by_directory_[directory_of(path)] += size > 0 ? size : 0;
    }
    void add(const std::string& path, std::int64_t size) {
        if (counted_.count(path)) return;
        counted_[path] = size;
        by_directory_[directory_of(path)] += size;
    }
    Result check() const {
        for (const auto& [dir, need] : by_directory_) {
            std::int64_t free = plat::free_disk_bytes(dir.c_str());
            if (free >= 0 && free < need)
                return Result::failed("The Dravo patch was not installed: there is not room enough on the disk of " + plat::display_path(dir) +
                                      ": the install writes " + std::to_string(need >> 20) + " MiB there and " +
                                      std::to_string(free >> 20) + " MiB are free\n" + room_advice(dir, need - free));
        }
        return Result::applied();
    }

private:
    std::map<std::string, std::int64_t> counted_;
    std::map<std::string, std::int64_t> by_directory_;
};

// `dir` as an absolute folder with a trailing backslash, or "" when it is empty or written
// with "." or "..".
std::string absolute_folder(std::string dir, const std::string& game_dir) {
    if (dir.empty()) return {};
    for (char& c : dir) c = c == '/' ? '\\' : c;
    plat::WindowsPath p = plat::parse_windows_path(dir);
    if (p.unc) return {};
    if (p.drive == 0 && !p.rooted) dir = game_dir + dir;
    for (std::size_t at = 0; at < dir.size();) {
        std::size_t end = std::min(dir.find('\\', at), dir.size());
        std::string name = dir.substr(at, end - at);
        if (name == "." || name == "..") return {};
        at = end + 1;
    }
    if (dir.back() != '\\') dir += '\\';
    return dir;
}

}  // namespace

std::vector<std::string> game_folders(const std::string& game_dir) {
    config::reset_configuration();
    std::vector<std::string> folders;
    auto add = [&](const char* dir) {
        std::string folder = absolute_folder(dir, game_dir);
        for (const std::string& f : folders)
            if (plat::names_equal_ignoring_case(f, folder)) return;
        if (!folder.empty()) folders.push_back(folder);
    };
    if (config::read_configuration((game_dir + "Dravo.ini").c_str(), config::ConfigMode::Game)) {
        add(config::directories().hd);
        add(config::directories().cd);
        const config::FileTable& table = config::file_table();
        for (std::size_t i = 0; i < table.used; ++i) add(table.entry(i).directory);
    }
    config::reset_configuration();
    return folders;
}

Result check_not_linked(const std::string& path, const std::string& game_dir, const std::vector<std::string>& folders) {
    std::string why;
    bool below_a_folder = false;
    std::vector<std::string> all{game_dir};
    all.insert(all.end(), folders.begin(), folders.end());
    for (const std::string& folder : all) {
        if (folder.empty() || path.size() <= folder.size() ||
            !plat::names_equal_ignoring_case(std::string_view(path).substr(0, folder.size()), folder))
            continue;
        below_a_folder = true;
        why = plat::why_not_beneath(folder, path);
        if (why.empty()) return Result::applied();
    }
    if (!below_a_folder && plat::entry_kind(path.c_str()) == plat::EntryKind::Link) why = "is a link";
    if (why.empty()) return Result::applied();
    return Result::failed(plat::display_path(path) + " " + why + ": the installer writes nothing a link points at");
}

Result check_work_list(const char* patch_ini, const std::vector<std::string>& folders) {
    RoomNeeded room;
    // The checks refuse a read-only file before anything opens it: the advice names it.
    std::string read_only;
    auto note_read_only = [&](Result r, const std::string& path) {
        if (r.failed() && read_only.empty() && !path.empty() && plat::is_read_only(path.c_str()))
            read_only = read_only_advice(path);
        return r;
    };
    std::string game_dir = plat::current_directory();
    if (!game_dir.empty() && game_dir.back() != '\\') game_dir += '\\';
    auto not_linked = [&](const std::string& path) {
        return check_not_linked(journal::absolute_path(path), game_dir, folders);
    };
    WorkHandlers checks;
    checks.by_kind[0] = [&](const char* argument, std::FILE*) {
        std::string container;
        std::int64_t bytes = 0;
        Result r = note_read_only(check_container_member(argument, &container, &bytes), container);
        if (!r.failed()) r = not_linked(container);
        if (!r.failed()) room.add(container, bytes);
        return r;
    };
    auto tables = [&](Result r, const std::string& dat, const std::string& str) {
        note_read_only(r, dat);
        note_read_only(r, str);
        if (!r.failed()) r = not_linked(dat);
        if (!r.failed()) r = not_linked(str);
        if (!r.failed()) {
            room.add(dat);
            room.add(str);
        }
        return r;
    };
    checks.by_kind[1] = [&tables](const char* argument, std::FILE*) {
        std::string dat, str;
        Result r = messages::check_messages_from_source(argument, &dat, &str);
        return tables(r, dat, str);
    };
    checks.by_kind[2] = [&tables](const char*, std::FILE* stream) {
        std::string dat, str;
        Result r = messages::check_one_message(stream, &dat, &str);
        return tables(r, dat, str);
    };
    WorkListReport report = run_work_list(patch_ini, checks);
    std::string failures, advice;
    for (const WorkItemReport& item : report.items)
        if (item.outcome.failed()) {
            failures += "\n" + item.line + ": " + item.outcome.problem;
            if (advice.empty()) advice = item.advice;
        }
    if (advice.empty()) advice = read_only;
    if (!failures.empty()) return Result::failed(kCannotBeDoneText + failures + (advice.empty() ? "" : "\n" + advice));
    return room.check();
}

}  // namespace install
