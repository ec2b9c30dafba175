// A message table's texts as a PO file for translators: one entry per message, its number as
// the context, its source text (as the decompiler writes it, so that it compiles back the
// same) as the msgid, and in comments that the import reads back, its header line and what
// else the source around the text records of it.
#pragma once

#include <cstdint>
#include <map>
#include <string>
#include <utility>

#include "base/result.h"
#include "decompiler/message_source.h"

namespace translation {

struct ExportOptions {
    bool template_file = false;  // a .pot: a template's header, no language
    int code_page = 0;           // 0: Windows-1252, and Windows-1251 in a "#RUS" section
    std::string language;        // the PO's Language field
    // The source line of each message's header, by (number, first string), where the source
    // that compiled to the tables is at hand.
    std::map<std::pair<int, std::uint32_t>, long> source_lines;
};

// The context of each message: its number, and for an earlier definition of a number that was
// defined again "NUMBER#K", K counting that number's earlier definitions from 1.
std::vector<std::string> message_contexts(const std::vector<decompiler::SourceMessage>& messages);

// Labels of the "#." comments the export writes and the import reads.
inline constexpr const char* kHeaderLabel = "header: ";
inline constexpr const char* kClosingLabel = "closed by: ";
inline constexpr const char* kSectionLabel = "section: ";
inline constexpr const char* kFlagsLabel = "flags: ";

// Fails only when the system does not know a code page.
Result export_po(const decompiler::DecompiledMessages& messages, const ExportOptions& options, std::string* po);

}  // namespace translation
