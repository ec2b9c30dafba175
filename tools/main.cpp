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

namespace {

// The commands named on the command line, walked down from the tool itself ("dravo container
// list" gives the container command's list); stops at the first option or at a word that names
// no command, which goes into `unknown`.
CLI::App* named_command(CLI::App& app, int argc, char** argv, std::string* unknown) {
    CLI::App* at = &app;
    for (int i = 1; i < argc && argv[i][0] != '-'; ++i) {
        std::vector<CLI::App*> subs = at->get_subcommands({});
        if (subs.empty()) break;
        CLI::App* next = nullptr;
        for (CLI::App* sub : subs)
            if (sub->check_name(argv[i])) next = sub;
        if (!next) {
            *unknown = argv[i];
            break;
        }
        at = next;
    }
    return at;
}

// The command as the user calls it: "dravo", "dravo container list".
std::string command_path(const CLI::App* cmd) {
    std::string path;
    for (const CLI::App* a = cmd; a; a = a->get_parent()) path = (a->get_parent() ? " " + a->get_name() : "dravo") + path;
    return path;
}

}  // namespace

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
    std::string unknown;
    CLI::App* named = named_command(app, argc, argv, &unknown);
    if (!unknown.empty() && !named->get_subcommands({}).empty()) {
        std::string names;
        for (const CLI::App* sub : named->get_subcommands({})) names += (names.empty() ? "" : ", ") + sub->get_name();
        std::fprintf(stderr, "dravo: %s: unknown command; %s takes one of: %s\n", unknown.c_str(),
                     command_path(named).c_str(), names.c_str());
        return tool::kExitUsage;
    }
    try {
        app.parse(argc, argv);
    } catch (const CLI::ParseError& e) {
        // Help and the version go to stdout as asked; a usage error is one line on stderr, in
        // the tool's own form, with where to read how the command is used.
        if (e.get_exit_code() == static_cast<int>(CLI::ExitCodes::Success)) {
            app.exit(e);
            return tool::kExitOk;
        }
        std::fprintf(stderr, "dravo: %s (see %s --help)\n", e.what(), command_path(named).c_str());
        return tool::kExitUsage;
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
