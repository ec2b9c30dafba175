// A problem found in a file, for a person to read: where it is (the file, and the line when
// there is one), how grave, and what. The patch checker and the PO import report this way.
#pragma once

#include <string>
#include <vector>

namespace diag {

// An error is what makes the result unusable; a warning changes nothing about the outcome but
// is likely a mistake; a note only says what will happen.
enum class Severity { Warning, Error, Note };

struct Diagnostic {
    std::string file;  // empty when the caller names the file itself (the PO file it read)
    long line = 0;     // from 1; 0 when the problem concerns the file as a whole
    Severity severity = Severity::Error;
    std::string text;
};

// "FILE:7: error: TEXT" (or warning, note); "FILE: error: TEXT" when the line is 0.
std::string format(const Diagnostic& d);
bool any_error(const std::vector<Diagnostic>& diagnostics);

}  // namespace diag
