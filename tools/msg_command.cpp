// dravo msg: the game's message tables. "compile" builds them from a message source exactly as
// the installer does, "decompile" writes a source back from them, "show" prints one message.
#include <CLI/CLI.hpp>

#include <cstdio>
#include <string>
#include <vector>

#include "config/config.h"
#include "base/text.h"
#include "messages/message_compiler.h"
#include "decompiler/message_source.h"
#include "messages/message_tables.h"
#include "platform/output_file.h"
#include "platform/platform.h"
#include "tools/commands.h"
#include "tools/tool_util.h"
#include "xfile/xfile.h"

namespace tool {

namespace {

struct MsgOptions {
    std::string dir;
    std::string output;
    int number = 0;
    bool strict = false;
};

// The compiler's warnings in the form translators know from gettext's tools, on stderr.
class PrintWarnings final : public messages::CompileObserver {
public:
    void long_message(int number, int string_count, long line) override {
        std::fprintf(stderr, "message.txt:%ld: warning: message %d: the string is long (string count %d)\n", line,
                     number, string_count);
        ++count;
    }
    void warning(long line, const std::string& text) override {
        std::fprintf(stderr, "message.txt:%ld: warning: %s\n", line, plat::to_host_text(text).c_str());
        ++count;
    }
    int count = 0;
};

// A source is a few MB at the most; the bound only keeps a stray huge file out of memory.
constexpr std::int64_t kMaxSourceBytes = std::int64_t{256} << 20;

// message.dat holds one record per message number, and a number has 16 bits.
constexpr std::int64_t kMaxIndexBytes = std::int64_t{65536} * messages::kIndexRecordSize;
// message.str has no such bound: a message may have up to 255 strings, each of 305 bytes.
// 256 MiB is some 880,000 strings, many times what a game's texts take, and small enough for
// the tables and their decompiled source to be held at once by a 32-bit Windows process.
constexpr std::int64_t kMaxStringBytes = std::int64_t{256} << 20;

int load_tables(const std::string& dir, std::vector<std::uint8_t>& dat, std::vector<std::uint8_t>& str) {
    if (int rc = read_whole_file(dir + "message.dat", kMaxIndexBytes,
                                 "message.dat holds at most 65536 records of 180 bytes (" +
                                     std::to_string(kMaxIndexBytes) + " bytes)",
                                 dat);
        rc != kExitOk)
        return rc;
    return read_whole_file(dir + "message.str", kMaxStringBytes,
                           "the tool reads message.str of at most " + std::to_string(kMaxStringBytes) +
                               " bytes (some 880,000 strings)",
                           str);
}

int run_compile(const MsgOptions& o) {
    std::string dir = directory_argument(o.dir);
    config::reset_configuration();
    if (!config::copy_if_fits(config::directories().hd, config::kDirectoryCapacity, dir.c_str()))
        return fail(o.dir, kPathTooLong);
    PrintWarnings warn;
    if (o.strict) {
        // Compiled in memory first: with any warning, nothing is written at all.
        std::vector<std::uint8_t> source;
        if (int rc = read_whole_file(dir + "message.txt", kMaxSourceBytes, "a message source is a few MB", source);
            rc != kExitOk)
            return rc;
        messages::compile_in_memory(std::string(source.begin(), source.end()), &warn);
        if (warn.count > 0)
            return fail(shown(dir + "message.txt"), std::to_string(warn.count) +
                                                        " warning(s), taken as errors (--strict): nothing was written");
    }
    messages::CompileResult r = messages::compile_messages(&warn);
    xfile::reset_xfile();
    if (!r.failed()) return kExitOk;
    if (!r.source_opened) return fail(shown(r.file), r.problem);
    return fail(shown(r.file), r.problem + "; the old tables are left as they were");
}

int run_decompile(const MsgOptions& o) {
    std::string dir = directory_argument(o.dir);
    std::vector<std::uint8_t> dat, str;
    if (int rc = load_tables(dir, dat, str); rc != kExitOk) return rc;
    messages::DecompiledSource source = messages::decompile(dat, str);
    for (const std::string& w : source.warnings)
        std::fprintf(stderr, "dravo: %s: warning: %s\n", shown(dir + "message.str").c_str(), w.c_str());
    if (o.output.empty() || o.output == "-") {
        return plat::write_standard_output(source.text.data(), source.text.size()) ? kExitOk
                                                                                  : fail("-", "cannot write: " + last_error());
    }
    std::string path = file_argument(o.output);
    if (!path_fits(path)) return fail(o.output, kPathTooLong);
    plat::OutputFile out;
    if (!out.create(path) || !out.write(source.text.data(), source.text.size()) || !out.keep())
        return fail(o.output, out.problem());
    return kExitOk;
}

void print_record(const messages::IndexRecord& r) {
    std::printf("number\t%u\nhdr2\t%u\nhdr3\t%u\nhdr4\t%u\nhdr5\t%u\nwidth\t%u\npage_lines\t%u\nend_point\t%d\n", r.number,
                r.hdr2, r.hdr3, r.hdr4, r.hdr5, r.width, r.page_lines, r.end_point);
    std::printf("wav_name\t%s\navs_name\t%s\navs_first\t%u\navs_second\t%u\n", r.wav_name, r.avs_name, r.avs_first,
                r.avs_second);
    std::printf("string_count\t%u\nfirst_string\t%u\npoints\t", r.string_count, r.first_string);
    for (int k = 0; k < messages::kPointCount; ++k) std::printf(k ? " %d" : "%d", r.points[k]);
    std::printf("\nraw\t%u\nnostop\t%u\nalign\t%u\ndots\t%u\nhas_points\t%u\nlanguage\t%u\n", r.raw, r.nostop, r.align,
                r.dots, r.has_points, r.language);
}

int run_show(const MsgOptions& o) {
    std::string dir = directory_argument(o.dir);
    std::vector<std::uint8_t> dat, str;
    if (int rc = load_tables(dir, dat, str); rc != kExitOk) return rc;
    std::size_t at = static_cast<std::size_t>(o.number) * messages::kIndexRecordSize;
    if (o.number < 1 || at + messages::kIndexRecordSize > dat.size())
        return fail(shown(dir + "message.dat"), "no message " + std::to_string(o.number));
    messages::IndexRecord r = messages::decode_index(std::span(dat).subspan(at, messages::kIndexRecordSize));
    if (!messages::is_valid_record(r, o.number))
        return fail(shown(dir + "message.dat"), "no message " + std::to_string(o.number));
    print_record(r);
    for (std::uint32_t i = 0; i < r.string_count; ++i) {
        std::size_t s = (static_cast<std::size_t>(r.first_string) + i) * messages::kStringRecordSize;
        if (s + messages::kStringRecordSize > str.size())
            return fail(shown(dir + "message.str"), "string " + std::to_string(r.first_string + i) + " is missing");
        messages::StringRecord rec = messages::decode_string(std::span(str).subspan(s, messages::kStringRecordSize));
        std::printf("string %u\t%u\t[%s]\n", r.first_string + i, rec.length, rec.text);
    }
    return kExitOk;
}

}  // namespace

void add_msg_command(CLI::App& app, int& exit_status) {
    auto opts = std::make_shared<MsgOptions>();
    CLI::App* msg = app.add_subcommand("msg", "The message tables: compile, decompile, show");
    msg->require_subcommand(1);

    CLI::App* compile = msg->add_subcommand(
        "compile", "Compile DIR/message.txt into DIR/message.dat and DIR/message.str (Message.err goes here)");
    compile->add_option("DIR", opts->dir, "The directory of the message files")->required();
    compile->add_flag("--strict", opts->strict, "Take every warning as an error: exit 1 and write nothing");
    compile->callback([opts, &exit_status] { exit_status = run_compile(*opts); });

    CLI::App* decompile = msg->add_subcommand("decompile", "Write a message source from DIR's tables");
    decompile->add_option("DIR", opts->dir, "The directory of the message files")->required();
    decompile->add_option("-o,--output", opts->output, "The source file to write (default: standard output)");
    decompile->callback([opts, &exit_status] { exit_status = run_decompile(*opts); });

    CLI::App* show = msg->add_subcommand("show", "Print message N's record and strings");
    show->add_option("DIR", opts->dir, "The directory of the message files")->required();
    show->add_option("N", opts->number, "The message number")->required();
    show->callback([opts, &exit_status] { exit_status = run_show(*opts); });
}

}  // namespace tool
