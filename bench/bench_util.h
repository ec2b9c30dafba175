// Helpers shared by the benchmarks.
#pragma once

#include <cstdio>
#include <cstdlib>
#include <string>

#include "platform/platform.h"

namespace bench {

// Writes a whole file, or ends the benchmark: a benchmark without its input measures nothing.
inline void write_all(const std::string& path, const std::string& bytes) {
    std::FILE* f = plat::open_text(path.c_str(), "wb");
    if (!f) {
        std::perror(path.c_str());
        std::exit(1);
    }
    std::fwrite(bytes.data(), 1, bytes.size(), f);
    std::fclose(f);
}

}  // namespace bench
