// A translated PO file back into a message source: the messages of the tables it was exported
// from, in their order, each with its translation where the PO has one (untranslated and fuzzy
// entries keep the original text) and its header as the PO's comments record it. Every problem
// is reported with the PO file's line; with any error there is no source.
#pragma once

#include <string>
#include <string_view>
#include <vector>

#include "decompiler/message_source.h"
#include "translation/po_file.h"

namespace translation {

struct ImportOptions {
    int code_page = 0;  // of the translations; 0: Windows-1252, and Windows-1251 in a "#RUS" section
};

struct ImportResult {
    std::string source;                    // the message source; empty when an error was found
    std::vector<diag::Diagnostic> diagnostics;  // in the order of the PO file's lines; texts in UTF-8
    int translated = 0;                    // messages that took their translation
    int kept = 0;                          // messages that kept their original text
    bool failed() const;
};

// `tables` is the decompiled message table the PO was exported from (or a newer one).
ImportResult import_po(const decompiler::DecompiledMessages& tables, std::string_view po, const ImportOptions& options);

}  // namespace translation
