// How one message's strings are written back as source text lines: the writer's buffers that
// give each string, the separators that end each string where it ended, and the cut of that
// text into lines the compiler reads back as text. The caller compiles every candidate again
// and keeps the first that reproduces the message.
#pragma once

#include <functional>
#include <string>
#include <vector>

#include "messages/message_tables.h"

namespace decompiler {

// Whether the text lines must set the dots flag themselves: the header line behind the message
// carries the "..." otherwise, but with a line alignment mode it is cut to the width, and a
// narrow width leaves no header of it.
bool dots_in_lines(const messages::IndexRecord& record, int line_mode);

// Offers `accept` the ways found of writing the text lines of message `record` whose strings
// are `strings`, when the header line behind the message has line alignment mode `line_mode`
// (0, 1 for "\c", 2 for "\e"), each a list of text lines, until it answers true. Returns
// whether it did.
bool find_lines(const messages::IndexRecord& record, const std::vector<std::string>& strings, int line_mode,
                const std::function<bool(const std::vector<std::string>&)>& accept);

}  // namespace decompiler
