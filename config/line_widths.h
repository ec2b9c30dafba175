// How much of a line the readers of Dravo.ini and patch.ini take at a time. A longer line is
// not refused: it comes in pieces of this length, and each piece is taken as a line of its
// own. Whatever writes or checks those files has to count with the same widths.
#pragma once

#include <cstddef>

namespace config {

// Section names, the [dircd] and [dirhd] directories, and the lines of the work list.
constexpr std::size_t kLineChars = 98;
// The lines of a [path] section.
constexpr std::size_t kPathLineChars = 79;

}  // namespace config
