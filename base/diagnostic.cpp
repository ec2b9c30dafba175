// Diagnostics in the form compilers and msgfmt print them.
#include "base/diagnostic.h"

#include <algorithm>

namespace diag {

std::string format(const Diagnostic& d) {
    std::string where = d.file + (d.line > 0 ? ":" + std::to_string(d.line) : std::string());
    const char* grade = d.severity == Severity::Error     ? ": error: "
                        : d.severity == Severity::Warning ? ": warning: "
                                                          : ": note: ";
    return where + grade + d.text;
}

bool any_error(const std::vector<Diagnostic>& diagnostics) {
    return std::any_of(diagnostics.begin(), diagnostics.end(),
                       [](const Diagnostic& d) { return d.severity == Severity::Error; });
}

}  // namespace diag
