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


// The text of message i: four lines of words, about 240 characters.
inline std::string message_text(int i, const char* line_end) {
    static const char* kWords[] = {"the", "traveller", "walks", "along", "river", "of", "Dravo", "and",
                                   "finds", "a", "sword", "under", "old", "stones", "near", "castle"};
    std::string text;
    unsigned state = static_cast<unsigned>(i) * 2654435761u + 1;
    for (int line = 0; line < 4; ++line) {
        std::string l;
        while (l.size() < 56) {
            state = state * 1103515245u + 12345u;
            if (!l.empty()) l += ' ';
            l += kWords[(state >> 16) % 16];
        }
        text += l + line_end;
    }
    return text;
}

}  // namespace bench
