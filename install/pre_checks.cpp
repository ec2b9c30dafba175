// The install's checks before its first change.
#include "install/pre_checks.h"

#include <cstdint>
#include <map>
#include <string>

#include "install/final_texts.h"
#include "install/work_list.h"
#include "messages/message_updates.h"
#include "platform/platform.h"
#include "xfile/replace.h"

namespace install {

namespace {

std::string directory_of(const std::string& path) {
    std::size_t cut = path.find_last_of("\\/");
    return cut == std::string::npos ? plat::current_directory() : path.substr(0, cut + 1);
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
                                      std::to_string(free >> 20) + " MiB are free");
        }
        return Result::applied();
    }

private:
    std::map<std::string, std::int64_t> counted_;
    std::map<std::string, std::int64_t> by_directory_;
};

}  // namespace

Result check_work_list(const char* patch_ini) {
    RoomNeeded room;
    WorkHandlers checks;
    checks.by_kind[0] = [&room](const char* argument, std::FILE*) {
        std::string container;
        std::int64_t bytes = 0;
        Result r = check_container_member(argument, &container, &bytes);
        if (!r.failed()) room.add(container, bytes);
        return r;
    };
    auto tables = [&room](Result r, const std::string& dat, const std::string& str) {
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
    std::string failures;
    for (const WorkItemReport& item : report.items)
        if (item.outcome.failed()) failures += "\n" + item.line + ": " + item.outcome.problem;
    if (!failures.empty()) return Result::failed(kCannotBeDoneText + failures);
    return room.check();
}

}  // namespace install
