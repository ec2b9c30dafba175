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
    std::string again = journal::journal_header(parsed.number);
    for (const journal::Record& r : parsed.records) again += journal::record_line(r);
    if (parsed.committed) again += journal::kCommitLine;
    if (parsed.undoing) again += journal::kUndoLine;
    journal::JournalFile reread;
    if (journal::parse_journal(again, &reread).failed() || reread.number != parsed.number ||
        reread.records.size() != parsed.records.size() || reread.committed != parsed.committed ||
        reread.undoing != parsed.undoing)
        std::abort();
    for (std::size_t i = 0; i < parsed.records.size(); ++i)
        if (reread.records[i].kind != parsed.records[i].kind || reread.records[i].path != parsed.records[i].path ||
            reread.records[i].kept != parsed.records[i].kept)
            std::abort();
    return 0;
}
