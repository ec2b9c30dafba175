// The open-file registry of the POSIX platform layer: which files this process holds, so that
// a second open, a delete or a rename over a held file fails as it does on Windows.
#include "platform/os/posix/posix_internal.h"

#include <fcntl.h>
#include <sys/file.h>

#include <mutex>
#include <set>

namespace plat::detail {

namespace {

struct OpenFiles {
    std::mutex lock;
    std::map<int, FileKey> by_fd;
    std::multiset<FileKey> keys;
    std::map<int, std::uint64_t> unsynced;  // bytes written since writeback was last started
    std::set<int> scratch;                  // files whose writeback is never started early
};

OpenFiles& open_files() {
    static OpenFiles files;
    return files;
}

bool key_of_path(const std::string& host, FileKey* key) {
    struct stat st;
    if (::stat(host.c_str(), &st) != 0) return false;
    *key = {st.st_dev, st.st_ino};
    return true;
}

}  // namespace

bool claim_open_file(int fd, FileKey key) {
    OpenFiles& of = open_files();
    std::lock_guard<std::mutex> guard(of.lock);
    if (of.keys.count(key) != 0 || ::flock(fd, LOCK_EX | LOCK_NB) != 0) return false;
    of.by_fd[fd] = key;
    of.keys.insert(key);
    return true;
}

void forget_open_file(int fd) {
    OpenFiles& of = open_files();
    std::lock_guard<std::mutex> guard(of.lock);
    auto it = of.by_fd.find(fd);
    if (it != of.by_fd.end()) {
        of.keys.erase(of.keys.find(it->second));
        of.by_fd.erase(it);
        of.unsynced.erase(fd);
        of.scratch.erase(fd);
    }
}

bool is_held_open(const std::string& host) {
    FileKey key;
    if (!key_of_path(host, &key)) return false;
    OpenFiles& of = open_files();
    std::lock_guard<std::mutex> guard(of.lock);
    return of.keys.count(key) != 0;
}

bool held_by_other_than(const std::string& host, Handle allowed) {
    FileKey key;
    if (!key_of_path(host, &key)) return false;
    OpenFiles& of = open_files();
    std::lock_guard<std::mutex> guard(of.lock);
    std::size_t holders = of.keys.count(key);
    if (allowed != Handle::Invalid) {
        auto it = of.by_fd.find(fd_of(allowed));
        if (it != of.by_fd.end() && it->second == key) --holders;
    }
    return holders != 0;
}

void note_written(int fd, std::uint32_t bytes) {
    OpenFiles& of = open_files();
    bool start = false;
    {
        std::lock_guard<std::mutex> guard(of.lock);
        if (of.scratch.count(fd)) return;
        std::uint64_t& n = of.unsynced[fd];
        n += bytes;
        if (n >= kWritebackStep) {
            n = 0;
            start = true;
        }
    }
    if (start) ::sync_file_range(fd, 0, 0, SYNC_FILE_RANGE_WRITE);
}

void note_scratch(int fd) {
    OpenFiles& of = open_files();
    std::lock_guard<std::mutex> guard(of.lock);
    of.scratch.insert(fd);
}

}  // namespace plat::detail
