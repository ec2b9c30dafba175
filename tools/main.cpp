// dravo: the patch kit's command-line tool. Verbs first, errors on stderr as
// "dravo: FILE: MESSAGE", exit status 0 on success, 1 on failure, 2 on a usage error.
//
// The parser is CLI11 (Debian's libcli11-dev): header-only, so it builds for Windows with the
// same sources, and it gives subcommands, typed options and help text that a hand-written
// parser would have to grow one case at a time.
#include <CLI/CLI.hpp>

#include <cstdio>
#include <exception>
#include <new>

#include "platform/trust.h"
#include "tools/commands.h"
#include "tools/tool_util.h"

int main(int argc, char** argv) {
    plat::restrict_dll_search();  // before anything can load a DLL
    CLI::App app{"dravo: the Dravo patch kit's tool: files, containers, messages, patches"};
    app.set_version_flag("--version", std::string("dravo ") + DRAVO_VERSION);
    app.require_subcommand(1);
    int exit_status = tool::kExitOk;
    tool::add_files_command(app, exit_status);
    tool::add_container_command(app, exit_status);
    tool::add_install_command(app, exit_status);
    tool::add_pack_command(app, exit_status);
    tool::add_locate_command(app, exit_status);
    tool::add_msg_command(app, exit_status);
    tool::add_recover_command(app, exit_status);
    tool::add_unpatch_command(app, exit_status);
    tool::add_patch_command(app, exit_status);
    try {
        app.parse(argc, argv);
    } catch (const CLI::ParseError& e) {
        int code = app.exit(e);
        return code == 0 ? tool::kExitOk : tool::kExitUsage;
    } catch (const std::bad_alloc&) {
        // The commands check sizes before they allocate; this is the last line of defence, so
        // that no input ends the tool with an abort instead of a message and a failure status.
        std::fprintf(stderr, "dravo: out of memory\n");
        return tool::kExitFailure;
    } catch (const std::exception& e) {
        std::fprintf(stderr, "dravo: %s\n", e.what());
        return tool::kExitFailure;
    }
    return exit_status;
}
