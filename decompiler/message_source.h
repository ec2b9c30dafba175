// The way back from the compiled tables to a message source, so that a translator can start
// from an installed game. For every message the decompiler writes a header and text lines
// that the compiler turns into the same record and the same strings, and it proves that by
// compiling each message again before it accepts the text.
#pragma once

#include <cstdint>
#include <string>
#include <vector>

#include "messages/message_tables.h"

namespace messages {

struct DecompiledSource {
    std::string text;                   // the message source
    std::vector<std::string> warnings;  // what does not come back the same, and lost strings
    int messages = 0;
};

// `dat` and `str` are the two tables' whole contents.
DecompiledSource decompile(const std::vector<std::uint8_t>& dat, const std::vector<std::uint8_t>& str);

// The header line that the compiler reads back into the same record fields.
std::string header_line(const IndexRecord& r);

}  // namespace messages
