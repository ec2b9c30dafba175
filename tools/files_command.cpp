// dravo files: where does the game look for a file? Loads the game's configuration and file
// tables as the installer does (and, with --patch-dir, the patch's), then prints the file
// table or the resolution of the names asked for.
#include <CLI/CLI.hpp>

#include <cstdio>
#include <string>
#include <vector>

#include "config/config.h"
#include "config/file_table.h"
#include "xfile/records.h"
#include "platform/platform.h"
#include "tools/commands.h"
#include "tools/tool_util.h"
#include "xfile/xfile.h"

namespace tool {

namespace {

struct FilesOptions {
    std::string game_dir;
    std::string patch_dir;
    std::vector<std::string> names;
};

int load_tables(const std::string& game, const std::string& patch) {
    config::reset_configuration();
    // The installer reads the configuration with the game directory current.
    if (!plat::change_directory(game.c_str())) return fail(game, "cannot enter the directory: " + last_error());
    std::string path = game + "Dravo.ini";
    if (!config::read_configuration(path.c_str(), config::ConfigMode::Game))
        return fail(path, "cannot open: " + last_error());
    if (!patch.empty()) {
        path = patch + "patch.ini";
        if (!config::read_configuration(path.c_str(), config::ConfigMode::Patch))
            return fail(path, "cannot open: " + last_error());
    }
    path = game + "multigen.dat";
    if (!xfile::load_record_file(path.c_str())) return fail(path, "cannot open: " + last_error());
    if (!patch.empty()) {
        path = patch + "patch.dat";
        if (!xfile::load_record_file(path.c_str())) return fail(path, "cannot open: " + last_error());
    }
    return kExitOk;
}

// The game's own paths are shown in the Windows form it uses, in the terminal's characters.
std::string text(const char* game_text) { return plat::to_host_text(game_text); }

void print_table() {
    const config::Directories& dirs = config::directories();
    std::printf("# cd directory: %s\n# hd directory: %s\n# running from cd: %d\n", text(dirs.cd).c_str(),
                text(dirs.hd).c_str(), dirs.running_from_cd);
    std::printf("# name\tdirectory\tcontainer\tcd flag\n");
    const config::FileTable& table = config::file_table();
    for (std::size_t i = 0; i < table.used; ++i) {
        const config::FileEntry& e = table.entry(i);
        std::printf("%s\t%s\t%s\t%d\n", text(e.name).c_str(), e.directory_too_long ? "(too long)" : text(e.directory).c_str(),
                    text(e.container).c_str(), e.cd_flag);
    }
}

int run_files(const FilesOptions& o) {
    std::string game = directory_argument(o.game_dir);
    std::string patch = o.patch_dir.empty() ? std::string() : directory_argument(o.patch_dir);
    if (int rc = load_tables(game, patch); rc != kExitOk) return rc;
    if (o.names.empty()) {
        print_table();
    } else {
        for (const std::string& n : o.names) {
            std::vector<char> name(n.begin(), n.end());
            name.push_back(0);
            int kind = config::resolve_logical_name(name.data());
            std::printf("%s\t%d\t%s\n", text(name.data()).c_str(), kind, text(config::file_table().result).c_str());
        }
    }
    xfile::reset_xfile();
    return kExitOk;
}

}  // namespace

void add_files_command(CLI::App& app, int& exit_status) {
    auto opts = std::make_shared<FilesOptions>();
    CLI::App* cmd = app.add_subcommand(
        "files", "Print the file table, or where each NAME resolves (-1 unknown, 0 plain file, 1 container)");
    cmd->add_option("--game-dir", opts->game_dir, "The game directory (holds Dravo.ini and multigen.dat)")->required();
    cmd->add_option("--patch-dir", opts->patch_dir, "A directory holding patch.ini and patch.dat");
    cmd->add_option("NAME", opts->names, "Logical names to resolve");
    cmd->callback([opts, &exit_status] { exit_status = run_files(*opts); });
}

}  // namespace tool
