// The decompiler. Every message is written in the order of its strings, so that compiling the
// source appends the strings to message.str in the order they had. For each message a few
// ways of writing its text are tried, and the first that compiles back to the same record and
// strings is kept:
//
// - normal messages: the strings joined into one text, with a backslash where the compiler
//   would not end a string by itself, then cut into source lines at backslashes or single
//   spaces (a line never starts with '#', "..." or an unwanted "@points");
// - raw messages: one source line per line of the original, the pieces of a line that was
//   cut at the width glued together again, and lines widened to the width written with "\c";
// - a message whose strings were aligned by the header line behind it gets a "#0 \c" line.
//
// Strings that no record references (an earlier definition of a number that was defined
// again) are written as that earlier definition, with the header of the final one, when they
// come before it; otherwise they are reported and left out.
#include "messages/message_source.h"

#include <algorithm>
#include <cstring>
#include <map>

#include "messages/message_compiler.h"
#include "messages/message_text.h"

namespace messages {

namespace {

constexpr std::size_t kSourceLineChars = kLinePieceChars;  // one piece: read as written

struct Item {
    IndexRecord record;
    const std::uint8_t* record_bytes = nullptr;  // null for an earlier definition
    std::uint32_t first = 0;
    std::uint32_t count = 0;
};

bool is_blank(char c) { return c == ' ' || c == '\t' || c == '\r' || c == '\n'; }

std::string trimmed(const std::string& s) {
    std::size_t b = 0, e = s.size();
    while (b < e && is_blank(s[b])) ++b;
    while (e > b && is_blank(s[e - 1])) --e;
    return s.substr(b, e - b);
}

bool starts_with(const std::string& s, std::size_t at, const char* prefix) {
    return s.compare(at, std::strlen(prefix), prefix) == 0;
}

bool ends_with(const char* s, const char* suffix) {
    std::size_t n = std::strlen(s), m = std::strlen(suffix);
    return n >= m && std::strcmp(s + n - m, suffix) == 0;
}

// A name the compiler keeps as it is: a name cut at 30 characters gets its ending back, and
// the compiler cuts it again.
std::string name_token(const char* name, const char* suffix) {
    std::string n = name;
    if (n.size() == static_cast<std::size_t>(kNameBytes - 1) && !ends_with(name, suffix)) n += suffix;
    return n;
}

// What the compiler makes of text in a line that it treats as a plain text line.
bool fine_line_start(const std::string& line, bool dots, bool has_points) {
    std::string s = trimmed(line);
    if (s.empty() || s[0] == '#') return false;
    if (!dots && starts_with(s, 0, "...")) return false;
    if (!has_points && starts_with(s, 0, "@points")) return false;
    return true;
}

bool fine_line_body(const std::string& line) {
    if (line.size() > kSourceLineChars || line.find("//") != std::string::npos) return false;
    if (line.find_first_of("\r\n") != std::string::npos) return false;
    std::size_t b = line.rfind('\\');
    return b == std::string::npos || b + 1 >= line.size() || (line[b + 1] != 'c' && line[b + 1] != 'e');
}

std::size_t first_word_length(const std::string& s) {
    std::size_t n = 0;
    while (n < s.size() && s[n] != ' ' && s[n] != '\\') ++n;
    return n;
}

// The text of a normal message: the strings with what makes the writer end each one there.
// A string that is one word exactly as wide as the width is a piece of a longer word: the
// writer stops right behind it, so the rest of the word follows without a separator, and a
// backslash there makes the empty string that follows such a piece. Any other string ends
// at the one delimiter behind its last word: a space where the next word would not fit
// anyway (when `natural`), a backslash otherwise.
std::string joined_text(const std::vector<std::string>& t, std::size_t width, bool natural, bool end_backslash,
                        std::vector<std::size_t>& starts) {
    std::string c;
    starts.assign(t.size(), 0);
    for (std::size_t i = 0; i < t.size(); ++i) {
        starts[i] = c.size();
        if (t[i].empty()) {
            c += '\\';
            continue;
        }
        c += t[i];
        bool last = i + 1 == t.size();
        if (t[i].size() == width && t[i].find(' ') == std::string::npos) {
            if (!last && t[i + 1].empty()) {
                c += '\\';
                starts[++i] = c.size();
            }
            continue;
        }
        if (last) {
            if (end_backslash) c += '\\';
            break;
        }
        bool space = natural && !t[i + 1].empty() &&
                     (t[i].size() == width || t[i].size() + 1 + first_word_length(t[i + 1]) > width);
        c += space ? ' ' : '\\';
    }
    return c;
}

bool fine_text_line(const std::string& c, std::size_t s, std::size_t e, bool has_points) {
    if (e <= s || is_blank(c[s]) || is_blank(c[e - 1])) return false;
    std::string line = c.substr(s, e - s);
    return fine_line_start(line, false, has_points) && fine_line_body(line);
}

// A string too long for a source line, written as a shorter text that "\e" widens to it.
struct Widened {
    std::size_t skip;  // the string and the one delimiter behind it
    std::string line;
};
using WidenedAt = std::map<std::size_t, Widened>;

// Cuts a normal message's text into source lines: after a backslash, or at a single space
// (the compiler puts one space between lines). Longest lines first.
bool cut_lines(const std::string& c, std::size_t from, std::size_t to, bool has_points, const WidenedAt& widened,
               std::vector<std::string>& lines) {
    std::size_t s = from;
    while (s < to) {
        auto w = widened.lower_bound(s);
        if (w != widened.end() && w->first == s) {
            lines.push_back(w->second.line);
            s += w->second.skip;
            continue;
        }
        std::size_t bound = (w != widened.end() && w->first < to) ? w->first : to;
        std::size_t best_end = 0, best_next = 0;
        std::size_t limit = std::min(bound, s + kSourceLineChars);
        for (std::size_t e = limit; e > s; --e) {
            std::size_t next;
            if (e == to || (e == bound && c[e - 1] == '\\')) next = e;
            else if (e == bound) continue;
            else if (c[e - 1] == '\\' && c[e] != ' ') next = e;
            else if (c[e] == ' ' && c[e - 1] != ' ' && c[e - 1] != '\\' && e + 1 < to && c[e + 1] != ' ') next = e + 1;
            else continue;
            if (!fine_text_line(c, s, e, has_points)) continue;
            best_end = e;
            best_next = next;
            break;
        }
        if (best_end == 0) return false;
        lines.push_back(c.substr(s, best_end - s));
        s = best_next;
    }
    return true;
}

bool normal_lines(const std::string& c, bool has_points, const WidenedAt& widened, std::vector<std::string>& lines) {
    if (!has_points) return cut_lines(c, 0, c.size(), false, widened, lines);
    // One line must begin with "@points" for the record to get its flag.
    for (std::size_t at = c.find("@points"); at != std::string::npos; at = c.find("@points", at + 1)) {
        bool after_backslash = at > 0 && c[at - 1] == '\\';
        bool after_space = at > 1 && c[at - 1] == ' ' && c[at - 2] != ' ' && c[at - 2] != '\\';
        if (at != 0 && !after_backslash && !after_space) continue;
        std::vector<std::string> attempt;
        std::size_t head_end = after_space ? at - 1 : at;
        if (cut_lines(c, 0, head_end, true, widened, attempt) && cut_lines(c, at, c.size(), true, widened, attempt)) {
            lines = attempt;
            return true;
        }
    }
    return false;
}

std::string justified(const std::string& t, std::size_t width) {
    char buf[kLineCapacity + 1];
    std::strcpy(buf, t.c_str());
    align_line(buf, static_cast<int>(width), 0, 2, 1);
    return buf;
}

// A text that justifying widens to `s`: its gaps narrowed to one space, or halved a few times.
bool unjustified(const std::string& s, std::size_t width, bool has_points, std::string& out) {
    for (int halvings = 0; halvings <= 8; ++halvings) {
        std::string u;
        for (std::size_t i = 0; i < s.size();) {
            if (s[i] != ' ') {
                u += s[i++];
                continue;
            }
            std::size_t run = 0;
            while (i + run < s.size() && s[i + run] == ' ') ++run;
            std::size_t keep = halvings == 0 ? 1 : std::max<std::size_t>(1, run >> halvings);
            u.append(keep, ' ');
            i += run;
        }
        if (u.size() + 2 <= kSourceLineChars && fine_line_start(u, false, has_points) &&
            u.find("//") == std::string::npos && u.find('\\') == std::string::npos && justified(u, width) == s) {
            out = u;
            return true;
        }
    }
    return false;
}

std::string centred(const std::string& t, std::size_t width) {
    char buf[kLineCapacity + 1];
    std::strcpy(buf, t.c_str());
    align_line(buf, static_cast<int>(width), 0, 1, 1);
    return buf;
}

// One source line per line of a raw message. A line longer than the width was cut into
// full-width strings; a line that filled the width exactly left an empty string behind it.
bool raw_lines(const std::vector<std::string>& s, const IndexRecord& r, std::vector<std::string>& lines) {
    const std::size_t width = r.width;
    for (std::size_t i = 0; i < s.size();) {
        std::size_t j = i;
        std::string line = s[j];
        while (s[j].size() == width && j + 1 < s.size() && !s[j + 1].empty()) line += s[++j];
        bool fills_width = s[j].size() == width && j + 1 < s.size() && s[j + 1].empty();
        if (line.empty()) line.push_back('\\');
        // A line that may not stand at the start of a source line goes behind the one before,
        // where its backslash makes the same end of string as the end of that line.
        if (!fine_line_start(line, r.dots, r.has_points) && fine_line_body(line) && !lines.empty() &&
            !lines.back().ends_with("\\c")) {
            std::string merged = lines.back();
            if (!merged.ends_with('\\')) merged += '\\';
            merged += line;
            if (fine_line_body(merged)) {
                lines.back() = merged;
                i = j + (fills_width ? 2 : 1);
                continue;
            }
        }
        if (!fine_line_start(line, r.dots, r.has_points) || !fine_line_body(line)) {
            // A line widened to the width by "\c" is written as its text and "\c" again.
            std::string t = trimmed(s[i]);
            if (j != i || !fills_width || centred(t, width) != s[i] || t.find('\\') != std::string::npos)
                return false;
            line = t + "\\c";
            if ((!t.empty() && !fine_line_start(t, r.dots, r.has_points)) || !fine_line_body(t)) return false;
        }
        lines.push_back(line);
        i = j + (fills_width ? 2 : 1);
    }
    return true;
}

// Collects what the compiler writes for one message, without building a whole index.
class Capture final : public TableOutput {
public:
    explicit Capture(std::uint16_t number) : number_(number) {}
    bool put_string(const std::uint8_t* record) override {
        strings.insert(strings.end(), record, record + kStringRecordSize);
        return true;
    }
    bool put_record(std::uint16_t number, const std::uint8_t* record) override {
        if (number == number_) std::memcpy(this->record, record, kIndexRecordSize);
        return true;
    }
    std::vector<std::uint8_t> strings;
    std::uint8_t record[kIndexRecordSize] = {};

private:
    std::uint16_t number_;
};

class Decompiler {
public:
    Decompiler(const std::vector<std::uint8_t>& dat, const std::vector<std::uint8_t>& str) : dat_(dat), str_(str) {}
    DecompiledSource run();

private:
    void collect_items();
    void add_unreferenced(const std::vector<bool>& referenced);
    std::vector<std::string> texts(const Item& it, int line_mode) const;
    bool encode(const Item& it, std::vector<std::string>& lines, int& line_mode) const;
    std::string body(const Item& it, const std::vector<std::string>& lines, int line_mode) const;
    bool reproduces(const Item& it, const std::string& snippet) const;

    const std::vector<std::uint8_t>& dat_;
    const std::vector<std::uint8_t>& str_;
    std::vector<Item> items_;
    DecompiledSource out_;
};

std::size_t string_total(const std::vector<std::uint8_t>& str) { return str.size() / kStringRecordSize; }

void Decompiler::collect_items() {
    std::size_t records = dat_.size() / kIndexRecordSize;
    std::size_t total = string_total(str_);
    for (std::size_t n = 1; n < records && n <= 0xFFFF; ++n) {
        const std::uint8_t* bytes = dat_.data() + n * kIndexRecordSize;
        IndexRecord r = decode_index(bytes);
        if (!is_valid_record(r, static_cast<int>(n))) {
            if (std::any_of(bytes, bytes + kIndexRecordSize, [](std::uint8_t b) { return b != 0; }))
                out_.warnings.push_back("record " + std::to_string(n) + " is not a message; left out");
            continue;
        }
        Item it;
        it.record = r;
        it.record_bytes = bytes;
        it.first = r.first_string;
        it.count = r.string_count;
        if (static_cast<std::uint64_t>(it.first) + it.count > total) {
            out_.warnings.push_back("message " + std::to_string(n) + ": its strings lie past the end of message.str");
            it.count = it.first < total ? static_cast<std::uint32_t>(total - it.first) : 0;
            if (it.first > total) it.first = static_cast<std::uint32_t>(total);
        }
        items_.push_back(it);
    }
}

void Decompiler::add_unreferenced(const std::vector<bool>& referenced) {
    std::size_t total = referenced.size();
    for (std::size_t a = 0; a < total;) {
        if (referenced[a]) {
            ++a;
            continue;
        }
        std::uint16_t owner = decode_string(str_.data() + a * kStringRecordSize).number;
        std::size_t b = a;
        while (b < total && !referenced[b] && decode_string(str_.data() + b * kStringRecordSize).number == owner) ++b;
        auto final_one = std::find_if(items_.begin(), items_.end(),
                                      [owner](const Item& it) { return it.record.number == owner && it.record_bytes; });
        std::string what = "strings " + std::to_string(a) + " to " + std::to_string(b - 1) + " (message " +
                           std::to_string(owner) + ") are not referenced by any record";
        if (final_one != items_.end() && final_one->first >= b && b - a <= 255) {
            Item earlier;
            earlier.record = final_one->record;
            earlier.first = static_cast<std::uint32_t>(a);
            earlier.count = static_cast<std::uint32_t>(b - a);
            items_.push_back(earlier);
            out_.warnings.push_back(what + "; written as an earlier definition of the message");
        } else {
            out_.warnings.push_back(what + "; left out");
        }
        a = b;
    }
}

std::vector<std::string> Decompiler::texts(const Item& it, int line_mode) const {
    std::vector<std::string> t;
    bool centre = line_mode == 1 || (line_mode == 0 && it.record.align == 1);
    for (std::uint32_t i = it.first; i < it.first + it.count; ++i) {
        std::string s = decode_string(str_.data() + static_cast<std::size_t>(i) * kStringRecordSize).text;
        t.push_back(!it.record.raw || centre ? trimmed(s) : s);
    }
    return t;
}

std::string Decompiler::body(const Item& it, const std::vector<std::string>& lines, int line_mode) const {
    std::string b = header_line(it.record) + "\n";
    for (const std::string& l : lines) b += l + "\n";
    if (line_mode != 0) b += std::string(it.record.dots ? "..." : "") + (line_mode == 1 ? "#0 \\c\n" : "#0 \\e\n");
    return b;
}

bool Decompiler::reproduces(const Item& it, const std::string& snippet) const {
    Capture capture(it.record.number);
    Compiler compiler(capture, nullptr);
    feed_source(compiler, snippet.data(), snippet.size());
    auto begin = str_.begin() + static_cast<std::ptrdiff_t>(it.first * kStringRecordSize);
    auto end = begin + static_cast<std::ptrdiff_t>(it.count * kStringRecordSize);
    if (!std::equal(begin, end, capture.strings.begin(), capture.strings.end())) return false;
    if (!it.record_bytes) return true;
    std::uint8_t want[kIndexRecordSize];
    std::memcpy(want, it.record_bytes, kIndexRecordSize);
    std::memset(want + 89, 0, 4);  // first_string: where the strings go depends on what came before
    std::memset(capture.record + 89, 0, 4);
    return std::memcmp(want, capture.record, kIndexRecordSize) == 0;
}

bool Decompiler::encode(const Item& it, std::vector<std::string>& lines, int& line_mode) const {
    std::vector<std::string> first_try;
    bool have_first = false;
    const std::string language = it.record.language == 0 ? "#RUS\n" : "";
    for (int mode = 0; mode <= 2; ++mode) {
        std::vector<std::string> t = texts(it, mode);
        std::vector<std::vector<std::string>> candidates;
        if (it.record.raw) {
            std::vector<std::string> l;
            if (raw_lines(t, it.record, l)) candidates.push_back(l);
        } else {
            // Justifying looks at no more than 250 characters: a wider justified string comes
            // back only from the text it was widened from.
            bool justify = mode == 2 || (mode == 0 && it.record.align == 2);
            for (std::string& s : t) {
                std::string u;
                if (justify && s.size() > static_cast<std::size_t>(kAlignChars) &&
                    unjustified(s, it.record.width, it.record.has_points != 0, u))
                    s = u;
            }
            for (int variant = 0; variant < 4; ++variant) {
                std::vector<std::size_t> starts;
                std::string c = joined_text(t, it.record.width, variant < 2, variant == 1 || variant == 2, starts);
                WidenedAt widened;
                for (std::size_t i = 0; !justify && i < t.size(); ++i) {
                    std::string u;
                    if (t[i].size() + 1 > kSourceLineChars && t[i].size() == it.record.width &&
                        unjustified(t[i], it.record.width, it.record.has_points != 0, u))
                        widened[starts[i]] = {t[i].size() + (starts[i] + t[i].size() < c.size() ? 1 : 0), u + "\\e"};
                }
                std::vector<std::string> l;
                if (normal_lines(c, it.record.has_points != 0, widened, l)) candidates.push_back(l);
            }
        }
        for (const auto& l : candidates) {
            if (!have_first) {
                first_try = l;
                have_first = true;
            }
            std::string closing = std::string(it.record.dots && mode == 0 ? "..." : "") + "#0\n";
            if (reproduces(it, language + body(it, l, mode) + (mode ? "#0\n" : closing))) {
                lines = l;
                line_mode = mode;
                return true;
            }
        }
        if (it.count == 0) break;  // no strings: the line mode cannot matter
    }
    lines = first_try;
    line_mode = 0;
    return false;
}

DecompiledSource Decompiler::run() {
    collect_items();
    std::vector<bool> referenced(string_total(str_), false);
    for (const Item& it : items_)
        for (std::uint32_t i = it.first; i < it.first + it.count; ++i) referenced[i] = true;
    // The count of a message's strings is kept in one byte: a message with more strings has its
    // count wrapped, and the strings past it follow its last counted one.
    for (Item& it : items_) {
        std::size_t end = it.first + it.count, run = 0;
        while (end + run < referenced.size() && !referenced[end + run] &&
               decode_string(str_.data() + (end + run) * kStringRecordSize).number == it.record.number)
            ++run;
        std::size_t more = run / 256 * 256;
        for (std::size_t i = end; i < end + more; ++i) referenced[i] = true;
        it.count += static_cast<std::uint32_t>(more);
    }
    add_unreferenced(referenced);
    std::stable_sort(items_.begin(), items_.end(), [](const Item& a, const Item& b) {
        if (a.first != b.first) return a.first < b.first;
        return (a.count > 0) < (b.count > 0);
    });

    out_.text = "// Message source written by dravo msg decompile\n";
    int language = 1;
    std::string pending;  // "..." of the message before, carried by the next header line
    std::uint32_t running = 0;
    for (const Item& it : items_) {
        std::string who = "message " + std::to_string(it.record.number);
        if (it.first != running && it.count > 0)
            out_.warnings.push_back(who + ": its strings do not follow the ones before it; they are written again");
        running = std::max(running, it.first + it.count);
        std::vector<std::string> lines;
        int line_mode = 0;
        if (!encode(it, lines, line_mode))
            out_.warnings.push_back(who + ": no source found that compiles to the same " +
                                    (it.record_bytes ? "record and strings" : "unreferenced strings") +
                                    "; written as near as it gets");
        if (it.record.language != language) {
            out_.text += it.record.language == 0 ? "#RUS\n" : "#INTER\n";
            language = it.record.language == 0 ? 0 : 1;
        }
        out_.text += pending + body(it, lines, line_mode);
        pending = it.record.dots && line_mode == 0 ? "..." : "";
        if (it.record_bytes) ++out_.messages;
    }
    out_.text += pending + "#0\n";
    return out_;
}

}  // namespace

std::string header_line(const IndexRecord& r) {
    auto num = [](long long v) { return std::to_string(v); };
    // A 16-bit field reads back the same from its signed form, which is shorter; only -30000
    // would read as a missing number.
    auto s16 = [](std::uint16_t v) {
        int s = v > 0x7FFF ? v - 0x10000 : v;
        return std::to_string(s == kNoToken ? v : s);
    };
    std::string h = r.raw ? "##" : "#";
    h += s16(r.number) + " " + s16(r.hdr2) + " " + s16(r.hdr3) + " " + s16(r.hdr4) + " " + s16(r.hdr5);
    bool no_points = std::all_of(std::begin(r.points), std::end(r.points), [](std::int32_t p) { return p == 0; });
    // A header abandoned at a missing number leaves the film numbers 0 and reads nothing more.
    bool abandoned = r.avs_first == 0 && r.avs_second == 0 && !r.avs_name[0] && !r.wav_name[0] && !r.nostop &&
                     !r.align && no_points && r.end_point == 0;
    if (abandoned && r.page_lines == 0 && r.string_count > 0 && r.width == static_cast<std::uint32_t>(kMaxWidth))
        return h;
    h += " " + num(r.width) + " " + num(r.page_lines);
    if (abandoned) return h;
    h += " " + num(r.end_point);
    bool name_has_c = std::strstr(r.wav_name, "-c") || std::strstr(r.avs_name, "-c");
    if (r.nostop) h += " nostop";
    if (r.align == 1 || (r.align == 2 && name_has_c)) h += " -c";
    if (r.align == 2) h += " -e";
    if (r.wav_name[0]) h += " " + name_token(r.wav_name, ".wav");
    if (r.avs_name[0]) h += " " + name_token(r.avs_name, ".avs") + " " + s16(r.avs_first) + " " + s16(r.avs_second);
    int last = kPointCount - 1;
    while (last >= 0 && r.points[last] == 0) --last;
    for (int k = 0; k <= last; ++k) {
        std::uint32_t before = k == 0 ? 0 : static_cast<std::uint32_t>(r.points[k - 1]);
        h += " p" + num(static_cast<std::int32_t>(static_cast<std::uint32_t>(r.points[k]) - before));
    }
    std::size_t b = h.rfind('\\');
    if (b != std::string::npos && b + 1 < h.size() && (h[b + 1] == 'c' || h[b + 1] == 'e')) h += " \\";
    return h;
}

DecompiledSource decompile(const std::vector<std::uint8_t>& dat, const std::vector<std::uint8_t>& str) {
    return Decompiler(dat, str).run();
}

}  // namespace messages
