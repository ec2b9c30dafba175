// The translators' PO round trip on a catalog of 20,000 messages (the message tables of the
// compile benchmark): "dravo msg export" (tables to PO) against GNU msgunfmt (.mo to PO), and
// "dravo msg import" (PO and tables to a message source) against GNU msgfmt (PO to .mo), both
// peers on the same catalog with every entry translated, in the same run. Each side reads its
// input files and writes its output file. Prints the times and the ratios.
#include <algorithm>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <string>
#include <vector>

#include "bench/bench_util.h"
#include "decompiler/message_source.h"
#include "messages/message_compiler.h"
#include "platform/platform.h"
#include "translation/po_export.h"
#include "translation/po_import.h"

namespace {

using Clock = std::chrono::steady_clock;
constexpr int kMessages = 20000;
constexpr int kRounds = 3;

double ms_since(Clock::time_point t) { return std::chrono::duration<double, std::milli>(Clock::now() - t).count(); }

std::string read_all(const std::string& path) {
    std::vector<std::uint8_t> bytes;
    if (plat::read_whole_file(path.c_str(), std::int64_t{1} << 30, &bytes) != plat::ReadWholeResult::Done) {
        std::fprintf(stderr, "msg_po: cannot read %s\n", path.c_str());
        std::exit(1);
    }
    return std::string(bytes.begin(), bytes.end());
}

std::vector<std::uint8_t> bytes_of(const std::string& s) { return std::vector<std::uint8_t>(s.begin(), s.end()); }

double export_once(const std::string& dir) {
    Clock::time_point t = Clock::now();
    std::vector<std::uint8_t> dat = bytes_of(read_all(dir + "message.dat")), str = bytes_of(read_all(dir + "message.str"));
    std::string po;
    if (translation::export_po(decompiler::decompile_messages(dat, str), {}, &po).failed()) std::exit(1);
    bench::write_all(dir + "export.po", po);
    return ms_since(t);
}

double import_once(const std::string& dir) {
    Clock::time_point t = Clock::now();
    std::vector<std::uint8_t> dat = bytes_of(read_all(dir + "message.dat")), str = bytes_of(read_all(dir + "message.str"));
    std::string po = read_all(dir + "catalog.po");
    translation::ImportResult r = translation::import_po(decompiler::decompile_messages(dat, str), po, {});
    if (r.failed() || r.translated != kMessages) {
        std::fprintf(stderr, "msg_po: the import failed\n");
        std::exit(1);
    }
    bench::write_all(dir + "imported.txt", r.source);
    return ms_since(t);
}

// The best of kRounds runs of a shell command; 0 when it is not available.
double best_of_command(const std::string& command) {
    double best = 1e30;
    for (int r = 0; r < kRounds; ++r) {
        Clock::time_point t = Clock::now();
        if (std::system(command.c_str()) != 0) return 0;
        best = std::min(best, ms_since(t));
    }
    return best;
}

// Every msgstr set to its msgid: a catalog translated throughout, which msgfmt compiles whole.
std::string translated_throughout(const std::string& po) {
    std::string out;
    std::size_t at = 0;
    while (true) {
        std::size_t id = po.find("\nmsgid ", at);
        if (id == std::string::npos) break;
        std::size_t str = po.find("\nmsgstr \"\"\n", id);
        out += po.substr(at, str - at);
        if (at == 0) {
            out += "\nmsgstr \"\"\n";  // the first entry is the header, which stays as it is
        } else {
            std::string msgid = po.substr(id + 7, str - id - 7);
            out += "\nmsgstr " + msgid + "\n";
        }
        at = str + 11;
    }
    return out + po.substr(at);
}

}  // namespace

int main() {
    std::string dir = plat::temp_directory() + "dravo-bench-po\\";
    plat::create_directory(dir.c_str());
    std::string source;
    for (int i = 1; i <= kMessages; ++i) source += "#" + std::to_string(i) + " 0 0 0 0 60 4 0\n" + bench::message_text(i, "\n");
    source += "#0\n";
    messages::MemoryTables tables = messages::compile_in_memory(source);
    bench::write_all(dir + "message.dat", std::string(tables.dat.begin(), tables.dat.end()));
    bench::write_all(dir + "message.str", std::string(tables.str.begin(), tables.str.end()));

    double export_ms = 1e30;
    for (int r = 0; r < kRounds; ++r) export_ms = std::min(export_ms, export_once(dir));
    bench::write_all(dir + "catalog.po", translated_throughout(read_all(dir + "export.po")));
    double import_ms = 1e30;
    for (int r = 0; r < kRounds; ++r) import_ms = std::min(import_ms, import_once(dir));
    std::printf("msg_po: %d messages: export %.1f ms, import %.1f ms (PO %.1f MB)\n", kMessages, export_ms, import_ms,
                read_all(dir + "catalog.po").size() / 1e6);

    std::string native = plat::to_native_path(dir.c_str());
    double msgfmt = best_of_command("msgfmt -o '" + native + "/catalog.mo' '" + native + "/catalog.po'");
    double msgunfmt = msgfmt > 0 ? best_of_command("msgunfmt -o '" + native + "/unfmt.po' '" + native + "/catalog.mo'") : 0;
    if (msgfmt > 0 && msgunfmt > 0) {
        std::printf("msg_po: GNU msgunfmt on the same catalog: %.1f ms (export ratio %.2f, below 1 is faster)\n", msgunfmt,
                    export_ms / msgunfmt);
        std::printf("msg_po: GNU msgfmt on the same catalog: %.1f ms (import ratio %.2f, below 1 is faster)\n", msgfmt,
                    import_ms / msgfmt);
    } else {
        std::printf("msg_po: msgfmt or msgunfmt is not available; no ratio\n");
    }
    for (const char* name : {"message.dat", "message.str", "export.po", "catalog.po", "imported.txt", "catalog.mo", "unfmt.po"})
        plat::delete_file((dir + name).c_str());
    plat::remove_directory(dir.c_str());
    return 0;
}
