// dravo msg: the game's message tables. "compile" builds them from a message source exactly as
// the installer does, "decompile" writes a source back from them, "show" prints one message,
// "export" and "import" hand their texts to translators in PO files and take them back.
#include <CLI/CLI.hpp>

#include <cstdio>
#include <map>
#include <string>
#include <vector>

#include "config/config.h"
#include "base/diagnostic.h"
#include "base/text.h"
#include "messages/message_compiler.h"
#include "decompiler/message_source.h"
#include "messages/message_tables.h"
#include "platform/rewrite/output_file.h"
#include "install/table_compile.h"
#include "platform/platform.h"
#include "platform/code_pages.h"
#include "tools/commands.h"
#include "tools/tool_util.h"
#include "translation/po_export.h"
#include "translation/po_import.h"
#include "xfile/xfile.h"

namespace tool {

namespace {

struct MsgOptions {
    std::string dir;
    std::string output;
    int number = 0;
    bool strict = false;
    std::string po;
    std::string encoding;
    std::string language;
    bool template_file = false;
};

// A file of a folder the user named, as the user named the folder ("bad" gives
// "bad/message.txt"), so that an editor opens it from where the command ran.
std::string as_given(const std::string& dir, const char* name) {
    if (dir.empty()) return name;
    char last = dir.back();
    return dir + (last == '/' || last == '\\' || last == ':' ? "" : "/") + name;
}

// The compiler's warnings in the form translators know from gettext's tools, on stderr.
class PrintWarnings final : public messages::CompileObserver {
public:
    explicit PrintWarnings(std::string file) : file_(std::move(file)) {}
    void long_message(int number, int string_count, long line) override {
        std::fprintf(stderr, "%s:%ld: warning: message %d: the string is long (string count %d)\n", file_.c_str(), line,
                     number, string_count);
        ++count;
    }
    void warning(long line, const std::string& text) override {
        std::fprintf(stderr, "%s:%ld: warning: ", file_.c_str(), line);
        plat::print_text(stderr, text + "\n");
        ++count;
    }
    int count = 0;

private:
    std::string file_;
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
    if (!text::copy_if_fits(config::directories().hd, config::kDirectoryCapacity, dir.c_str()))
        return fail(o.dir, kPathTooLong);
    PrintWarnings warn(as_given(o.dir, "message.txt"));
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
    if (!plat::is_directory(dir.c_str())) return fail(shown(dir + "message.txt"), "cannot be opened: the folder is not there");
    using Outcome = install::TableCompile::Outcome;
    install::TableCompile done = install::compile_tables(dir, &warn);
    const messages::CompileResult& r = done.compile;
    switch (done.outcome) {
        case Outcome::Compiled: return kExitOk;
        case Outcome::NotWhole:
            return fail(o.dir, done.step.problem + ": run \"dravo recover --game-dir " + o.dir + "\" first");
        case Outcome::NotBegun: return fail(o.dir, done.step.problem);
        case Outcome::CommitFailed:
            return fail(o.dir, "the new tables are in place, but " + done.step.problem +
                                   ": run \"dravo recover --game-dir " + o.dir + "\" to finish");
        case Outcome::RollBackFailed:
            return fail(o.dir, r.problem + "; putting the old tables back failed too (" + done.step.problem +
                                   "): run \"dravo recover --game-dir " + o.dir + "\"");
        case Outcome::CompileFailed: break;
    }
    if (!r.source_opened) return fail(shown(r.file), r.problem);
    return fail(shown(r.file), r.problem + "; the old tables are left as they were");
}

void print_decompiler_warnings(const std::string& dir, const std::vector<std::string>& warnings) {
    for (const std::string& w : warnings)
        std::fprintf(stderr, "dravo: %s: warning: %s\n", shown(dir + "message.str").c_str(), w.c_str());
}

// The files a command on the tables of `dir` reads.
std::vector<std::string> table_inputs(const std::string& dir) {
    return {dir + "message.dat", dir + "message.str", dir + "message.txt"};
}

// Writes `text` to the file the user named, or to standard output for none or "-"; never over
// one of the command's `inputs`.
int write_output(const std::string& output, const std::string& text, const std::vector<std::string>& inputs) {
    if (output.empty() || output == "-") {
        return plat::write_standard_output(text.data(), text.size()) ? kExitOk
                                                                     : fail("-", "cannot write: " + last_error());
    }
    std::string path = file_argument(output);
    if (!path_fits(path)) return fail(output, kPathTooLong);
    if (int rc = refuse_output_onto_input(output, path, inputs); rc != kExitOk) return rc;
    plat::OutputFile out;
    if (!out.create(path) || !out.write(text.data(), text.size()) || !out.keep()) return fail(output, out.problem());
    return kExitOk;
}

int run_decompile(const MsgOptions& o) {
    std::string dir = directory_argument(o.dir);
    std::vector<std::uint8_t> dat, str;
    if (int rc = load_tables(dir, dat, str); rc != kExitOk) return rc;
    decompiler::DecompiledSource source = decompiler::decompile(dat, str);
    print_decompiler_warnings(dir, source.warnings);
    return write_output(o.output, source.text, table_inputs(dir));
}

// The code page --encoding names; 0 when none was given (the texts' own default).
bool chosen_code_page(const MsgOptions& o, int* number) {
    *number = 0;
    if (o.encoding.empty()) return true;
    *number = plat::parse_code_page(o.encoding);
    if (*number == 0) {
        usage("--encoding " + o.encoding + ": not a single-byte Windows code page (cp1250 to cp1258, cp874)");
        return false;
    }
    return true;
}

// Where each message of the tables stands in DIR's message.txt, when that source compiles to
// exactly these tables (an older or newer source would point at the wrong lines).
class SourceLines final : public messages::CompileObserver {
public:
    void long_message(int, int, long) override {}
    void message_written(int number, std::uint32_t first_string, long line) override {
        lines[{number, first_string}] = line;
    }
    std::map<std::pair<int, std::uint32_t>, long> lines;
};

std::map<std::pair<int, std::uint32_t>, long> source_lines(const std::string& dir, const std::vector<std::uint8_t>& dat,
                                                           const std::vector<std::uint8_t>& str) {
    std::string path = dir + "message.txt";
    if (!plat::file_exists(path.c_str())) return {};
    std::vector<std::uint8_t> source;
    if (read_whole_file(path, kMaxSourceBytes, "a message source is a few MB", source) != kExitOk) return {};
    SourceLines observer;
    messages::MemoryTables tables = messages::compile_in_memory(std::string(source.begin(), source.end()), &observer);
    if (tables.dat != dat || tables.str != str) {
        std::fprintf(stderr, "dravo: %s: warning: it does not compile to the tables beside it; the PO names no source lines\n",
                     shown(path).c_str());
        return {};
    }
    return observer.lines;
}

int run_export(const MsgOptions& o) {
    std::string dir = directory_argument(o.dir);
    translation::ExportOptions options;
    if (!chosen_code_page(o, &options.code_page)) return kExitUsage;
    std::vector<std::uint8_t> dat, str;
    if (int rc = load_tables(dir, dat, str); rc != kExitOk) return rc;
    decompiler::DecompiledMessages tables = decompiler::decompile_messages(dat, str);
    print_decompiler_warnings(dir, tables.warnings);
    options.template_file = o.template_file;
    options.language = o.language;
    options.source_lines = source_lines(dir, dat, str);
    std::string po;
    if (Result r = translation::export_po(tables, options, &po); r.failed()) return fail(shown(dir + "message.str"), r.problem);
    return write_output(o.output, po, table_inputs(dir));
}

// A PO file is a few MB; the bound keeps a stray huge file out of memory.
constexpr std::int64_t kMaxPoBytes = std::int64_t{256} << 20;

int run_import(const MsgOptions& o) {
    std::string dir = directory_argument(o.dir);
    translation::ImportOptions options;
    if (!chosen_code_page(o, &options.code_page)) return kExitUsage;
    std::vector<std::uint8_t> dat, str, po;
    if (int rc = load_tables(dir, dat, str); rc != kExitOk) return rc;
    std::string po_path = file_argument(o.po);
    if (int rc = read_whole_file(po_path, kMaxPoBytes, "a PO file of the game's texts is a few MB", po); rc != kExitOk)
        return rc;
    decompiler::DecompiledMessages tables = decompiler::decompile_messages(dat, str);
    print_decompiler_warnings(dir, tables.warnings);
    translation::ImportResult r = translation::import_po(tables, std::string_view(reinterpret_cast<const char*>(po.data()), po.size()), options);
    int errors = 0;
    for (const diag::Diagnostic& d : r.diagnostics) {
        bool error = d.severity == diag::Severity::Error;
        // The import's texts are in UTF-8 already, the PO file's own encoding.
        std::fprintf(stderr, "%s:%ld: %s: ", o.po.c_str(), d.line, error ? "error" : "warning");
        plat::print_text(stderr, d.text + "\n", plat::kUtf8CodePage);
        errors += error ? 1 : 0;
    }
    if (r.failed()) return fail(o.po, std::to_string(errors) + " error(s); nothing was written");
    std::fprintf(stderr, "%d translated message%s, %d kept %s original text.\n", r.translated,
                 r.translated == 1 ? "" : "s", r.kept, r.kept == 1 ? "its" : "their");
    std::vector<std::string> inputs = table_inputs(dir);
    inputs.push_back(po_path);
    return write_output(o.output, r.source, inputs);
}

void print_record(const messages::IndexRecord& r) {
    std::printf("number\t%u\nhdr2\t%u\nhdr3\t%u\nhdr4\t%u\nhdr5\t%u\nwidth\t%u\npage_lines\t%u\nend_point\t%d\n", r.number,
                r.hdr2, r.hdr3, r.hdr4, r.hdr5, r.width, r.page_lines, r.end_point);
    std::printf("wav_name\t%s\navs_name\t%s\navs_first\t%u\navs_second\t%u\n", plat::to_host_text(r.wav_name).c_str(),
                plat::to_host_text(r.avs_name).c_str(), r.avs_first, r.avs_second);
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
        // The game's bytes in the terminal's characters: Windows-1251 in a "#RUS" section.
        std::printf("string %u\t%u\t[", r.first_string + i, rec.length);
        plat::print_text(stdout, rec.text, r.language == 0 ? 1251 : 1252);
        std::printf("]\n");
    }
    return kExitOk;
}

}  // namespace

void add_msg_command(CLI::App& app, int& exit_status) {
    auto opts = std::make_shared<MsgOptions>();
    CLI::App* msg = app.add_subcommand("msg", "The message tables: compile, decompile, show, export, import");
    msg->require_subcommand(1);

    CLI::App* compile = msg->add_subcommand(
        "compile", "Compile DIR/message.txt into DIR/message.dat and DIR/message.str (message.err goes here)");
    compile->add_option("DIR", opts->dir, "The directory of the message files")->required();
    compile->add_flag("--strict", opts->strict, "Take every warning as an error: exit 1 and write nothing");
    compile->callback([opts, &exit_status] { exit_status = run_compile(*opts); });

    CLI::App* decompile = msg->add_subcommand("decompile", "Write a message source from DIR's tables");
    decompile->add_option("DIR", opts->dir, "The directory of the message files")->required();
    decompile->add_option("-o,--output", opts->output, "The source file to write (default: standard output)");
    decompile->callback([opts, &exit_status] { exit_status = run_decompile(*opts); });

    CLI::App* exp = msg->add_subcommand("export", "Write DIR's message texts as a PO file for translators");
    exp->add_option("DIR", opts->dir, "The directory of the message files")->required();
    exp->add_option("-o,--output", opts->output, "The PO file to write (default: standard output)");
    exp->add_flag("--template", opts->template_file, "Write a template (.pot): a template's header, no language");
    exp->add_option("--encoding", opts->encoding,
                    "The code page of the texts (default: cp1252, and cp1251 in a #RUS section)");
    exp->add_option("--language", opts->language, "The Language field of the PO file (ru, de_AT, ...)");
    exp->callback([opts, &exit_status] { exit_status = run_export(*opts); });

    CLI::App* imp = msg->add_subcommand(
        "import", "Write a message source from DIR's messages with the translations of FILE.po");
    imp->add_option("DIR", opts->dir, "The directory of the message files the PO was exported from")->required();
    imp->add_option("FILE.po", opts->po, "The translated PO file")->required();
    imp->add_option("-o,--output", opts->output, "The message source to write (default: standard output)");
    imp->add_option("--encoding", opts->encoding,
                    "The code page of the translations (default: cp1252, and cp1251 in a #RUS section)");
    imp->callback([opts, &exit_status] { exit_status = run_import(*opts); });

    CLI::App* show = msg->add_subcommand("show", "Print message N's record and strings");
    show->add_option("DIR", opts->dir, "The directory of the message files")->required();
    show->add_option("N", opts->number, "The message number")->required();
    show->callback([opts, &exit_status] { exit_status = run_show(*opts); });
}

}  // namespace tool
