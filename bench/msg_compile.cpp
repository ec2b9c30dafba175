// Compiles a generated message source of 20,000 messages (about 5 MB) through the game's files
// as the installer and "dravo msg compile" do, and in the same run lets GNU msgfmt compile a
// .po catalog with the same number of messages and the same text. Prints both and the ratio.
#include <algorithm>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <string>

#include "config/config.h"
#include "messages/message_compiler.h"
#include "bench/bench_util.h"
#include "platform/platform.h"
#include "xfile/xfile.h"

namespace {

using Clock = std::chrono::steady_clock;
constexpr int kMessages = 20000;
constexpr int kRounds = 3;

double ms_since(Clock::time_point t) { return std::chrono::duration<double, std::milli>(Clock::now() - t).count(); }

using bench::write_all;

}  // namespace

int main() {
    std::string dir = plat::temp_directory() + "dravo-bench-msg\\";
    plat::create_directory(dir.c_str());
    std::string source, po = "msgid \"\"\nmsgstr \"Content-Type: text/plain; charset=UTF-8\\n\"\n\n";
    for (int i = 1; i <= kMessages; ++i) {
        source += "#" + std::to_string(i) + " 0 0 0 0 60 4 0\n" + bench::message_text(i, "\n");
        std::string text = bench::message_text(i, " ");
        po += "msgid \"message " + std::to_string(i) + "\"\nmsgstr \"" + text + "\"\n\n";
    }
    source += "#0\n";
    write_all(dir + "message.txt", source);
    write_all(dir + "catalog.po", po);

    config::reset_configuration();
    std::snprintf(config::directories().hd, sizeof config::directories().hd, "%s", dir.c_str());
    plat::change_directory(dir.c_str());
    double ours = 1e30;
    for (int r = 0; r < kRounds; ++r) {
        Clock::time_point t = Clock::now();
        if (messages::compile_messages().failed()) {
            std::fprintf(stderr, "msg_compile: the compile failed\n");
            return 1;
        }
        ours = std::min(ours, ms_since(t));
    }
    xfile::reset_xfile();
    std::printf("msg_compile: %d messages, %.1f MB source: %.1f ms per compile\n", kMessages, source.size() / 1e6, ours);

    std::string native_dir = plat::to_native_path(dir.c_str());
    std::string command = "msgfmt -o '" + native_dir + "/catalog.mo' '" + native_dir + "/catalog.po'";
    double theirs = 1e30;
    for (int r = 0; r < kRounds; ++r) {
        Clock::time_point t = Clock::now();
        if (std::system(command.c_str()) != 0) {
            std::printf("msg_compile: msgfmt is not available; no ratio\n");
            theirs = 0;
            break;
        }
        theirs = std::min(theirs, ms_since(t));
    }
    if (theirs > 0)
        std::printf("msg_compile: GNU msgfmt on the same %d messages: %.1f ms (ratio %.2f, below 1 is faster)\n",
                    kMessages, theirs, ours / theirs);
    for (const char* name : {"message.txt", "message.dat", "message.str", "catalog.po", "catalog.mo"})
        plat::delete_file((dir + name).c_str());
    plat::change_directory(plat::temp_directory().c_str());
    plat::remove_directory(dir.c_str());
    return 0;
}
