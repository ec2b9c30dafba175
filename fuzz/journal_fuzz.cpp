// The install journal's reader: any bytes as a journal. What it accepts must survive being
// written out again line by line and read back unchanged.
#include <cstdint>
#include <cstdlib>
#include <string>
#include <string_view>

#include "journal/journal_file.h"

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    std::string_view text(reinterpret_cast<const char*>(data), size);
    journal::JournalFile parsed;
    if (Result r = journal::parse_journal(text, &parsed); r.failed()) {
        if (r.problem.empty()) std::abort();  // a refusal always says why
        return 0;
    }
    std::string again = journal::journal_text(parsed);
    journal::JournalFile reread;
    if (journal::parse_journal(again, &reread).failed() || journal::journal_text(reread) != again ||
        reread.records.size() != parsed.records.size())
        std::abort();
    return 0;
}
