// Loads a game's configuration with a 500-line path section and both record files (5000
// records) as the installer does, and compares the time with reading the same bytes through
// plain stdio, the least any loader can take.
#include <chrono>
#include <cstdio>
#include <cstring>
#include <string>
#include <vector>

#include "config/config.h"
#include "config/file_table.h"
#include "config/records.h"
#include "bench/bench_util.h"
#include "platform/platform.h"
#include "xfile/xfile.h"

namespace {

using Clock = std::chrono::steady_clock;

using bench::write_all;

std::string record(int i, const char* container) {
    std::string r(42, '\0');
    std::string name = "name" + std::to_string(i % 500);
    std::memcpy(&r[0], name.data(), name.size());
    std::memcpy(&r[20], container, std::strlen(container));
    r[41] = static_cast<char>(i & 1);
    return r;
}

double ms_since(Clock::time_point t) {
    return std::chrono::duration<double, std::milli>(Clock::now() - t).count();
}

}  // namespace

int main() {
    std::string dir = plat::temp_directory() + "dravo-bench-config\\";
    plat::create_directory(dir.c_str());
    std::string ini = "[dircd]\nd:\\\n[dirhd]\nc:\\game\n[path]\n";
    for (int i = 0; i < 500; ++i) {
        std::string name = "name" + std::to_string(i);
        name.resize(20, ' ');
        ini += name + "hd:data" + std::to_string(i % 7) + "\\\n";
    }
    std::string multigen, patch;
    for (int i = 0; i < 2500; ++i) multigen += record(i, "dravo.mul");
    for (int i = 0; i < 2500; ++i) patch += record(i, "patch.mul");
    write_all(dir + "Dravo.ini", ini);
    write_all(dir + "multigen.dat", multigen);
    write_all(dir + "patch.dat", patch);

    const int rounds = 20;
    Clock::time_point t = Clock::now();
    for (int r = 0; r < rounds; ++r) {
        config::reset_configuration();
        bool ok = config::read_configuration((dir + "Dravo.ini").c_str(), config::ConfigMode::Game) &&
                  config::load_record_file((dir + "multigen.dat").c_str()) &&
                  config::load_record_file((dir + "patch.dat").c_str());
        if (!ok || !config::find_entry("name499")) {
            std::fprintf(stderr, "bench: loading failed\n");
            return 1;
        }
    }
    double load_ms = ms_since(t) / rounds;

    t = Clock::now();
    std::vector<char> buf(1 << 16);
    for (int r = 0; r < rounds; ++r) {
        for (const char* name : {"Dravo.ini", "multigen.dat", "patch.dat"}) {
            std::FILE* f = plat::open_text((dir + name).c_str(), "rb");
            while (std::fread(buf.data(), 1, buf.size(), f) > 0) {
            }
            std::fclose(f);
        }
    }
    double read_ms = ms_since(t) / rounds;

    std::printf("config_load: 500 path lines, 5000 records: %.3f ms per load\n", load_ms);
    std::printf("config_load: plain read of the same files: %.3f ms (ratio %.1f)\n", read_ms,
                read_ms > 0 ? load_ms / read_ms : 0.0);
    for (const char* name : {"Dravo.ini", "multigen.dat", "patch.dat"}) plat::delete_file((dir + name).c_str());
    plat::remove_directory(dir.c_str());
    return 0;
}
