// dravo locate: where is the game? Finds its shortcut as the installer does and prints the
// game directory.
#include <CLI/CLI.hpp>

#include <cstdio>
#include <string>

#include "install/locate.h"
#include "platform/platform.h"
#include "tools/commands.h"
#include "tools/tool_util.h"

namespace tool {

namespace {

struct LocateOptions {
    std::string windows_dir;
    bool verbose = false;
};

int run_locate(const LocateOptions& o) {
    std::string windows = o.windows_dir.empty() ? std::string() : directory_argument(o.windows_dir);
    if (!windows.empty() && windows.size() > 3 && windows.back() == '\\') windows.pop_back();
    install::locate::GameLocation where;
    Result located = install::locate::locate_game(windows, nullptr, &where);
    if (where.shortcut.empty()) return fail(plat::to_host_text(install::locate::failure_path(where)), located.problem);
    if (o.verbose)
        std::fprintf(stderr, "shortcut: %s\ntarget: %s\n", plat::to_host_text(where.shortcut).c_str(),
                     plat::to_host_text(where.target).c_str());
    if (located.failed()) return fail(where.shortcut, located.problem);
    std::printf("%s\n", plat::to_host_text(where.game_dir).c_str());
    return kExitOk;
}

}  // namespace

void add_locate_command(CLI::App& app, int& exit_status) {
    auto opts = std::make_shared<LocateOptions>();
    CLI::App* cmd = app.add_subcommand(
        "locate", "Find the game's shortcut Dravo.lnk (Start menu, then the Windows directory) and print the game directory");
    cmd->add_option("--windows-dir", opts->windows_dir, "Search below this directory in place of the Windows directory");
    cmd->add_flag("-v,--verbose", opts->verbose, "Also print the shortcut and its target on stderr");
    cmd->callback([opts, &exit_status] { exit_status = run_locate(*opts); });
}

}  // namespace tool
