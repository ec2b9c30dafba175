#include "translation/po_export.h"

#include "translation/code_page_text.h"
#include "translation/po_file.h"

namespace translation {

namespace {

std::string file_header(const ExportOptions& o) {
    std::string h =
        "# The texts of Dravo's messages, one entry for each: msgctxt is the message's number, msgid its text as\n"
        "# the message source writes it. Keep the \"#.\" comments: dravo msg import reads the header line and\n"
        "# the rest of the message's source from them.\n";
    if (o.template_file) h += "#, fuzzy\n";
    h += "msgid \"\"\nmsgstr \"\"\n";
    h += "\"Project-Id-Version: Dravo\\n\"\n";
    h += "\"Report-Msgid-Bugs-To: \\n\"\n";
    if (o.template_file) {
        h += "\"PO-Revision-Date: YEAR-MO-DA HO:MI+ZONE\\n\"\n";
        h += "\"Last-Translator: FULL NAME <EMAIL@ADDRESS>\\n\"\n";
        h += "\"Language-Team: LANGUAGE <LL@li.org>\\n\"\n";
        h += "\"Language: \\n\"\n";
    } else {
        h += "\"PO-Revision-Date: \\n\"\n";
        h += "\"Last-Translator: \\n\"\n";
        h += "\"Language-Team: \\n\"\n";
        h += "\"Language: " + o.language + "\\n\"\n";
    }
    h += "\"MIME-Version: 1.0\\n\"\n";
    h += "\"Content-Type: text/plain; charset=UTF-8\\n\"\n";
    h += "\"Content-Transfer-Encoding: 8bit\\n\"\n";
    h += "\"X-Generator: dravo msg export\\n\"\n";
    return h;
}

std::string joined_lines(const std::vector<std::string>& lines) {
    std::string text;
    for (std::size_t i = 0; i < lines.size(); ++i) text += (i ? "\n" : "") + lines[i];
    return text;
}

}  // namespace

std::vector<std::string> message_contexts(const std::vector<decompiler::SourceMessage>& messages) {
    std::map<int, int> earlier;
    std::vector<std::string> contexts;
    for (const decompiler::SourceMessage& m : messages) {
        std::string number = std::to_string(m.record.number);
        contexts.push_back(m.earlier_definition ? number + "#" + std::to_string(++earlier[m.record.number]) : number);
    }
    return contexts;
}

Result export_po(const decompiler::DecompiledMessages& messages, const ExportOptions& options, std::string* po) {
    CodePages pages;
    std::vector<std::string> contexts = message_contexts(messages.messages);
    *po = file_header(options);
    for (std::size_t i = 0; i < messages.messages.size(); ++i) {
        const decompiler::SourceMessage& m = messages.messages[i];
        int number = code_page_for(options.code_page, m.record.language);
        const CodePageText* page = pages.get(number);
        if (!page) return Result::failed("the system does not know code page " + std::to_string(number));
        std::string e = "\n#. " + std::string(kHeaderLabel) + page->to_utf8(decompiler::header_line(m.record)) + "\n";
        if (m.line_mode != 0) e += "#. " + std::string(kClosingLabel) + (m.line_mode == 1 ? "#0 \\c" : "#0 \\e") + "\n";
        if (m.record.language == 0) e += "#. " + std::string(kSectionLabel) + "#RUS\n";
        if (m.record.dots) e += "#. " + std::string(kFlagsLabel) + "dots\n";
        auto line = options.source_lines.find({m.record.number, m.record.first_string});
        if (line != options.source_lines.end()) e += "#: message.txt:" + std::to_string(line->second) + "\n";
        e += po_string("msgctxt", contexts[i]);
        e += po_string("msgid", page->to_utf8(joined_lines(m.lines)));
        e += "msgstr \"\"\n";
        *po += e;
    }
    return Result::applied();
}

}  // namespace translation
