// Loads a game's configuration and both record files (5000 records) as the installer does,
// with path sections of 500, 40,000 and 200,000 lines, and compares each time with reading
// the same bytes through plain stdio, the least any loader can take. A loader that is linear
// in the number of lines keeps the ratio about the same at every size.
#include <chrono>
#include <cstdio>
#include <cstring>
#include <string>
#include <vector>

#include "config/config.h"
#include "config/file_table.h"
#include "xfile/records.h"
#include "bench/bench_util.h"
#include "platform/platform.h"
#include "xfile/xfile.h"

namespace {

using Clock = std::chrono::steady_clock;

using bench::write_all;

constexpr const char* kFiles[] = {"Dravo.ini", "multigen.dat", "patch.dat"};

std::string record(int i, int names, const char* container) {
    std::string r(42, '\0');
    std::string name = "name" + std::to_string(i % names);
    std::memcpy(&r[0], name.data(), name.size());
    std::memcpy(&r[20], container, std::strlen(container));
    r[41] = static_cast<char>(i & 1);
    return r;
}

double ms_since(Clock::time_point t) {
    return std::chrono::duration<double, std::milli>(Clock::now() - t).count();
}

void write_inputs(const std::string& dir, int lines) {
    std::string ini = "[dircd]\nd:\\\n[dirhd]\nc:\\game\n[path]\n";
    for (int i = 0; i < lines; ++i) {
        std::string name = "name" + std::to_string(i);
        name.resize(20, ' ');
        ini += name + "hd:data" + std::to_string(i % 7) + "\\\n";
    }
    std::string multigen, patch;
    for (int i = 0; i < 2500; ++i) multigen += record(i * 7, lines, "dravo.mul");
    for (int i = 0; i < 2500; ++i) patch += record(i * 11, lines, "patch.mul");
    write_all(dir + "Dravo.ini", ini);
    write_all(dir + "multigen.dat", multigen);
    write_all(dir + "patch.dat", patch);
}

// Milliseconds per load, or a negative value when loading failed.
double time_loads(const std::string& dir, int lines, int rounds) {
    std::string last = "name" + std::to_string(lines - 1);
    Clock::time_point t = Clock::now();
    for (int r = 0; r < rounds; ++r) {
        config::reset_configuration();
        bool ok = config::read_configuration((dir + "Dravo.ini").c_str(), config::ConfigMode::Game) &&
                  xfile::load_record_file((dir + "multigen.dat").c_str()) &&
                  xfile::load_record_file((dir + "patch.dat").c_str());
        if (!ok || !config::find_entry(last.c_str())) return -1;
    }
    return ms_since(t) / rounds;
}

double time_plain_reads(const std::string& dir, int rounds) {
    std::vector<char> buf(1 << 16);
    Clock::time_point t = Clock::now();
    for (int r = 0; r < rounds; ++r) {
        for (const char* name : kFiles) {
            std::FILE* f = plat::open_text((dir + name).c_str(), "rb");
            while (std::fread(buf.data(), 1, buf.size(), f) > 0) {
            }
            std::fclose(f);
        }
    }
    return ms_since(t) / rounds;
}

}  // namespace

int main() {
    std::string dir = plat::temp_directory() + "dravo-bench-config\\";
    plat::create_directory(dir.c_str());
    struct Size {
        int lines;
        int rounds;
    };
    int status = 0;
    for (Size size : {Size{500, 20}, Size{40000, 5}, Size{200000, 3}}) {
        write_inputs(dir, size.lines);
        double load_ms = time_loads(dir, size.lines, size.rounds);
        if (load_ms < 0) {
            std::fprintf(stderr, "bench: loading %d path lines failed\n", size.lines);
            status = 1;
            break;
        }
        double read_ms = time_plain_reads(dir, size.rounds);
        std::printf("config_load: %d path lines, 5000 records: %.3f ms per load\n", size.lines, load_ms);
        std::printf("config_load: plain read of the same files: %.3f ms (ratio %.1f)\n", read_ms,
                    read_ms > 0 ? load_ms / read_ms : 0.0);
    }
    config::reset_configuration();
    xfile::reset_xfile();
    for (const char* name : kFiles) plat::delete_file((dir + name).c_str());
    plat::remove_directory(dir.c_str());
    return status;
}
