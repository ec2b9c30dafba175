// dravo patch: tools for the people who make patches. "check" reads a patch, a stamped
// installer or the folder of its files, as the installer will, and lists every problem as
// "FILE:LINE: error: ..." or "FILE:LINE: warning: ..." on stderr (without ":LINE" when the
// problem is the file's as a whole). Errors make the exit status 1; warnings do not.
#include <CLI/CLI.hpp>

#include <algorithm>
#include <cstdio>
#include <string>
#include <vector>

#include "install/patch_lint.h"
#include "platform/platform.h"
#include "tools/commands.h"
#include "tools/tool_util.h"

namespace tool {

namespace {

struct PatchOptions {
    std::string patch;
    std::string game_dir;
};

// A patch installer is the program with its 1.2 MB region, a few MB in all.
constexpr std::int64_t kMaxInstallerBytes = std::int64_t{64} << 20;

// The checker makes the game folder current while it reads, so a relative path is made whole
// first, against the directory the user typed it in.
std::string absolute(const std::string& core_path) {
    bool whole = (core_path.size() >= 2 && core_path[1] == ':') || (!core_path.empty() && core_path[0] == '\\');
    if (whole) return core_path;
    std::string cwd = plat::current_directory();
    if (!cwd.empty() && cwd.back() != '\\') cwd += '\\';
    return cwd + core_path;
}

// The files a patch folder holds, as `pack build` would be given them; folders are not files.
bool folder_files(const std::string& dir, std::vector<std::string>* names) {
    std::vector<std::string> all;
    if (!plat::list_directory(dir.c_str(), &all)) return false;
    for (const std::string& n : all)
        if (!plat::is_directory((dir + n).c_str())) names->push_back(n);
    std::sort(names->begin(), names->end());
    return true;
}

// The installer's files are unpacked into a scratch folder of their own, removed afterwards.
std::string make_scratch_folder() {
    std::string base = plat::temp_directory() + "dravo-check-" + std::to_string(plat::process_id());
    for (int n = 0; n < 100; ++n) {
        std::string dir = base + "." + std::to_string(n);
        if (plat::create_directory(dir.c_str())) return dir + "\\";
    }
    return {};
}

void remove_scratch_folder(const std::string& dir, const std::vector<std::string>& names) {
    for (const std::string& n : names) plat::delete_file((dir + n).c_str());
    plat::remove_directory(dir.substr(0, dir.size() - 1).c_str());
}

int run_check(const PatchOptions& o) {
    std::string game;
    if (!o.game_dir.empty()) {
        game = absolute(directory_argument(o.game_dir));
        if (!path_fits(game)) return fail(o.game_dir, kPathTooLong);
        if (!plat::is_directory(game.c_str())) return fail(o.game_dir, "no such directory");
    }
    std::string path = absolute(file_argument(o.patch));
    if (!path_fits(path)) return fail(o.patch, kPathTooLong);
    std::vector<lint::Diagnostic> found;
    if (plat::is_directory(path.c_str())) {
        lint::PatchToCheck patch{absolute(directory_argument(o.patch)), {}, game};
        if (!folder_files(patch.dir, &patch.carried)) return fail(o.patch, "cannot list the folder: " + last_error());
        found = lint::check_patch_files(patch);
    } else {
        std::vector<std::uint8_t> image;
        std::string limit = "an installer is a few MB (at most " + std::to_string(kMaxInstallerBytes) + " bytes are read)";
        if (int rc = read_whole_file(path, kMaxInstallerBytes, limit, image); rc != kExitOk) return rc;
        std::string scratch = make_scratch_folder();
        if (scratch.empty()) return fail(shown(plat::temp_directory()), "cannot make a scratch folder: " + last_error());
        std::vector<std::string> unpacked;
        found = lint::check_patch_image(image, o.patch, scratch, game, &unpacked);
        remove_scratch_folder(scratch, unpacked);
    }
    for (const lint::Diagnostic& d : found) std::fprintf(stderr, "%s\n", plat::to_host_text(lint::format(d)).c_str());
    return lint::any_error(found) ? kExitFailure : kExitOk;
}

}  // namespace

void add_patch_command(CLI::App& app, int& exit_status) {
    auto opts = std::make_shared<PatchOptions>();
    CLI::App* patch = app.add_subcommand("patch", "Tools for patch authors: check a patch before it ships");
    patch->require_subcommand(1);

    CLI::App* check = patch->add_subcommand(
        "check", "Read a patch as the installer will and list every problem as FILE:LINE: error|warning: TEXT");
    check->add_option("PATCH", opts->patch, "A patch installer (PATCH.exe) or the folder of a patch's files")->required();
    check->add_option("--game-dir", opts->game_dir,
                      "A game to check against: members, names and check texts its tables must satisfy");
    check->callback([opts, &exit_status] { exit_status = run_check(*opts); });
}

}  // namespace tool
