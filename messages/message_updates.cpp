// Work kinds '1' (rebuild the tables from a new source) and '2' (replace one message).
#include "messages/message_updates.h"

#include <algorithm>
#include <cstring>

#include "base/text.h"
#include "messages/message_compiler.h"
#include "messages/message_tables.h"
#include "messages/message_header.h"
#include "messages/message_writer.h"
#include "messages/source_line.h"
#include "base/report.h"
#include "xfile/transfer.h"
#include "xfile/xfile.h"

namespace messages {

namespace {

constexpr std::size_t kWorkTextChars = 255;    // longer than any work line
constexpr std::size_t kPrefixCheckChars = 206;  // kind '1': the first string begins with it
constexpr std::size_t kInnerCheckChars = 19;    // kind '2': the first string contains it

using text::is_blank;

void copy_cut(char* dst, const char* src, std::size_t max) {
    std::size_t n = strnlen(src, max);
    std::memcpy(dst, src, n);
    dst[n] = 0;
}

// The first string of the check message, or an empty one when it cannot be looked up.
StringRecord check_string(int number) {
    StringRecord first;
    IndexRecord record;
    if (lookup_message(number, record)) read_first_string(record, first);
    return first;
}

bool tables_tagged() {
    char name[plat::kMaxPath + 1];
    if (!table_path(name, "message.dat")) return false;
    XFileHandle* h = nullptr;
    if (xfile_open(name, kXModeRead, &h) < 0) return false;
    char tag[2] = {};
    bool tagged = xfile_seek(h, 0, 0) >= 0 && xfile_read(h, tag, 2) == 2 && tag[0] == '0' && tag[1] == '2';
    xfile_close(h);
    return tagged;
}

// A table that is there but cannot be read (another program holds it) makes the item fail:
// its check cannot be made, and taking that for "not needed" would hide the failure.
bool table_unreadable(const char* file) {
    char name[plat::kMaxPath + 1];
    if (!table_path(name, file)) return true;
    if (!plat::file_exists(name)) return false;
    XFileHandle* h = nullptr;
    if (xfile_open(name, kXModeRead, &h) < 0) return true;
    xfile_close(h);
    return false;
}

constexpr char kUnreadableTables[] =
    "message.dat or message.str cannot be read (another program may hold it), so the item's check cannot be made";

bool tables_unreadable() { return table_unreadable("message.dat") || table_unreadable("message.str"); }

bool write_tag() {
    char name[plat::kMaxPath + 1];
    if (!table_path(name, "message.dat")) return false;
    XFileHandle* h = nullptr;
    if (xfile_open(name, kXModeUpdate, &h) < 0) return false;
    bool ok = xfile_seek(h, 0, 0) >= 0 && xfile_write(h, "02", 2) == 2 && xfile_flush(h) == kXOk;
    xfile_close(h);
    return ok;
}

// The most a new message source may hold: every message number with the longest text comes
// to some 650 MB, but a real game's source is a few MiB.
constexpr std::int64_t kMaxSourceBytes = std::int64_t{256} << 20;

// Reads the whole new source into `out`. False when it could not be opened, is too large, or
// was not read whole.
bool read_source(const char* source_name, std::string* out, std::string* why) {
    char name[plat::kMaxPath + 1];
    copy_cut(name, source_name, plat::kMaxPath);
    XFileHandle* from = nullptr;
    if (xfile_open(name, kXModeRead, &from) < 0) {
        *why = xfile::open_problem();
        return false;
    }
    std::int64_t left = xfile_size(from);
    if (left > kMaxSourceBytes) {
        xfile_close(from);
        *why = "it is larger than 256 MiB";
        return false;
    }
    out->assign(static_cast<std::size_t>(left), '\0');
    std::size_t at = 0;
    while (left > 0) {
        auto want = static_cast<std::int32_t>(std::min<std::int64_t>(left, xfile::kTransferBufferSize));
        int got = xfile_read(from, out->data() + at, want);
        if (got <= 0) break;
        at += static_cast<std::size_t>(got);
        left -= got;
        report::keep_alive();
    }
    xfile_close(from);
    if (left > 0) *why = "it ended before its size";
    return left == 0;
}

// Strings of a single message go straight to the end of message.str.
class XFileStrings final : public StringSink {
public:
    explicit XFileStrings(XFileHandle* h) : h_(h) {}
    bool put_string(const std::uint8_t* record) override {
        return xfile_write(h_, record, kStringRecordSize) == static_cast<int>(kStringRecordSize);
    }

private:
    XFileHandle* h_;
};

// Reads the message text that follows a kind '2' line, up to and including the line that
// ends it. Returns the line mode of the last line read.
int read_message_text(std::FILE* stream, IndexRecord& record, bool raw, MessageText& text) {
    char piece[kLinePieceChars + 1];
    TreatedLine line;
    int language = 1;
    int line_mode = 0;
    while (std::fgets(piece, sizeof piece, stream)) {
        record.language = static_cast<std::uint8_t>(language);
        treat_line(piece, record, language, line);
        line_mode = line.line_mode;
        if (line.kind == LineKind::Header) break;
        if (line.kind == LineKind::Text) text.add_line(line, raw);
    }
    return line_mode;
}

void skip_message_text(std::FILE* stream) {
    IndexRecord scratch;
    scratch.width = kMaxWidth;
    MessageText ignored;
    read_message_text(stream, scratch, false, ignored);
}

struct OneMessage {
    int check_number = 0;
    char check_text[kInnerCheckChars + 1] = {};
    char header[kWorkTextChars + 1] = {};
};

bool parse_one_message(const char* text, OneMessage& m) {
    char line[kWorkTextChars + 1];
    copy_cut(line, text, kWorkTextChars);
    char* first = std::strchr(line, ':');
    if (!first) return false;
    *first = 0;
    char* second = std::strchr(first + 1, ':');
    if (!second) return false;
    *second = 0;
    m.check_number = text_to_int(line);
    copy_cut(m.check_text, first + 1, kInnerCheckChars);
    std::strcpy(m.header, second + 1);
    return true;
}

// Compiles the message and writes it into the open tables: its strings at the end of
// message.str, its record at number * 180 of message.dat.
bool write_one_message(const OneMessage& m, std::FILE* stream, XFileHandle* dat, XFileHandle* str) {
    IndexRecord record;
    record.language = 1;
    bool raw = read_header(m.header, record, HeaderRules::Update);
    record.first_string = static_cast<std::uint32_t>(xfile_size(str)) / kStringRecordSize;
    MessageText text;
    int line_mode = read_message_text(stream, record, raw, text);

    std::int64_t at = static_cast<std::int64_t>(record.first_string) * kStringRecordSize;
    if (xfile_seek(str, static_cast<std::int32_t>(at), 0) < 0) return false;
    XFileStrings strings(str);
    std::uint32_t running = record.first_string;
    if (!write_message(text.c_str(), record, strings, running, line_mode)) return false;
    if (xfile_flush(str) != kXOk) return false;

    std::uint8_t bytes[kIndexRecordSize];
    encode_index(record, bytes);
    std::int32_t offset = static_cast<std::int32_t>(record.number) * static_cast<std::int32_t>(kIndexRecordSize);
    return xfile_seek(dat, offset, 0) >= 0 &&
           xfile_write(dat, bytes, kIndexRecordSize) == static_cast<int>(kIndexRecordSize) &&
           xfile_flush(dat) == kXOk;
}

}  // namespace

Result read_source_update_line(const char* text, SourceUpdateLine* out) {
    char line[kWorkTextChars + 1];
    copy_cut(line, text, kWorkTextChars);
    std::size_t name_length = 0;
    while (line[name_length] && !is_blank(line[name_length])) ++name_length;
    if (name_length == 0) return Result::failed("the work line names no message source");
    char* hash = std::strchr(line, '#');
    if (!hash) return Result::failed("the work line has no #NUMBER of a check message");
    int check_number = text_to_int(hash + 1);
    if (check_number == 0) return Result::failed("the work line's check message number is not a number above 0");
    char* rest = hash;
    while (*rest && !is_blank(*rest)) ++rest;
    char check[kWorkTextChars + 1];
    std::strcpy(check, rest);
    text::trim(check);
    out->check_text_cut = std::strlen(check) > kPrefixCheckChars;
    check[std::min(std::strlen(check), kPrefixCheckChars)] = 0;
    line[name_length] = 0;
    out->source = line;
    out->check_number = check_number;
    out->check_text = check;
    return Result::applied();
}

Result source_update_applies(const SourceUpdateLine& line) {
    if (tables_tagged())
        return Result::skipped("the message tables were rebuilt by a patch already (tag \"02\"), and a rebuild is done "
                               "only once: the game keeps its messages; kind '2' items change them");
    StringRecord first = check_string(line.check_number);
    if (std::strncmp(first.text, line.check_text.c_str(), line.check_text.size()) != 0)
        return Result::skipped("message " + std::to_string(line.check_number) + " does not begin with the check text");
    return Result::applied();
}

Result update_messages_from_source(const char* text) {
    SourceUpdateLine parsed;
    if (Result read = read_source_update_line(text, &parsed); read.failed()) return read;
    if (tables_unreadable()) return Result::failed(kUnreadableTables);
    if (Result applies = source_update_applies(parsed); applies.result != WorkResult::Applied) return applies;
    char line[kWorkTextChars + 1];
    std::strcpy(line, parsed.source.c_str());
    char shown[kWorkTextChars + 1];
    std::strcpy(shown, line);
    shown[std::strcspn(shown, ".")] = 0;
    char progress[kWorkTextChars + 40];
    std::snprintf(progress, sizeof progress, "@Change %s message files ...", shown);
    report::progress_text(progress);

    // The source is compiled from memory, read once through the file library: no copy of it
    // is written into the game's folder and read back by name.
    std::string source, why;
    if (!read_source(line, &source, &why))
        return Result::failed(std::string("cannot read the new source ") + line + (why.empty() ? "" : ": " + why));
    CompileResult compiled = compile_messages_from(source);
    // A failed compile left the old tables in place: they must not be marked as rebuilt.
    if (compiled.failed())
        return Result::failed("cannot rebuild the message tables: " + plat::display_path(compiled.file) + ": " +
                              compiled.problem);
    if (!write_tag()) return Result::failed("cannot tag message.dat as rebuilt");
    return Result::applied();
}

namespace {

// The tables can be rewritten: each is either absent (the compile makes it) or readable and
// not read-only.
Result check_tables(std::string* dat, std::string* str) {
    char name[plat::kMaxPath + 1];
    for (auto [file, out] : {std::pair{"message.dat", dat}, std::pair{"message.str", str}}) {
        if (!table_path(name, file)) return Result::failed("the game's directory is too long a path");
        *out = name;
        if (table_unreadable(file)) return Result::failed(plat::display_path(name) + " cannot be read");
        if (plat::is_read_only(name)) return Result::failed(plat::display_path(name) + " is read-only");
    }
    return Result::applied();
}

}  // namespace

Result check_messages_from_source(const char* text, std::string* dat, std::string* str) {
    char name[plat::kMaxPath + 1];
    copy_cut(name, text, plat::kMaxPath);
    name[std::strcspn(name, " \t\r\n")] = 0;
    XFileHandle* h = nullptr;
    if (!name[0] || xfile_open(name, kXModeRead, &h) < 0)
        return Result::failed(std::string("the new message source ") + name + " cannot be opened");
    xfile_close(h);
    return check_tables(dat, str);
}

Result check_one_message(std::FILE* stream, std::string* dat, std::string* str) {
    skip_message_text(stream);
    return check_tables(dat, str);
}

namespace {

Result one_message_applies(int check_number, const char* check_text) {
    int number = check_number;
    IndexRecord check;
    if (!lookup_message(number, check)) return Result::skipped("the game has no message " + std::to_string(check_number));
    StringRecord first;
    read_first_string(check, first);
    if (!std::strstr(first.text, check_text))
        return Result::skipped("message " + std::to_string(number) + " does not hold the check text");
    return Result::applied();
}

}  // namespace

Result read_one_message_line(const char* text, OneMessageLine* out) {
    OneMessage m;
    if (!parse_one_message(text, m)) return Result::failed("the work line is not NUMBER:CHECK TEXT:HEADER");
    const char* first = std::strchr(text, ':');
    const char* second = first ? std::strchr(first + 1, ':') : nullptr;
    out->check_text_cut = second && static_cast<std::size_t>(second - first - 1) > kInnerCheckChars;
    out->check_number = m.check_number;
    out->check_text = m.check_text;
    out->header = m.header;
    return Result::applied();
}

Result one_message_applies(const OneMessageLine& line) {
    return one_message_applies(line.check_number, line.check_text.c_str());
}

void skip_one_message_text(std::FILE* stream) { skip_message_text(stream); }

Result update_one_message(const char* text, std::FILE* stream) {
    OneMessage m;
    if (!parse_one_message(text, m)) {
        skip_message_text(stream);
        return Result::failed("the work line is not NUMBER:CHECK TEXT:HEADER");
    }
    if (tables_unreadable()) {
        skip_message_text(stream);
        return Result::failed(kUnreadableTables);
    }
    if (Result applies = one_message_applies(m.check_number, m.check_text); applies.result != WorkResult::Applied) {
        skip_message_text(stream);
        return applies;
    }

    char dat_name[plat::kMaxPath + 1];
    char str_name[plat::kMaxPath + 1];
    XFileHandle* dat = nullptr;
    XFileHandle* str = nullptr;
    if (!table_path(dat_name, "message.dat") || !table_path(str_name, "message.str") ||
        xfile_open(dat_name, kXModeUpdate, &dat) < 0) {
        std::string why = xfile::open_problem();
        skip_message_text(stream);
        return Result::failed("cannot open message.dat for writing" + (why.empty() ? "" : ": " + why));
    }
    if (xfile_open(str_name, kXModeUpdate, &str) < 0) {
        std::string why = xfile::open_problem();
        xfile_close(dat);
        skip_message_text(stream);
        return Result::failed("cannot open message.str for writing" + (why.empty() ? "" : ": " + why));
    }
    bool ok = write_one_message(m, stream, dat, str);
    xfile_close(dat);
    xfile_close(str);
    return ok ? Result::applied() : Result::failed("cannot write the message into the tables: " + plat::last_error_text());
}

}  // namespace messages
