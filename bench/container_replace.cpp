// Replaces a member near the start of a large container (the whole file is rewritten) and, in
// the same run, copies the same container with cp --reflink=never followed by a sync of the
// copy: writing the container once and flushing it is the least a durable rewrite can cost,
// since the replacement puts its data on disk before it swaps the files. Plain cp, which
// leaves the data in the page cache, is timed too. Prints the times, both ratios and the peak
// resident size for each container size, to show that memory does not grow with the
// container. The goal: replacement at most 1.2 times cp + sync.
//
// The replacement also disposes of the old container when the new one takes its name, which
// the copy does not: the file system frees every block of it (on a mount with online discard
// that means trimming them too). The removal of the copy, timed in the same run, shows that
// share, and the ratio without it is printed beside the goal's.
//
// Usage: bench_container_replace [MiB ...]   (default 512 1024)
#include <sys/resource.h>
#include <unistd.h>

#include <algorithm>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <string>
#include <vector>

#include "platform/platform.h"
#include "base/report.h"
#include "xfile/container_format.h"
#include "xfile/replace.h"

namespace {

using Clock = std::chrono::steady_clock;

double seconds_since(Clock::time_point t) { return std::chrono::duration<double>(Clock::now() - t).count(); }

long peak_rss_kib() {
    rusage u{};
    getrusage(RUSAGE_SELF, &u);
    return u.ru_maxrss;
}

bool write_all(plat::Handle h, const void* data, std::uint32_t n) {
    std::uint32_t put = 0;
    return plat::write_file(h, data, n, &put) && put == n;
}

// A container of `members` members of `member_size` bytes each, written in 1 MiB pieces.
bool build_container(const std::string& path, int members, std::int64_t member_size) {
    plat::Handle h = plat::open_file(path.c_str(), plat::Access::Write, plat::Disposition::CreateAlways);
    if (h == plat::Handle::Invalid) return false;
    static container_format::ContainerHeader header;
    for (int i = 0; i < members; ++i) {
        container_format::ContainerEntry e;
        std::snprintf(e.name.data(), e.name.size(), "member%03d", i);
        e.size = static_cast<std::int32_t>(member_size);
        e.offset = static_cast<std::int32_t>(kContainerHeaderSize + i * member_size);
        e.attribute = 2;
        header.set_entry(i, e);
    }
    bool ok = write_all(h, header.bytes().data(), kContainerHeaderSize);
    static std::vector<std::uint8_t> chunk(1 << 20);
    for (std::size_t i = 0; i < chunk.size(); ++i) chunk[i] = static_cast<std::uint8_t>(i * 31 + 7);
    for (std::int64_t left = members * member_size; ok && left > 0;) {
        std::uint32_t n = static_cast<std::uint32_t>(left < static_cast<std::int64_t>(chunk.size()) ? left : chunk.size());
        ok = write_all(h, chunk.data(), n);
        left -= n;
    }
    plat::close_file(h);
    return ok;
}

int run(const std::string& dir, int mib) {
    const int members = 100;
    std::int64_t member_size = static_cast<std::int64_t>(mib) * (1 << 20) / members;
    std::string native_dir = plat::to_native_path(dir.c_str()) + "/";
    std::string container = dir + "bench.mul";
    std::string source = dir + "new.bin";
    if (!build_container(container, members, member_size)) return std::fprintf(stderr, "bench: cannot build\n"), 1;
    {
        plat::Handle h = plat::open_file(source.c_str(), plat::Access::Write, plat::Disposition::CreateAlways);
        static std::uint8_t data[4096];
        std::memset(data, 'n', sizeof data);
        for (std::int64_t left = member_size / 2 + 12345; left > 0; left -= sizeof data)
            write_all(h, data, static_cast<std::uint32_t>(left < 4096 ? left : 4096));
        plat::close_file(h);
    }
    std::system("sync");

    // Best of three for each side: the machine's page-cache writeback makes single runs noisy.
    double replace_s = 1e9, cp_s = 1e9, cp_sync_s = 1e9, rm_s = 1e9;
    long rss_before = peak_rss_kib();
    for (int round = 0; round < 3; ++round) {
        Clock::time_point t = Clock::now();
        char member[] = "member001";
        std::string src = source;
        ReplaceResult r = replace_member_in(container.c_str(), member, src.data(), SourceKind::Path);
        replace_s = std::min(replace_s, seconds_since(t));
        if (r.result != WorkResult::Applied) return std::fprintf(stderr, "bench: %s\n", r.problem.c_str()), 1;
        std::system("sync");
    }
    long rss_after = peak_rss_kib();
    std::string cp = "cp --reflink=never " + native_dir + "bench.mul " + native_dir + "copy.mul";
    std::string rm = "rm -f " + native_dir + "copy.mul && sync";
    for (int round = 0; round < 3; ++round) {
        Clock::time_point t = Clock::now();
        if (std::system(cp.c_str()) != 0) return 1;
        cp_s = std::min(cp_s, seconds_since(t));
        std::system(rm.c_str());
        t = Clock::now();
        if (std::system((cp + " && sync " + native_dir + "copy.mul").c_str()) != 0) return 1;
        cp_sync_s = std::min(cp_sync_s, seconds_since(t));
        t = Clock::now();
        std::system(rm.c_str());  // a synced file of the container's size, as the old one is
        rm_s = std::min(rm_s, seconds_since(t));
    }

    std::printf("container_replace: %d MiB container: replace %.3f s; cp+sync %.3f s (ratio %.2f, goal 1.20); "
                "cp %.3f s (ratio %.2f); removing a file of that size %.3f s (replace without it: ratio %.2f); "
                "peak RSS %ld KiB before the replacements, %ld KiB after\n",
                mib, replace_s, cp_sync_s, replace_s / cp_sync_s, cp_s, replace_s / cp_s, rm_s,
                (replace_s - rm_s) / cp_sync_s, rss_before, rss_after);
    std::fflush(stdout);
    for (const char* f : {"bench.mul", "new.bin", "copy.mul"}) plat::delete_file((dir + f).c_str());
    return 0;
}

}  // namespace

// The progress line has no one to show it to here.
class QuietSink final : public report::Sink {
    void error_box(const char* text, const char* caption) override { std::fprintf(stderr, "%s: %s\n", caption, text); }
    void progress_text(const char*) override {}
};

int main(int argc, char** argv) {
    QuietSink quiet;
    report::set_sink(&quiet);
    std::vector<int> sizes;
    for (int i = 1; i < argc; ++i) sizes.push_back(std::atoi(argv[i]));
    if (sizes.empty()) sizes = {512, 1024};
    std::string dir = plat::temp_directory() + "dravo-bench-replace-" + std::to_string(getpid()) + "\\";
    plat::create_directory(dir.c_str());
    int rc = 0;
    for (std::size_t i = 0; rc == 0 && i < sizes.size(); ++i) rc = run(dir, sizes[i]);
    plat::remove_directory(dir.c_str());
    return rc;
}
