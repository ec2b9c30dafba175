// The way back from the compiled tables to a message source, so that a translator can start
// from an installed game. For every message the decompiler writes a header and text lines
// that the compiler turns into the same record and the same strings, and it proves that by
// compiling each message again before it accepts the text.
//
// A worked example. The compiler reads the message
//
//     #5 0 0 0 0 20 3 0 -e
//     The old ferryman waits
//     by the river.\Pay him   one coin.
//
// as one text, each line stripped and followed by a space unless it ends in a backslash:
// "The old ferryman waits by the river.\Pay him   one coin. ". The writer fills a buffer of at
// most 20 characters (the width) word by word; a word that does not fit, or a backslash, ends
// the buffer. Each buffer is stripped and, but for the last, justified ("-e") into a string:
//
//     "The old ferryman "     ->  "The    old  ferryman"
//     "waits by the river. "  ->  "waits  by the river."    (ended by the backslash)
//     "Pay him   one coin. "  ->  "Pay him   one coin."     (the last: left alone)
//
// The decompiler turns the record back into the header line. For each string it finds the
// buffers the writer turns into it (line_planning.cpp): undoing the justification
// (unjustify.cpp) gives "The old ferryman" and "waits by the river."; the last string is its
// own buffer. The normal planner (normal_lines.cpp) joins them, each ended with a backslash
// but the last, which the text's end closes, into a text the writer cuts where it cut before:
//
//     The old ferryman\waits by the river.\Pay him   one coin.
//
// That text is then cut into the fewest lines the compiler reads back as it: here one, as it
// fits a line of 249 characters; a longer one is cut behind a backslash or at a single space
// (the compiler puts the space back), and never where the next line would begin with '#' (a
// header) or, without their flags, with "..." or "@points". So the source written is
//
//     #5 0 0 0 0 20 3 0 -e
//     The old ferryman\waits by the river.\Pay him   one coin.
//
// and it is kept only once compiling it gives the same record and strings. The original line
// breaks do not come back, only a source that compiles to the same tables.
//
// A raw message keeps its lines as written, each ended by a backslash, and the writer cuts
// them at the width without stripping:
//
//     ##6 0 0 0 0 12 2 0
//       Inventory
//       a very long line
//
// gives "  Inventory", "  a very lon" and "g line". The raw planner (raw_lines.cpp) writes one
// line per buffer; a buffer as wide as the width that has no empty string behind it (the
// writer makes one behind a line that fills the width exactly) ran on from one line, so
// "  a very lon" and "g line" go back on one line: "  a very long line\".
#pragma once

#include <cstdint>
#include <string>
#include <vector>

#include "messages/message_tables.h"

namespace decompiler {

// One message of a source: the record its header line gives, its text lines, and the line
// alignment mode (1 "\c", 2 "\e") of the "#0" line that closes it when its strings were
// aligned by the line behind them (0: the next header closes it).
struct SourceMessage {
    messages::IndexRecord record;
    bool earlier_definition = false;  // strings that a later definition of its number left unused
    std::string header;               // the header line as written; empty: the one `record` gives
    std::vector<std::string> lines;
    int line_mode = 0;
};

struct DecompiledMessages {
    std::vector<SourceMessage> messages;  // in the order of their strings in message.str
    std::vector<std::string> warnings;    // what does not come back the same, and lost strings
};

struct DecompiledSource {
    std::string text;                   // the message source
    std::vector<std::string> warnings;  // what does not come back the same, and lost strings
    int messages = 0;
};

// `dat` and `str` are the two tables' whole contents.
DecompiledMessages decompile_messages(const std::vector<std::uint8_t>& dat, const std::vector<std::uint8_t>& str);
DecompiledSource decompile(const std::vector<std::uint8_t>& dat, const std::vector<std::uint8_t>& str);

// The message source of `messages`: section lines where the language changes, each message's
// header and lines, and the "..." of a message's dots flag on the line that closes it.
// `header_lines`, when given, receives the line of each message's header in that text.
// `writer` names the command in the source's first line.
std::string source_text(const std::vector<SourceMessage>& messages, std::vector<long>* header_lines = nullptr,
                        const char* writer = "dravo msg decompile");

// The header line that the compiler reads back into the same record fields. `complete`: every
// number written, as a message update reads a header (it abandons none).
std::string header_line(const messages::IndexRecord& r, bool complete = false);

}  // namespace decompiler
