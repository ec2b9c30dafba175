// The decompiler. Every message is written in the order of its strings, so that compiling the
// source appends the strings to message.str in the order they had. For each message and each
// line alignment mode of the header line behind it, the ways of writing its text that
// source_lines finds are compiled again, and the first that gives the same record and strings
// is kept; a message whose strings were aligned by the header line behind it gets a "#0 \c"
// or "#0 \e" line.
//
// Strings that no record references (an earlier definition of a number that was defined
// again) are written as that earlier definition, with the header of the final one, when they
// come before it; otherwise they are reported and left out.
#include "decompiler/message_source.h"

#include <algorithm>
#include <cstring>
#include <map>

#include "messages/message_compiler.h"
#include "messages/message_header.h"
#include "decompiler/source_lines.h"

namespace decompiler {

using messages::Compiler;
using messages::IndexRecord;
using messages::TableOutput;
using messages::decode_index;
using messages::decode_string;
using messages::feed_source;
using messages::index_bytes;
using messages::is_valid_record;
using messages::kIndexRecordSize;
using messages::kMaxWidth;
using messages::kNameBytes;
using messages::kNoToken;
using messages::kPointCount;
using messages::kStringRecordSize;
using messages::string_bytes;

namespace {

struct Item {
    IndexRecord record;
    const std::uint8_t* record_bytes = nullptr;  // null for an earlier definition
    std::uint32_t first = 0;
    std::uint32_t count = 0;
};

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
        ++records;
        return true;
    }
    std::vector<std::uint8_t> strings;
    std::uint8_t record[kIndexRecordSize] = {};
    int records = 0;  // a line read as a header of its own would write one more

private:
    std::uint16_t number_;
};

// A message's header, text lines and, when its strings were aligned by the header line behind
// it, the "#0 \c" or "#0 \e" line that closes it.
std::string message_body(const IndexRecord& record, const std::string& header, const std::vector<std::string>& lines,
                         int line_mode) {
    std::string b = (header.empty() ? header_line(record) : header) + "\n";
    for (const std::string& l : lines) b += l + "\n";
    if (line_mode != 0) {
        bool dots = record.dots && !dots_in_lines(record, line_mode);
        b += std::string(dots ? "..." : "") + (line_mode == 1 ? "#0 \\c\n" : "#0 \\e\n");
    }
    return b;
}

class Decompiler {
public:
    Decompiler(const std::vector<std::uint8_t>& dat, const std::vector<std::uint8_t>& str) : dat_(dat), str_(str) {}
    DecompiledMessages run();

private:
    void collect_items();
    void add_unreferenced(const std::vector<bool>& referenced);
    std::vector<std::string> strings_of(const Item& it) const;
    bool encode(const Item& it, std::vector<std::string>& lines, int& line_mode) const;
    bool reproduces(const Item& it, const std::string& snippet) const;

    const std::vector<std::uint8_t>& dat_;
    const std::vector<std::uint8_t>& str_;
    std::vector<Item> items_;
    DecompiledMessages out_;
};

std::size_t string_total(const std::vector<std::uint8_t>& str) { return str.size() / kStringRecordSize; }

void Decompiler::collect_items() {
    std::size_t records = dat_.size() / kIndexRecordSize;
    std::size_t total = string_total(str_);
    static const std::uint8_t kGap[kIndexRecordSize] = {};
    for (std::size_t n = 1; n < records && n <= 0xFFFF; ++n) {
        const std::uint8_t* bytes = dat_.data() + n * kIndexRecordSize;
        if (std::memcmp(bytes, kGap, kIndexRecordSize) == 0) continue;  // a gap between messages
        IndexRecord r = decode_index(index_bytes(dat_, n));
        if (!is_valid_record(r, static_cast<int>(n))) {
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
        std::uint16_t owner = decode_string(string_bytes(str_, a)).number;
        std::size_t b = a;
        while (b < total && !referenced[b] && decode_string(string_bytes(str_, b)).number == owner) ++b;
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

std::vector<std::string> Decompiler::strings_of(const Item& it) const {
    std::vector<std::string> t;
    for (std::uint32_t i = it.first; i < it.first + it.count; ++i)
        t.push_back(decode_string(string_bytes(str_, i)).text);
    return t;
}

bool Decompiler::reproduces(const Item& it, const std::string& snippet) const {
    Capture capture(it.record.number);
    Compiler compiler(capture, nullptr);
    feed_source(compiler, snippet.data(), snippet.size());
    if (capture.records != 1) return false;
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
    const std::vector<std::string> strings = strings_of(it);
    for (int mode = 0; mode <= 2; ++mode) {
        std::string closing = std::string(it.record.dots && mode == 0 ? "..." : "") + "#0\n";
        bool found = find_lines(it.record, strings, mode, [&](const std::vector<std::string>& l) {
            if (!have_first) {
                first_try = l;
                have_first = true;
            }
            if (!reproduces(it, language + message_body(it.record, "", l, mode) + closing)) return false;
            lines = l;
            line_mode = mode;
            return true;
        });
        if (found) return true;
        if (it.count == 0) break;  // no strings: the line mode cannot matter
    }
    lines = first_try;
    line_mode = 0;
    return false;
}

DecompiledMessages Decompiler::run() {
    collect_items();
    std::vector<bool> referenced(string_total(str_), false);
    for (const Item& it : items_)
        for (std::uint32_t i = it.first; i < it.first + it.count; ++i) referenced[i] = true;
    // The count of a message's strings is kept in one byte: a message with more strings has its
    // count wrapped, and the strings past it follow its last counted one.
    for (Item& it : items_) {
        std::size_t end = it.first + it.count, run = 0;
        while (end + run < referenced.size() && !referenced[end + run] &&
               decode_string(string_bytes(str_, end + run)).number == it.record.number)
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

    std::uint32_t running = 0;
    for (const Item& it : items_) {
        std::string who = "message " + std::to_string(it.record.number);
        if (it.first != running && it.count > 0)
            out_.warnings.push_back(who + ": its strings do not follow the ones before it; they are written again");
        running = std::max(running, it.first + it.count);
        SourceMessage m;
        m.record = it.record;
        m.record.first_string = it.first;  // an earlier definition's own
        m.earlier_definition = it.record_bytes == nullptr;
        if (!encode(it, m.lines, m.line_mode))
            out_.warnings.push_back(who + ": no source found that compiles to the same " +
                                    (it.record_bytes ? "record and strings" : "unreferenced strings") +
                                    "; written as near as it gets");
        out_.messages.push_back(std::move(m));
    }
    return out_;
}

}  // namespace

std::string header_line(const IndexRecord& r, bool complete) {
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
    bool abandoned = !complete && r.avs_first == 0 && r.avs_second == 0 && !r.avs_name[0] && !r.wav_name[0] &&
                     !r.nostop && !r.align && no_points && r.end_point == 0;
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

std::string source_text(const std::vector<SourceMessage>& messages, std::vector<long>* header_lines,
                        const char* writer) {
    std::string text = std::string("// Message source written by ") + writer + "\n";
    long lines = 1;
    auto add = [&](const std::string& piece) {
        text += piece;
        lines += static_cast<long>(std::count(piece.begin(), piece.end(), '\n'));
    };
    int language = 1;
    std::string pending;  // "..." of the message before, carried by the next header line
    for (const SourceMessage& m : messages) {
        if (m.record.language != language) {
            add(m.record.language == 0 ? "#RUS\n" : "#INTER\n");
            language = m.record.language == 0 ? 0 : 1;
        }
        if (header_lines) header_lines->push_back(lines + 1);
        add(pending + message_body(m.record, m.header, m.lines, m.line_mode));
        pending = m.record.dots && m.line_mode == 0 ? "..." : "";
    }
    return text + pending + "#0\n";
}

DecompiledMessages decompile_messages(const std::vector<std::uint8_t>& dat, const std::vector<std::uint8_t>& str) {
    return Decompiler(dat, str).run();
}

DecompiledSource decompile(const std::vector<std::uint8_t>& dat, const std::vector<std::uint8_t>& str) {
    DecompiledMessages m = decompile_messages(dat, str);
    DecompiledSource out;
    out.text = source_text(m.messages);
    out.warnings = std::move(m.warnings);
    out.messages = static_cast<int>(
        std::count_if(m.messages.begin(), m.messages.end(), [](const SourceMessage& s) { return !s.earlier_definition; }));
    return out;
}

}  // namespace decompiler
