// The PO reader and writer. The reader is a small state machine over the file's lines: a
// comment or a keyword after a msgstr starts the next entry, and a line that begins with a
// quote continues the string of the last keyword.
#include "translation/po_file.h"

#include <cctype>

namespace translation {

namespace {

enum class Keyword { None, Context, Id, IdPlural, Str, StrPlural };

struct LineCursor {
    std::string_view text;
    std::size_t at = 0;
    long number = 0;

    bool next(std::string_view& line) {
        if (at >= text.size()) return false;
        std::size_t end = text.find('\n', at);
        if (end == std::string_view::npos) end = text.size();
        line = text.substr(at, end - at);
        if (!line.empty() && line.back() == '\r') line.remove_suffix(1);
        at = end + 1;
        ++number;
        return true;
    }
};

std::string_view trim(std::string_view s) {
    while (!s.empty() && (s.front() == ' ' || s.front() == '\t')) s.remove_prefix(1);
    while (!s.empty() && (s.back() == ' ' || s.back() == '\t')) s.remove_suffix(1);
    return s;
}

int hex_value(char c) {
    if (c >= '0' && c <= '9') return c - '0';
    if (c >= 'a' && c <= 'f') return c - 'a' + 10;
    if (c >= 'A' && c <= 'F') return c - 'A' + 10;
    return -1;
}

// The value of a quoted string that makes up all of `s` (blanks around it allowed), escapes
// resolved. False with the problem in words.
bool unquote(std::string_view s, std::string& out, std::string& problem) {
    s = trim(s);
    if (s.size() < 2 || s.front() != '"' || s.back() != '"') {
        problem = "a string must stand in double quotes";
        return false;
    }
    s = s.substr(1, s.size() - 2);
    for (std::size_t i = 0; i < s.size(); ++i) {
        char c = s[i];
        if (c == '"') {
            problem = "a quote inside a string must be written \\\"";
            return false;
        }
        if (c != '\\') {
            out += c;
            continue;
        }
        if (++i == s.size()) {
            problem = "the string ends in a lone backslash";
            return false;
        }
        switch (char e = s[i]) {
            case 'n': out += '\n'; break;
            case 't': out += '\t'; break;
            case 'r': out += '\r'; break;
            case 'a': out += '\a'; break;
            case 'b': out += '\b'; break;
            case 'f': out += '\f'; break;
            case 'v': out += '\v'; break;
            case '\\': case '"': case '\'': case '?': out += e; break;
            case 'x': {
                int value = 0, digits = 0;
                while (i + 1 < s.size() && hex_value(s[i + 1]) >= 0 && digits < 2) value = value * 16 + hex_value(s[++i]), ++digits;
                if (digits == 0) {
                    problem = "\\x must be followed by hexadecimal digits";
                    return false;
                }
                out += static_cast<char>(value);
                break;
            }
            default:
                if (e >= '0' && e <= '7') {
                    int value = e - '0', digits = 1;
                    while (i + 1 < s.size() && s[i + 1] >= '0' && s[i + 1] <= '7' && digits < 3)
                        value = value * 8 + (s[++i] - '0'), ++digits;
                    out += static_cast<char>(value & 0xFF);
                    break;
                }
                problem = std::string("unknown escape \\") + e;
                return false;
        }
    }
    return true;
}

bool starts_with(std::string_view s, std::string_view prefix) { return s.substr(0, prefix.size()) == prefix; }

// The keyword a line begins with, and the rest of the line behind it.
Keyword keyword_of(std::string_view line, std::string_view& rest) {
    struct Word {
        std::string_view text;
        Keyword keyword;
    };
    static const Word kWords[] = {{"msgctxt", Keyword::Context}, {"msgid_plural", Keyword::IdPlural},
                                  {"msgid", Keyword::Id}, {"msgstr[", Keyword::StrPlural}, {"msgstr", Keyword::Str}};
    for (const Word& w : kWords) {
        if (!starts_with(line, w.text)) continue;
        rest = line.substr(w.text.size());
        if (w.keyword == Keyword::StrPlural) {
            std::size_t close = rest.find(']');
            if (close == std::string_view::npos) return Keyword::None;
            rest = rest.substr(close + 1);
        }
        if (!rest.empty() && rest.front() != ' ' && rest.front() != '\t' && rest.front() != '"') return Keyword::None;
        return w.keyword;
    }
    return Keyword::None;
}

class Reader {
public:
    Reader(std::vector<diag::Diagnostic>& problems) : problems_(problems) {}
    std::vector<PoEntry> read(std::string_view text);

private:
    void comment(std::string_view line);
    void keyword(Keyword k, std::string_view rest);
    void continuation(std::string_view line);
    void end_entry();
    void problem(long line, const std::string& text) { problems_.push_back({{}, line, diag::Severity::Error, text}); }
    void fail(const std::string& text) {
        problem(cursor_.number, text);
        broken_ = true;
    }
    std::string* target_of(Keyword k);

    std::vector<diag::Diagnostic>& problems_;
    LineCursor cursor_;
    std::vector<PoEntry> entries_;
    PoEntry entry_;
    Keyword last_ = Keyword::None;
    bool started_ = false;  // the entry has a comment or a keyword
    bool has_id_ = false, has_str_ = false;
    bool broken_ = false;
    int plural_index_ = 0;
};

std::string* Reader::target_of(Keyword k) {
    switch (k) {
        case Keyword::Context: return &entry_.context;
        case Keyword::Id: return &entry_.id;
        case Keyword::Str: return &entry_.str;
        case Keyword::StrPlural: return plural_index_ == 0 ? &entry_.str : nullptr;
        default: return nullptr;  // msgid_plural and further plural forms are read and dropped
    }
}

void Reader::end_entry() {
    if (started_ && !broken_) {
        if (!has_id_)
            problem(entry_.line ? entry_.line : cursor_.number, "the entry has no msgid");
        else if (!has_str_)
            problem(entry_.line, "the entry has no msgstr");
        else
            entries_.push_back(std::move(entry_));
    }
    entry_ = PoEntry{};
    last_ = Keyword::None;
    started_ = has_id_ = has_str_ = broken_ = false;
}

void Reader::comment(std::string_view line) {
    if (has_str_) end_entry();
    started_ = true;
    if (starts_with(line, "#.")) {
        std::string_view rest = line.substr(2);
        if (!rest.empty() && rest.front() == ' ') rest.remove_prefix(1);
        entry_.extracted.emplace_back(rest);
    } else if (starts_with(line, "#,")) {
        std::string_view flags = line.substr(2);
        for (std::size_t at = 0; at <= flags.size();) {
            std::size_t comma = flags.find(',', at);
            if (comma == std::string_view::npos) comma = flags.size();
            if (trim(flags.substr(at, comma - at)) == "fuzzy") entry_.fuzzy = true;
            at = comma + 1;
        }
    }
}

void Reader::keyword(Keyword k, std::string_view rest) {
    bool starts_entry = k == Keyword::Context || (k == Keyword::Id && last_ != Keyword::Context);
    if (starts_entry && (has_str_ || has_id_ || broken_)) end_entry();
    if (entry_.line == 0) entry_.line = cursor_.number;
    started_ = true;
    Keyword before = last_;
    last_ = k;
    if (broken_) return;
    switch (k) {
        case Keyword::Context:
            entry_.has_context = true;
            break;
        case Keyword::Id:
            if (has_id_) return fail("a second msgid in one entry");
            has_id_ = true;
            break;
        case Keyword::IdPlural:
            if (!has_id_) return fail("msgid_plural without msgid");
            entry_.plural = true;
            break;
        case Keyword::Str:
        case Keyword::StrPlural:
            if (!has_id_) return fail("msgstr without msgid");
            if (k == Keyword::Str && has_str_) return fail("a second msgstr in one entry");
            if (k == Keyword::StrPlural && before != Keyword::Str && before != Keyword::StrPlural && !entry_.plural)
                return fail("msgstr[N] in an entry without msgid_plural");
            plural_index_ = has_str_ ? plural_index_ + 1 : 0;
            if (!has_str_) entry_.str_line = cursor_.number;
            has_str_ = true;
            break;
        case Keyword::None: break;
    }
    std::string value, problem;
    if (!unquote(rest, value, problem)) return fail(problem);
    if (std::string* target = target_of(k)) *target += value;
}

void Reader::continuation(std::string_view line) {
    if (broken_) return;
    if (last_ == Keyword::None) return fail("a string that follows no keyword");
    std::string value, problem;
    if (!unquote(line, value, problem)) return fail(problem);
    if (std::string* target = target_of(last_)) *target += value;
}

std::vector<PoEntry> Reader::read(std::string_view text) {
    if (starts_with(text, "\xEF\xBB\xBF")) text.remove_prefix(3);  // a byte order mark some editors write
    cursor_.text = text;
    std::string_view raw;
    while (cursor_.next(raw)) {
        std::string_view line = trim(raw);
        if (line.empty()) {
            if (has_str_) end_entry();
            continue;
        }
        if (starts_with(line, "#~")) {  // an obsolete entry: kept by the tools, not translated
            if (has_str_) end_entry();
            continue;
        }
        if (line.front() == '#') {
            comment(line);
            continue;
        }
        if (line.front() == '"') {
            continuation(line);
            continue;
        }
        std::string_view rest;
        Keyword k = keyword_of(line, rest);
        if (k == Keyword::None) {
            if (has_str_) end_entry();
            started_ = true;
            fail("not a PO line: expected a comment, msgctxt, msgid, msgstr or a quoted string");
            continue;
        }
        keyword(k, rest);
    }
    end_entry();
    return std::move(entries_);
}

void append_escaped(std::string& out, std::string_view value) {
    static const char kOctal[] = "01234567";
    for (char c : value) {
        unsigned char u = static_cast<unsigned char>(c);
        switch (c) {
            case '\\': out += "\\\\"; break;
            case '"': out += "\\\""; break;
            case '\n': out += "\\n"; break;
            case '\t': out += "\\t"; break;
            case '\r': out += "\\r"; break;
            default:
                if (u < 0x20 || u == 0x7F) {
                    out += '\\';
                    out += kOctal[u >> 6];
                    out += kOctal[(u >> 3) & 7];
                    out += kOctal[u & 7];
                } else {
                    out += c;
                }
        }
    }
}

}  // namespace

std::vector<PoEntry> read_po(std::string_view text, std::vector<diag::Diagnostic>& problems) {
    return Reader(problems).read(text);
}

std::string po_string(std::string_view keyword, std::string_view value) {
    std::string out(keyword);
    std::size_t feed = value.find('\n');
    if (feed == std::string_view::npos || feed + 1 == value.size()) {
        out += " \"";
        append_escaped(out, value);
        return out + "\"\n";
    }
    out += " \"\"\n";
    for (std::size_t at = 0; at < value.size();) {
        std::size_t end = value.find('\n', at);
        end = end == std::string_view::npos ? value.size() : end + 1;
        out += '"';
        append_escaped(out, value.substr(at, end - at));
        out += "\"\n";
        at = end;
    }
    return out;
}

std::string header_field(std::string_view header, std::string_view field) {
    for (std::size_t at = 0; at < header.size();) {
        std::size_t end = header.find('\n', at);
        if (end == std::string_view::npos) end = header.size();
        std::string_view line = header.substr(at, end - at);
        if (line.size() > field.size() && line[field.size()] == ':') {
            bool same = true;
            for (std::size_t i = 0; i < field.size() && same; ++i)
                same = std::tolower(static_cast<unsigned char>(line[i])) ==
                       std::tolower(static_cast<unsigned char>(field[i]));
            if (same) return std::string(trim(line.substr(field.size() + 1)));
        }
        at = end + 1;
    }
    return "";
}

}  // namespace translation
