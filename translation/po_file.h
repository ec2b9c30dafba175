// PO files, the catalogs of GNU gettext that translators' editors and platforms read: the
// reader takes what those tools write (comments, contexts, continued strings, escapes,
// obsolete entries, CRLF line ends) and says where a file breaks the grammar; the writer
// gives the form msgfmt and msgcat accept.
#pragma once

#include <string>
#include <string_view>
#include <vector>

#include "base/diagnostic.h"

namespace translation {

struct PoEntry {
    std::vector<std::string> extracted;  // the "#." comments, each without the mark and one blank
    bool fuzzy = false;
    bool has_context = false;
    std::string context;  // msgctxt
    std::string id;       // msgid
    std::string str;      // msgstr, or msgstr[0] of an entry with plural forms
    bool plural = false;
    long line = 0;        // the line of the entry's first keyword
    long str_line = 0;    // the line of its msgstr
};

// The entries of a PO file, the header entry (empty msgid, no context) among them; obsolete
// entries ("#~") are left out. Each problem is added to `problems` as an error with its line,
// and the entry it concerns is dropped.
std::vector<PoEntry> read_po(std::string_view text, std::vector<diag::Diagnostic>& problems);

// `keyword "value"` with the value's escapes, and a line feed. A value holding line feeds is
// written as `keyword ""` and one line per piece, each piece ending with its "\n".
std::string po_string(std::string_view keyword, std::string_view value);

// The value of `field` ("Content-Type", ...) in a header entry's msgstr; empty when absent.
std::string header_field(std::string_view header, std::string_view field);

}  // namespace translation
