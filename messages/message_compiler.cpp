// The message compiler and its two outputs: the game's files through XFile, and memory.
#include "messages/message_compiler.h"

#include <algorithm>
#include <cstdio>
#include <cstring>
#include <functional>
#include <memory>
#include <vector>

#include "base/report.h"
#include "base/text.h"
#include "messages/message_header.h"
#include "platform/rewrite/output_file.h"
#include "xfile/xfile.h"

namespace messages {

namespace {

constexpr std::size_t kZeroFillPiece = 18000;
constexpr std::size_t kBufferedStrings = 256;     // strings gathered before one write
constexpr std::int32_t kIndexWindowBytes = 65520;  // 364 index records held before one write
constexpr auto kRecordBytes = static_cast<std::int32_t>(kIndexRecordSize);

// The tables under construction. Each system call costs more than the bytes it moves, so
// both tables are written in large pieces: the strings are gathered, and the index records
// are placed in a window of consecutive records held in memory, written out when a record
// falls outside it. A source's numbers mostly rise, so that is a write every 364 messages
// rather than a seek and a write for each. The gap before a record past the end is zeros.
class FileOutput final : public TableOutput {
public:
    FileOutput(XFileHandle* dat, XFileHandle* str)
        : dat_(dat), str_(str), pending_(kBufferedStrings * kStringRecordSize), window_(kIndexWindowBytes) {}

    bool put_string(const std::uint8_t* record) override {
        std::memcpy(pending_.data() + pending_count_ * kStringRecordSize, record, kStringRecordSize);
        if (++pending_count_ == kBufferedStrings) return flush_strings();
        return ok_;
    }

    bool put_record(std::uint16_t number, const std::uint8_t* record) override {
        std::int32_t offset = static_cast<std::int32_t>(number) * kRecordBytes;
        if (!fits_window(offset)) {
            if (!flush_window()) return ok_ = false;
            // The window starts at the record, or at the end of the file when the zeros of the
            // gap before the record fit into it; a longer gap is written straight away.
            if (offset > file_end_ && offset - file_end_ + kRecordBytes > kIndexWindowBytes && !zero_fill(offset))
                return ok_ = false;
            window_start_ = window_end_ = std::min(offset, file_end_);
        }
        // A record past the window's end lies past the end of the file: zeros go before it.
        if (offset > window_end_) std::memset(window_.data() + (window_end_ - window_start_), 0, offset - window_end_);
        std::memcpy(window_.data() + (offset - window_start_), record, kIndexRecordSize);
        window_end_ = std::max(window_end_, offset + kRecordBytes);
        return ok_;
    }

    // Writes what is held of both tables.
    bool flush() { return flush_strings() && flush_window(); }

private:
    static bool write_all(XFileHandle* h, const std::uint8_t* bytes, std::size_t n) {
        return xfile_write(h, bytes, static_cast<std::int32_t>(n)) == static_cast<int>(n);
    }

    bool flush_strings() {
        if (pending_count_ && !write_all(str_, pending_.data(), pending_count_ * kStringRecordSize)) ok_ = false;
        pending_count_ = 0;
        return ok_;
    }

    // A record belongs in the window when it starts inside it or at its end, or, where the
    // window reaches the end of the file, anywhere after it that leaves room for the zeros.
    bool fits_window(std::int32_t offset) const {
        if (window_end_ == window_start_) return false;
        if (offset < window_start_ || offset + kRecordBytes - window_start_ > kIndexWindowBytes) return false;
        return offset <= window_end_ || window_end_ >= file_end_;
    }

    bool flush_window() {
        if (window_end_ == window_start_) return ok_;
        if (xfile_seek(dat_, window_start_, 0) < 0 ||
            !write_all(dat_, window_.data(), static_cast<std::size_t>(window_end_ - window_start_)))
            return ok_ = false;
        file_end_ = std::max(file_end_, window_end_);
        window_start_ = window_end_ = 0;
        return ok_;
    }

    // Fills the gap from the end of the file up to `offset`. A write that moves nothing ends
    // the fill as a failure: repeating it would not cover the gap.
    bool zero_fill(std::int32_t offset) {
        static const std::uint8_t zeros[kZeroFillPiece] = {};
        if (xfile_seek(dat_, file_end_, 0) < 0) return false;
        while (file_end_ < offset) {
            std::int32_t piece = std::min<std::int32_t>(offset - file_end_, kZeroFillPiece);
            int put = xfile_write(dat_, zeros, piece);
            if (put <= 0) return false;
            file_end_ += put;
        }
        return true;
    }

    XFileHandle* dat_;
    XFileHandle* str_;
    std::vector<std::uint8_t> pending_;
    std::size_t pending_count_ = 0;
    std::vector<std::uint8_t> window_;  // the index's bytes from window_start_ to window_end_
    std::int32_t window_start_ = 0;
    std::int32_t window_end_ = 0;
    std::int32_t file_end_ = 0;  // how far the index file has been written
    bool ok_ = true;
};

// Writes the long messages into "Message.err" and passes them on. The lines are gathered and
// written a few kilobytes at a time: a source can have a long message for every number.
class ErrorFile final : public CompileObserver {
public:
    ErrorFile(XFileHandle* err, CompileObserver* next) : err_(err), next_(next) {}
    void long_message(int number, int string_count, long line) override {
        if (sizeof held_ - held_length_ < kLongestLine) flush();
        int n = std::snprintf(held_ + held_length_, kLongestLine, "#%-5d  The string is long. (String count=%d)\n",
                              number, string_count);
        held_length_ += static_cast<std::size_t>(std::clamp(n, 0, static_cast<int>(kLongestLine) - 1));
        if (next_) next_->long_message(number, string_count, line);
    }
    // The other warnings are the source author's, not the game's: they never go to the file.
    void warning(long line, const std::string& text) override {
        if (next_) next_->warning(line, text);
    }
    // The error file only informs: a failed write there does not fail the compile.
    void flush() {
        if (held_length_) xfile_write(err_, held_, static_cast<std::int32_t>(held_length_));
        held_length_ = 0;
    }

private:
    static constexpr std::size_t kLongestLine = 80;
    XFileHandle* err_;
    CompileObserver* next_;
    char held_[8192];
    std::size_t held_length_ = 0;
};

struct TableNames {
    char source[plat::kMaxPath + 1];
    char dat[plat::kMaxPath + 1];
    char str[plat::kMaxPath + 1];
};

bool make_names(TableNames& n) {
    return table_path(n.source, "message.txt") && table_path(n.dat, "message.dat") &&
           table_path(n.str, "message.str");
}

CompileResult compile_failure(std::string file, std::string what, bool source_opened = true) {
    CompileResult r;
    r.result = WorkResult::Failed;
    r.problem = std::move(what);
    r.file = std::move(file);
    r.source_opened = source_opened;
    return r;
}

// A table is written under a scratch name beside it (plat::OutputFile), through XFile; the
// scratch file replaces the table only when both tables are complete.
CompileResult create_output(plat::OutputFile& file, const char* target, XFileHandle** out) {
    if (!file.create(target) || !file.close_handle()) return compile_failure(target, file.problem());
    // xfile_create resolves the name it is given in place, so it gets its own copy.
    char name[plat::kMaxPath + 1];
    if (!text::copy_if_fits(name, plat::kMaxPath, file.scratch_path().c_str()))
        return compile_failure(file.scratch_path(), "the scratch file's path is too long");
    if (xfile_create(name, kXModeCreate, out, "", 2) < 0)
        return compile_failure(file.scratch_path(), "cannot open: " + plat::last_error_text());
    return {};
}

CompileResult create_error_file(XFileHandle** out) {
    char name[] = "Message.err";
    if (xfile_create(name, kXModeCreate, out, "", 2) < 0)
        return compile_failure(name, "cannot create: " + plat::last_error_text());
    return {};
}

bool finish_table(XFileHandle* h) {
    bool ok = xfile_flush(h) == kXOk;
    xfile_close(h);
    return ok;
}

void close_error_file(XFileHandle* err) {
    bool empty = xfile_size(err) == 0;
    xfile_close(err);
    if (empty) plat::delete_file("message.err");
}

}  // namespace

void Compiler::warn(long line, const std::string& text) {
    if (observer_) observer_->warning(line, text);
}

void Compiler::note_header(const HeaderNotes& notes) {
    if (notes.number == kNoToken) {
        warn(line_number_, "the header has no message number; it is stored as message " +
                               std::to_string(record_.number));
    } else if (notes.number < 0 || notes.number > 65535) {
        warn(line_number_, "message number " + std::to_string(notes.number) + " does not fit 16 bits; it is stored as " +
                               std::to_string(record_.number));
    }
    // "#0" alone is how a source closes its last message: no numbers are missed there.
    if (notes.abandoned_at && record_.number != 0) {
        warn(line_number_, std::string("the header has no ") + notes.abandoned_at +
                               " number: the rest of the line (keywords, names, points) is not read");
    } else if (notes.width_read && (notes.width < 0 || notes.width >= 300)) {
        warn(line_number_, "width " + std::to_string(notes.width) + " is out of range; 299 is used");
    }
}

void Compiler::start_message() {
    record_ = IndexRecord{};
    text_.clear();
    record_.language = static_cast<std::uint8_t>(language_);
    HeaderNotes notes;
    raw_ = read_header(line_.stripped, record_, HeaderRules::Compiler, &notes);
    record_.first_string = running_count_;
    header_line_ = line_number_;
    seen_header_ = true;
    dropped_line_ = false;
    text_line_ = 0;
    note_header(notes);
}

void Compiler::write_current(int line_mode) {
    auto earlier = defined_.find(record_.number);
    if (earlier != defined_.end())
        warn(header_line_, "message " + std::to_string(record_.number) + " is defined again (first at line " +
                               std::to_string(earlier->second) +
                               "): this definition replaces it, and the earlier strings stay unused in message.str");
    defined_[record_.number] = header_line_;
    if (!write_message(text_.c_str(), record_, out_, running_count_, line_mode)) ok_ = false;
    if (observer_ && is_too_long(record_)) observer_->long_message(record_.number, record_.string_count, header_line_);
    if (observer_) observer_->message_written(record_.number, record_.first_string, header_line_);
    std::uint8_t bytes[kIndexRecordSize];
    encode_index(record_, bytes);
    if (!out_.put_record(record_.number, bytes)) ok_ = false;
}

bool Compiler::feed(const char* piece) {
    treat_line(piece, record_, language_, line_);
    if (line_.kind == LineKind::Header) {
        if (record_.number != 0) {
            write_current(line_.line_mode);
        } else if (seen_header_ && text_line_ != 0) {
            warn(text_line_, "text under a header numbered 0 belongs to no message and is not written");
        }
        start_message();
    } else if (line_.kind == LineKind::Text) {
        if (!seen_header_ && !text_before_header_) {
            text_before_header_ = true;
            warn(line_number_, "text before the first header line belongs to no message and is not written");
        }
        if (!text_.add_line(line_, raw_) && !dropped_line_) {
            dropped_line_ = true;
            warn(line_number_, "the message's text reaches 10000 characters: this line and any after it that do not "
                               "fit are dropped");
        }
        text_line_ = line_number_;
    }
    std::size_t n = std::strlen(piece);
    if (n && piece[n - 1] == '\n') ++line_number_;
    return ok_;
}

void Compiler::finish() {
    // A message is written when the next header line comes; the last one has none.
    if (record_.number != 0)
        warn(header_line_, "message " + std::to_string(record_.number) +
                               " is never written: no header line follows it; end the source with a line \"#0\"");
    else if (seen_header_ && text_line_ != 0)
        warn(text_line_, "text under a header numbered 0 belongs to no message and is not written");
}

void feed_source(Compiler& compiler, const char* source, std::size_t size) {
    char piece[kLinePieceChars + 1];
    std::size_t at = 0;
    while (at < size) {
        std::size_t n = 0;
        while (n < static_cast<std::size_t>(kLinePieceChars) && at + n < size) {
            char c = source[at + n++];
            if (c == '\n') break;
        }
        std::memcpy(piece, source + at, n);
        piece[n] = 0;
        at += n;
        report::keep_alive();
        if (!compiler.feed(piece)) return;
    }
    compiler.finish();
}

bool MemoryOutput::put_string(const std::uint8_t* record) {
    tables_.str.insert(tables_.str.end(), record, record + kStringRecordSize);
    return true;
}

bool MemoryOutput::put_record(std::uint16_t number, const std::uint8_t* record) {
    std::size_t offset = static_cast<std::size_t>(number) * kIndexRecordSize;
    if (tables_.dat.size() < offset + kIndexRecordSize) tables_.dat.resize(offset + kIndexRecordSize, 0);
    std::memcpy(tables_.dat.data() + offset, record, kIndexRecordSize);
    return true;
}

MemoryTables compile_in_memory(const std::string& source, CompileObserver* observer) {
    MemoryTables tables;
    MemoryOutput out(tables);
    Compiler compiler(out, observer);
    feed_source(compiler, source.data(), source.size());
    return tables;
}

namespace {

// Compiles into the tables named in `names`: `feed` gives the compiler every piece of the
// source and says whether the source was read whole.
CompileResult compile_into_tables(const TableNames& names, const std::function<bool(Compiler&)>& feed,
                                  CompileObserver* observer) {
    plat::OutputFile dat_file;
    plat::OutputFile str_file;
    XFileHandle* dat = nullptr;
    XFileHandle* str = nullptr;
    XFileHandle* err = nullptr;
    CompileResult created = create_output(dat_file, names.dat, &dat);
    if (!created.failed()) created = create_output(str_file, names.str, &str);
    if (!created.failed()) created = create_error_file(&err);
    if (created.failed()) {
        xfile_close(dat);
        xfile_close(str);
        return created;
    }

    FileOutput out(dat, str);
    ErrorFile errors(err, observer);
    Compiler compiler(out, &errors);
    bool read_ok = feed(compiler);
    bool ok = compiler.ok();
    errors.flush();
    ok = out.flush() && ok;
    ok = finish_table(dat) && ok;
    ok = finish_table(str) && ok;
    close_error_file(err);
    if (!read_ok) return compile_failure(names.source, "cannot read");
    if (!ok) return compile_failure(names.dat, "cannot write the new tables: " + plat::last_error_text());

    // The index refers to the strings by position: the strings go in first, the index last.
    if (!str_file.keep()) return compile_failure(names.str, str_file.problem());
    if (!dat_file.keep()) return compile_failure(names.dat, dat_file.problem());
    return {};
}

}  // namespace

CompileResult compile_messages(CompileObserver* observer) {
    TableNames names;
    if (!make_names(names))
        return compile_failure("message.txt", "the message tables' directory is too long a path", false);
    // The source is read in pieces of 64 KiB rather than the C library's default of a page: a
    // sixteenth of the system calls. The buffer outlives the stream that uses it.
    std::vector<char> read_buffer(std::size_t{1} << 16);
    // Binary, and the line treatment strips the carriage returns: the Windows runtime's text
    // mode would give other pieces for the same file than every other system.
    std::unique_ptr<std::FILE, int (*)(std::FILE*)> source(plat::open_text(names.source, "rb"), &std::fclose);
    if (!source) return compile_failure(names.source, "cannot open: " + plat::last_error_text(), false);
    std::setvbuf(source.get(), read_buffer.data(), _IOFBF, read_buffer.size());
    return compile_into_tables(
        names,
        [&](Compiler& compiler) {
            char piece[kLinePieceChars + 1];
            bool ok = true;
            while (ok && std::fgets(piece, sizeof piece, source.get())) {
                report::keep_alive();
                ok = compiler.feed(piece);
            }
            bool read_ok = !std::ferror(source.get());
            if (ok && read_ok) compiler.finish();
            source.reset();
            return read_ok;
        },
        observer);
}

CompileResult compile_messages_from(const std::string& source, CompileObserver* observer) {
    TableNames names;
    if (!make_names(names))
        return compile_failure("message.txt", "the message tables' directory is too long a path", false);
    return compile_into_tables(
        names,
        [&](Compiler& compiler) {
            feed_source(compiler, source.data(), source.size());
            return true;
        },
        observer);
}

}  // namespace messages
