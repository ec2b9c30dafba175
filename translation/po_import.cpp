// The import. Each PO entry is matched to a message of the tables by its context; what it
// brings (a header from its comments, a translated text) replaces what the tables give, after
// checks that the compiler will read it as meant. The source made is compiled once in memory,
// and what the compiler warns of is reported at the PO line of the message it concerns.
#include "translation/po_import.h"

#include <algorithm>
#include <cctype>
#include <cstring>
#include <map>

#include "base/text.h"
#include "messages/message_compiler.h"
#include "messages/message_header.h"
#include "messages/source_line.h"
#include "translation/code_page_text.h"
#include "translation/po_export.h"

namespace translation {

namespace {

// A source line is read in pieces of 249 characters, its line feed among them.
constexpr std::size_t kMaxLineBytes = messages::kLinePieceChars - 1;

using text::is_blank;

using text::starts_with_ignoring_case;
std::string stripped(std::string_view s) { return text::trimmed(s); }

// Whether the compiler aligns a line: the character behind its last backslash is 'c' or 'e'.
bool aligns(std::string_view line) {
    std::size_t b = line.rfind('\\');
    return b != std::string_view::npos && b + 1 < line.size() && (line[b + 1] == 'c' || line[b + 1] == 'e');
}

// Whether a line may begin a text line of a message: the compiler reads a line that begins
// with '#' as a header, and "..." and "@points" as flags.
bool fine_start(std::string_view line) {
    std::string s = stripped(line);
    return s.empty() || (s[0] != '#' && !starts_with_ignoring_case(s, "...") &&
                         !starts_with_ignoring_case(s, "@points"));
}

// What the compiler takes `line` for, with `record` the message it belongs to (its width
// aligns a line that ends in "\c" or "\e"); `record` is left as it was.
messages::LineKind compiler_reads(const std::string& line, const messages::IndexRecord& record,
                                  messages::TreatedLine& out) {
    messages::IndexRecord scratch = record;
    int language = record.language;
    std::string piece = line + "\n";
    messages::treat_line(piece.c_str(), scratch, language, out);
    return out.kind;
}

// Cuts a line of a normal message that is too long for one source line at single spaces:
// the compiler ends each line with one space, so the text it collects is the same.
bool cut_line(const std::string& line, std::vector<std::string>& out) {
    std::string rest = line;
    while (rest.size() > kMaxLineBytes) {
        std::size_t cut = std::string::npos;
        for (std::size_t p = std::min(kMaxLineBytes, rest.size() - 2); p > 0; --p) {
            if (rest[p] != ' ' || is_blank(rest[p - 1]) || is_blank(rest[p + 1])) continue;
            if (!fine_start(std::string_view(rest).substr(p + 1)) || aligns(std::string_view(rest).substr(0, p)))
                continue;
            cut = p;
            break;
        }
        if (cut == std::string::npos) return false;
        out.push_back(rest.substr(0, cut));
        rest.erase(0, cut + 1);
    }
    out.push_back(rest);
    return true;
}

// Which PO entry each message of the tables takes, and what it changed.
struct Match {
    const PoEntry* entry = nullptr;
    bool changed = false;
};

class Importer {
public:
    Importer(const decompiler::DecompiledMessages& tables, const ImportOptions& options)
        : options_(options), messages_(tables.messages) {}
    ImportResult run(std::string_view po);

private:
    void error(long line, const std::string& text) {
        result_.diagnostics.push_back({{}, line, diag::Severity::Error, text});
    }
    void warning(long line, const std::string& text) {
        result_.diagnostics.push_back({{}, line, diag::Severity::Warning, text});
    }
    void check_charset(const PoEntry& header);
    void match_entries(const std::vector<PoEntry>& entries);
    bool apply_comments(const PoEntry& e, decompiler::SourceMessage& m);
    bool apply_header(const PoEntry& e, const std::string& text, decompiler::SourceMessage& m);
    void apply_translation(const PoEntry& e, decompiler::SourceMessage& m);
    bool translation_lines(const PoEntry& e, const decompiler::SourceMessage& m, const std::string& bytes,
                           std::vector<std::string>& lines);
    void warn_of_older_text(const PoEntry& e, const decompiler::SourceMessage& original);
    void compile_and_report();
    void warn_of_lost_points(const messages::MemoryTables& tables);
    const CodePageText* page_for(const decompiler::SourceMessage& m, long line);
    std::string who(const decompiler::SourceMessage& m) const { return "message " + std::to_string(m.record.number); }
    // A piece of a message's text, in the message's code page, as the diagnostics give it: in
    // UTF-8, like every other text of them (the PO's own encoding).
    std::string in_utf8(const decompiler::SourceMessage& m, const std::string& bytes) {
        const CodePageText* page = pages_.get(code_page_for(options_.code_page, m.record.language));
        return page ? page->to_utf8(bytes) : bytes;
    }

    const ImportOptions& options_;
    std::vector<decompiler::SourceMessage> messages_;
    std::vector<Match> matches_;
    CodePages pages_;
    ImportResult result_;
};

const CodePageText* Importer::page_for(const decompiler::SourceMessage& m, long line) {
    int number = code_page_for(options_.code_page, m.record.language);
    const CodePageText* page = pages_.get(number);
    if (!page) error(line, "the system does not know code page " + std::to_string(number));
    return page;
}

void Importer::check_charset(const PoEntry& header) {
    std::string type = header_field(header.str, "Content-Type");
    std::size_t at = type.find("charset=");
    if (at == std::string::npos) return;
    std::string charset = stripped(type.substr(at + 8));
    std::string lower = text::lowered(charset);
    if (lower == "utf-8" || lower == "utf8" || lower == "charset" || lower.empty()) return;
    error(header.line, "the file is in " + charset +
                           "; the import reads UTF-8 (msgconv --to-code=UTF-8 FILE.po converts it)");
}

// "NUMBER" or "NUMBER#K": the context the export gives a message.
bool well_formed_context(const std::string& c) {
    std::size_t hash = c.find('#');
    auto digits = [](std::string_view s) {
        return !s.empty() && s.size() <= 5 && std::all_of(s.begin(), s.end(), [](char ch) { return ch >= '0' && ch <= '9'; });
    };
    if (hash == std::string::npos) return digits(c);
    return digits(std::string_view(c).substr(0, hash)) && digits(std::string_view(c).substr(hash + 1));
}

void Importer::match_entries(const std::vector<PoEntry>& entries) {
    std::vector<std::string> contexts = message_contexts(messages_);
    std::map<std::string, std::size_t> by_context;
    for (std::size_t i = 0; i < contexts.size(); ++i) by_context.emplace(contexts[i], i);
    matches_.assign(messages_.size(), Match{});
    for (const PoEntry& e : entries) {
        if (!e.has_context) {
            if (e.id.empty()) {
                check_charset(e);
            } else {
                error(e.line, "an entry without msgctxt: the import finds each message by the number in its msgctxt");
            }
            continue;
        }
        if (e.plural) {
            error(e.line, "an entry with plural forms: the game's messages have none");
            continue;
        }
        auto it = by_context.find(e.context);
        if (it == by_context.end()) {
            if (!well_formed_context(e.context))
                error(e.line, "unknown context \"" + e.context +
                                  "\": a message's context is its number, or NUMBER#K for an earlier definition");
            else
                error(e.line, "message " + e.context + " is not in the message tables");
            continue;
        }
        Match& m = matches_[it->second];
        if (m.entry) {
            error(e.line, "a second entry for message " + e.context + " (the first is at line " +
                              std::to_string(m.entry->line) + ")");
            continue;
        }
        m.entry = &e;
    }
}

bool Importer::apply_header(const PoEntry& e, const std::string& text, decompiler::SourceMessage& m) {
    const CodePageText* page = page_for(m, e.line);
    if (!page) return false;
    std::string bytes;
    if (Result r = page->from_utf8(text, &bytes); r.failed()) {
        error(e.line, who(m) + ": the header: " + r.problem);
        return false;
    }
    std::string header = stripped(bytes);
    if (header == decompiler::header_line(m.record)) return true;
    // A backslash and 'c' or 'e' would have the compiler align the line to a width.
    if (aligns(header)) header += " \\";
    if (header.size() > kMaxLineBytes) {
        error(e.line, who(m) + ": the header line is longer than " + std::to_string(kMaxLineBytes) + " bytes");
        return false;
    }
    messages::IndexRecord r{};
    r.language = m.record.language;
    messages::TreatedLine treated;
    if (compiler_reads(header, r, treated) != messages::LineKind::Header) {
        error(e.line, who(m) + ": the header comment must hold a header line (\"#\" or \"##\" and the numbers)");
        return false;
    }
    messages::read_header(treated.stripped, r, messages::HeaderRules::Compiler);
    if (r.number != m.record.number) {
        error(e.line, who(m) + ": the header comment gives number " + std::to_string(r.number) +
                          "; the number of a message is its msgctxt");
        return false;
    }
    r.dots = m.record.dots;
    r.first_string = m.record.first_string;
    r.string_count = m.record.string_count;
    m.record = r;
    m.header = header;
    return true;
}

// The header, the line that closes the message, its section and its flags, as the comments
// the export wrote record them. An entry without them keeps the tables' header.
bool Importer::apply_comments(const PoEntry& e, decompiler::SourceMessage& m) {
    const std::string* header = nullptr;
    int line_mode = 0, language = 1;
    bool dots = false;
    for (const std::string& c : e.extracted) {
        std::string_view v(c);
        if (v.substr(0, std::strlen(kHeaderLabel)) == kHeaderLabel) {
            header = &c;
        } else if (v.substr(0, std::strlen(kClosingLabel)) == kClosingLabel) {
            std::string closing = stripped(v.substr(std::strlen(kClosingLabel)));
            if (closing == "#0 \\c") line_mode = 1;
            else if (closing == "#0 \\e") line_mode = 2;
            else {
                error(e.line, who(m) + ": \"" + closing + "\" is not a closing line; it is \"#0 \\c\" or \"#0 \\e\"");
                return false;
            }
        } else if (v.substr(0, std::strlen(kSectionLabel)) == kSectionLabel) {
            std::string section = stripped(v.substr(std::strlen(kSectionLabel)));
            if (starts_with_ignoring_case(section, "#rus")) language = 0;
        } else if (v.substr(0, std::strlen(kFlagsLabel)) == kFlagsLabel) {
            dots = v.find("dots") != std::string_view::npos;
        }
    }
    if (!header) return true;
    decompiler::SourceMessage before = m;
    m.record.language = static_cast<std::uint8_t>(language);
    m.record.dots = dots ? 1 : 0;
    m.line_mode = line_mode;
    if (!apply_header(e, header->substr(std::strlen(kHeaderLabel)), m)) return false;
    matches_[static_cast<std::size_t>(&m - messages_.data())].changed =
        !m.header.empty() || m.record.language != before.record.language || m.record.dots != before.record.dots ||
        m.line_mode != before.line_mode;
    return true;
}

bool Importer::translation_lines(const PoEntry& e, const decompiler::SourceMessage& m, const std::string& bytes,
                                 std::vector<std::string>& lines) {
    std::vector<std::string> pieces;
    for (std::size_t at = 0; at <= bytes.size();) {
        std::size_t end = bytes.find('\n', at);
        if (end == std::string::npos) end = bytes.size();
        pieces.push_back(bytes.substr(at, end - at));
        at = end + 1;
    }
    if (!pieces.empty() && pieces.back().empty()) pieces.pop_back();  // a text that ends in "\n"
    bool fine = true;
    for (const std::string& piece : pieces) {
        if (piece.find("//") != std::string::npos)
            warning(e.str_line, who(m) + ": the text from \"//\" on is a comment to the compiler and is dropped");
        std::vector<std::string> cut;
        if (piece.size() <= kMaxLineBytes) {
            cut.push_back(piece);
        } else if (m.record.raw) {
            error(e.str_line, who(m) + ": a line of " + std::to_string(piece.size()) +
                                  " bytes; a raw message keeps each line as written, and a line holds at most " +
                                  std::to_string(kMaxLineBytes) + ": break it in the translation");
            fine = false;
            continue;
        } else if (!cut_line(piece, cut)) {
            error(e.str_line, who(m) + ": a line of " + std::to_string(piece.size()) + " bytes with no single space " +
                                  "to cut it at; a line holds at most " + std::to_string(kMaxLineBytes));
            fine = false;
            continue;
        }
        for (const std::string& line : cut) {
            messages::TreatedLine treated;
            messages::LineKind kind = compiler_reads(line, m.record, treated);
            if (kind == messages::LineKind::Header || kind == messages::LineKind::Section) {
                error(e.str_line, who(m) + ": the compiler reads a line of the translation as a " +
                                      (kind == messages::LineKind::Header ? "header" : "section") +
                                      " line, as it begins with '#': \"" + in_utf8(m, line.substr(0, 40)) + "\"");
                fine = false;
            } else {
                lines.push_back(line);
            }
        }
    }
    return fine;
}

void Importer::warn_of_older_text(const PoEntry& e, const decompiler::SourceMessage& original) {
    std::string text;
    for (std::size_t i = 0; i < original.lines.size(); ++i) text += (i ? "\n" : "") + original.lines[i];
    for (int chosen : {options_.code_page, 0}) {
        const CodePageText* page = pages_.get(code_page_for(chosen, original.record.language));
        if (page && page->to_utf8(text) == e.id) return;
    }
    warning(e.line, who(original) + ": the msgid is not the text of the tables; the translation may be of an older "
                                    "text (msgmerge with a new export marks such entries fuzzy)");
}

void Importer::apply_translation(const PoEntry& e, decompiler::SourceMessage& m) {
    if (e.fuzzy || e.str.empty()) {
        ++result_.kept;
        return;
    }
    const CodePageText* page = page_for(m, e.str_line);
    if (!page) return;
    std::string bytes;
    if (Result r = page->from_utf8(e.str, &bytes); r.failed()) {
        error(e.str_line, who(m) + ": " + r.problem);
        return;
    }
    std::vector<std::string> lines;
    if (!translation_lines(e, m, bytes, lines)) return;
    warn_of_older_text(e, m);
    m.lines = std::move(lines);
    matches_[static_cast<std::size_t>(&m - messages_.data())].changed = true;
    ++result_.translated;
}

// Collects the compiler's warnings by source line.
class Warnings final : public messages::CompileObserver {
public:
    void long_message(int number, int string_count, long line) override {
        found.push_back({line, "the text makes " + std::to_string(string_count) + " strings, more than message " +
                                   std::to_string(number) + "'s pages hold"});
    }
    void warning(long line, const std::string& text) override { found.push_back({line, text}); }
    std::vector<std::pair<long, std::string>> found;
};

void Importer::compile_and_report() {
    std::vector<long> header_lines;
    result_.source = decompiler::source_text(messages_, &header_lines, "dravo msg import");
    Warnings warnings;
    messages::MemoryTables tables = messages::compile_in_memory(result_.source, &warnings);
    warn_of_lost_points(tables);
    for (const auto& [line, text] : warnings.found) {
        // The message whose header is the last at or before the line: the compiler warns of a
        // message at its header or at its text lines.
        auto at = std::upper_bound(header_lines.begin(), header_lines.end(), line);
        if (at == header_lines.begin()) continue;
        std::size_t i = static_cast<std::size_t>(at - header_lines.begin()) - 1;
        const Match& match = matches_[i];
        if (!match.entry || !match.changed) continue;  // the tables' own text, as it was
        // A number defined twice is the tables' own, kept on purpose so that no string is lost.
        if (text.find(" is defined again ") != std::string::npos) continue;
        const decompiler::SourceMessage& m = messages_[i];
        const PoEntry& e = *match.entry;
        warning(e.str_line ? e.str_line : e.line, who(m) + ": " + in_utf8(m, text));
    }
}

// A message keeps its points flag only while a line of its text begins with "@points": a
// translation without that line would lose it without a word.
void Importer::warn_of_lost_points(const messages::MemoryTables& tables) {
    for (std::size_t i = 0; i < messages_.size(); ++i) {
        const decompiler::SourceMessage& m = messages_[i];
        if (!matches_[i].changed || m.earlier_definition || !m.record.has_points) continue;
        std::span<const std::uint8_t> bytes = messages::index_bytes(tables.dat, m.record.number);
        if (!bytes.empty() && messages::decode_index(bytes).has_points) continue;
        const PoEntry& e = *matches_[i].entry;
        warning(e.str_line ? e.str_line : e.line,
                who(m) + ": the translation has no line that begins with \"@points\", so the message loses its "
                         "points flag (the original has one)");
    }
}

ImportResult Importer::run(std::string_view po) {
    std::vector<PoEntry> entries = read_po(po, result_.diagnostics);
    match_entries(entries);
    for (std::size_t i = 0; i < messages_.size(); ++i) {
        const Match& match = matches_[i];
        if (!match.entry) {
            ++result_.kept;
            continue;
        }
        if (!apply_comments(*match.entry, messages_[i])) continue;
        apply_translation(*match.entry, messages_[i]);
    }
    if (!result_.failed()) compile_and_report();
    std::stable_sort(result_.diagnostics.begin(), result_.diagnostics.end(),
                     [](const diag::Diagnostic& a, const diag::Diagnostic& b) { return a.line < b.line; });
    if (result_.failed()) result_.source.clear();
    return std::move(result_);
}

}  // namespace

bool ImportResult::failed() const {
    return diag::any_error(diagnostics);
}

ImportResult import_po(const decompiler::DecompiledMessages& tables, std::string_view po, const ImportOptions& options) {
    return Importer(tables, options).run(po);
}

}  // namespace translation
