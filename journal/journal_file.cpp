// Reading and writing the journal's lines.
#include "journal/journal_file.h"

#include <algorithm>
#include <cctype>
#include <charconv>

namespace journal {

namespace {

constexpr std::string_view kMagicPrefix = "dravo journal ";

// Splits at tabs; a path never holds one (Windows refuses control characters in names).
std::vector<std::string_view> fields_of(std::string_view line) {
    std::vector<std::string_view> fields;
    std::size_t start = 0;
    for (std::size_t tab; (tab = line.find('\t', start)) != std::string_view::npos; start = tab + 1)
        fields.push_back(line.substr(start, tab - start));
    fields.push_back(line.substr(start));
    return fields;
}

bool parse_number(std::string_view text, int* out) {
    auto [end, ec] = std::from_chars(text.data(), text.data() + text.size(), *out);
    return ec == std::errc() && end == text.data() + text.size() && *out > 0;
}

// A size as the change writes it: decimal digits, no sign, no leading zero but for "0".
bool parse_size(std::string_view text, std::int64_t* out) {
    if (text.empty() || text.size() > 18 || (text.size() > 1 && text[0] == '0')) return false;
    auto [end, ec] = std::from_chars(text.data(), text.data() + text.size(), *out);
    return ec == std::errc() && end == text.data() + text.size() && *out >= 0;
}

bool is_digest(std::string_view text) {
    return text.size() == 64 && std::all_of(text.begin(), text.end(), [](char c) {
               return std::isdigit(static_cast<unsigned char>(c)) || (c >= 'a' && c <= 'f');
           });
}

// An absolute path in drive form ("c:\..."), as the change writes every path.
bool usable_path(std::string_view p) {
    return p.size() > 3 && std::isalpha(static_cast<unsigned char>(p[0])) && p[1] == ':' && p[2] == '\\' &&
           p.find('\0') == std::string_view::npos && p.find('\n') == std::string_view::npos;
}

// A change keeps a file only beside itself, as "<name>~undo<install>" or, when that name is
// taken, "<name>~undo<install>.<n>": a journal that says otherwise is not one of ours.
bool kept_name_of(std::string_view path, std::string_view kept, int number) {
    std::string base = std::string(path) + "~undo" + std::to_string(number);
    if (kept.size() < base.size() || kept.compare(0, base.size(), base) != 0) return false;
    std::string_view rest = kept.substr(base.size());
    if (rest.empty()) return true;
    return rest.size() >= 2 && rest.size() <= 7 && rest[0] == '.' &&
           std::all_of(rest.begin() + 1, rest.end(), [](char c) { return std::isdigit(static_cast<unsigned char>(c)); });
}

bool parse_keep(const std::vector<std::string_view>& f, JournalFile* out) {
    Record r{Record::Kind::Keep, std::string(f[1]), std::string(f[2]), {}, -1};
    if (!usable_path(f[1]) || !kept_name_of(f[1], f[2], out->number)) return false;
    if (out->version >= 2 && !(f.size() == 5 && parse_size(f[3], &r.size) && is_digest(f[4]))) return false;
    if (out->version >= 2) r.digest = std::string(f[4]);
    out->records.push_back(std::move(r));
    return true;
}

bool parse_wrote(const std::vector<std::string_view>& f, JournalFile* out) {
    Record r{Record::Kind::Wrote, std::string(f[1]), {}, std::string(f[2]), -1};
    if (!usable_path(f[1]) || !is_digest(f[2])) return false;
    if (out->version >= 2 && !(f.size() == 4 && parse_size(f[3], &r.size))) return false;
    out->records.push_back(std::move(r));
    return true;
}

// The lines of version 2 that are not changes of files: the patch before any change, the
// uninstall entry after the commit.
bool parse_note(const std::vector<std::string_view>& f, JournalFile* out) {
    if (out->version < 2 || f.size() != 2) return false;
    if (f[0] == "patch" && out->patch.empty() && out->records.empty() && !out->committed && is_digest(f[1])) {
        out->patch = std::string(f[1]);
        return true;
    }
    if (f[0] == "entry" && out->entry.empty() && out->committed && !out->undoing && !f[1].empty() &&
        f[1].size() <= 200 && std::all_of(f[1].begin(), f[1].end(), [](char c) {
            return std::isalnum(static_cast<unsigned char>(c)) || c == '-' || c == '_' || c == '.';
        })) {
        out->entry = std::string(f[1]);
        return true;
    }
    return false;
}

bool parse_record(std::string_view line, JournalFile* out) {
    if (line == "commit") return !out->committed && (out->committed = true);
    if (line == "undo") return out->committed && !out->undoing && (out->undoing = true);
    std::vector<std::string_view> f = fields_of(line);
    if (f[0] == "patch" || f[0] == "entry") return parse_note(f, out);
    if (out->committed) return false;  // nothing is changed after the commit but the undo
    std::size_t want_keep = out->version >= 2 ? 5 : 3, want_wrote = out->version >= 2 ? 4 : 3;
    if (f[0] == "keep" && f.size() == want_keep) return parse_keep(f, out);
    if (f[0] == "wrote" && f.size() == want_wrote) return parse_wrote(f, out);
    if (f[0] == "create" && f.size() == 2 && usable_path(f[1])) {
        out->records.push_back({Record::Kind::Create, std::string(f[1]), {}, {}, -1});
        return true;
    }
    return false;
}

// "dravo journal 1" or "2", then "install N" (or, from version 2, "tables").
bool parse_head(std::string_view magic, std::string_view what, JournalFile* out) {
    if (magic.substr(0, kMagicPrefix.size()) != kMagicPrefix) return false;
    std::string_view version = magic.substr(kMagicPrefix.size());
    if (version != "1" && version != "2") return false;
    out->version = version[0] - '0';
    if (out->version >= 2 && what == "tables") return out->tables = true;
    return what.substr(0, 8) == "install " && parse_number(what.substr(8), &out->number);
}

}  // namespace

Result parse_journal(std::string_view text, JournalFile* out) {
    *out = JournalFile{};
    std::vector<std::string_view> lines;
    for (std::size_t start = 0, nl; (nl = text.find('\n', start)) != std::string_view::npos; start = nl + 1)
        lines.push_back(text.substr(start, nl - start));  // a last line without '\n' was cut short
    if (lines.size() < 2 || !parse_head(lines[0], lines[1], out)) return Result::failed("it is not a journal of this kit");
    for (std::size_t i = 2; i < lines.size(); ++i)
        if (!parse_record(lines[i], out)) return Result::failed("line " + std::to_string(i + 1) + " is damaged");
    return Result::applied();
}

std::string journal_header(int number) {
    return std::string(kMagicPrefix) + std::to_string(kJournalVersion) + "\ninstall " + std::to_string(number) + "\n";
}

std::string tables_journal_header() { return std::string(kMagicPrefix) + std::to_string(kJournalVersion) + "\ntables\n"; }

std::string patch_line(const std::string& digest) { return "patch\t" + digest + "\n"; }
std::string entry_line(const std::string& key) { return "entry\t" + key + "\n"; }

namespace {

std::string record_line_of_version(const Record& r, int version) {
    bool sized = version >= 2;
    switch (r.kind) {
        case Record::Kind::Keep:
            return "keep\t" + r.path + "\t" + r.kept +
                   (sized ? "\t" + std::to_string(r.size) + "\t" + r.digest : std::string()) + "\n";
        case Record::Kind::Wrote:
            return "wrote\t" + r.path + "\t" + r.digest + (sized ? "\t" + std::to_string(r.size) : std::string()) + "\n";
        case Record::Kind::Create: break;
    }
    return "create\t" + r.path + "\n";
}

}  // namespace

std::string record_line(const Record& record) { return record_line_of_version(record, kJournalVersion); }

std::string journal_text(const JournalFile& j) {
    std::string text = std::string(kMagicPrefix) + std::to_string(j.version) + "\n" +
                       (j.tables ? std::string("tables") : "install " + std::to_string(j.number)) + "\n";
    if (!j.patch.empty()) text += patch_line(j.patch);
    for (const Record& r : j.records) text += record_line_of_version(r, j.version);
    if (j.committed) text += kCommitLine;
    if (!j.entry.empty()) text += entry_line(j.entry);
    if (j.undoing) text += kUndoLine;
    return text;
}

}  // namespace journal
