// Reading and writing the journal's lines.
#include "journal/journal_file.h"

#include <algorithm>
#include <cctype>
#include <charconv>

namespace journal {

namespace {

constexpr std::string_view kMagic = "dravo journal 1";

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

// An absolute path in drive form ("c:\..."), as the install writes every path.
bool usable_path(std::string_view p) {
    return p.size() > 3 && std::isalpha(static_cast<unsigned char>(p[0])) && p[1] == ':' && p[2] == '\\' &&
           p.find('\0') == std::string_view::npos && p.find('\n') == std::string_view::npos;
}

// The install keeps a file only beside itself, as "<name>~undo<install>" or, when that name is
// taken, "<name>~undo<install>.<n>": a journal that says otherwise is not one of ours.
bool kept_name_of(std::string_view path, std::string_view kept, int number) {
    std::string base = std::string(path) + "~undo" + std::to_string(number);
    if (kept.size() < base.size() || kept.compare(0, base.size(), base) != 0) return false;
    std::string_view rest = kept.substr(base.size());
    if (rest.empty()) return true;
    return rest.size() >= 2 && rest.size() <= 7 && rest[0] == '.' &&
           std::all_of(rest.begin() + 1, rest.end(), [](char c) { return std::isdigit(static_cast<unsigned char>(c)); });
}

bool parse_record(std::string_view line, JournalFile* out) {
    if (line == "commit") return !out->committed && (out->committed = true);
    if (line == "undo") return out->committed && !out->undoing && (out->undoing = true);
    if (out->committed) return false;  // nothing is changed after the commit but the undo
    std::vector<std::string_view> f = fields_of(line);
    if (f[0] == "keep" && f.size() == 3 && usable_path(f[1]) && kept_name_of(f[1], f[2], out->number)) {
        out->records.push_back({Record::Kind::Keep, std::string(f[1]), std::string(f[2])});
        return true;
    }
    if (f[0] == "wrote" && f.size() == 3 && usable_path(f[1]) && f[2].size() == 64 &&
        std::all_of(f[2].begin(), f[2].end(), [](char c) { return std::isdigit(static_cast<unsigned char>(c)) || (c >= 'a' && c <= 'f'); })) {
        out->records.push_back({Record::Kind::Wrote, std::string(f[1]), std::string(f[2])});
        return true;
    }
    if (f[0] == "create" && f.size() == 2 && usable_path(f[1])) {
        out->records.push_back({Record::Kind::Create, std::string(f[1]), {}});
        return true;
    }
    return false;
}

}  // namespace

Result parse_journal(std::string_view text, JournalFile* out) {
    *out = JournalFile{};
    std::vector<std::string_view> lines;
    for (std::size_t start = 0, nl; (nl = text.find('\n', start)) != std::string_view::npos; start = nl + 1)
        lines.push_back(text.substr(start, nl - start));  // a last line without '\n' was cut short
    if (lines.size() < 2 || lines[0] != kMagic || lines[1].substr(0, 8) != "install " ||
        !parse_number(lines[1].substr(8), &out->number))
        return Result::failed("it is not an install journal");
    for (std::size_t i = 2; i < lines.size(); ++i)
        if (!parse_record(lines[i], out)) return Result::failed("line " + std::to_string(i + 1) + " is damaged");
    return Result::applied();
}

std::string journal_header(int number) {
    return std::string(kMagic) + "\ninstall " + std::to_string(number) + "\n";
}

std::string record_line(const Record& record) {
    if (record.kind == Record::Kind::Keep) return "keep\t" + record.path + "\t" + record.kept + "\n";
    if (record.kind == Record::Kind::Wrote) return "wrote\t" + record.path + "\t" + record.kept + "\n";
    return "create\t" + record.path + "\n";
}

}  // namespace journal
