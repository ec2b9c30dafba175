// dravo patch: tools for the people who make patches. "make" writes the patch that turns one
// game folder into another and proves it by installing it into a view of the old one. "check"
// reads a patch, a stamped
// installer or the folder of its files, as the installer will, and lists every problem as
// "FILE:LINE: error: ..." or "FILE:LINE: warning: ..." on stderr (without ":LINE" when the
// problem is the file's as a whole). Errors make the exit status 1; warnings do not.
#include <CLI/CLI.hpp>

#include <algorithm>
#include <cstdio>
#include <string>
#include <vector>

#include "authoring/patch_lint.h"
#include "authoring/patch_maker.h"
#include "authoring/patch_proof.h"
#include "base/diagnostic.h"
#include "payload/region.h"
#include "platform/rewrite/output_file.h"
#include "platform/file_tree.h"
#include "platform/platform.h"
#include "platform/trust.h"
#include "tools/commands.h"
#include "tools/stamped_installer.h"
#include "tools/tool_util.h"

namespace tool {

namespace {

struct PatchOptions {
    std::string patch;
    std::string game_dir;
    // patch make
    std::string old_dir, new_dir, out, template_file, patch_dir;
    bool allow_partial = false;
    bool rebuild_messages = false;
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
std::string make_scratch_folder() { return plat::make_scratch_folder("dravo-check-"); }

void remove_scratch_folder(const std::string& dir) { plat::remove_tree(dir); }

int run_check(const PatchOptions& o) {
    std::string game;
    if (!o.game_dir.empty()) {
        game = absolute(directory_argument(o.game_dir));
        if (!path_fits(game)) return fail(o.game_dir, kPathTooLong);
        if (!plat::is_directory(game.c_str())) return fail(o.game_dir, "no such directory");
    }
    std::string path = absolute(file_argument(o.patch));
    if (!path_fits(path)) return fail(o.patch, kPathTooLong);
    std::vector<diag::Diagnostic> found;
    if (plat::is_directory(path.c_str())) {
        authoring::PatchToCheck patch{absolute(directory_argument(o.patch)), {}, game};
        if (!folder_files(patch.dir, &patch.carried)) return fail(o.patch, "cannot list the folder: " + last_error());
        found = authoring::check_patch_files(patch);
    } else {
        std::vector<std::uint8_t> image;
        std::string limit = "an installer is a few MB (at most " + std::to_string(kMaxInstallerBytes) + " bytes are read)";
        if (int rc = read_whole_file(path, kMaxInstallerBytes, limit, image); rc != kExitOk) return rc;
        std::string scratch = make_scratch_folder();
        if (scratch.empty()) return fail(shown(plat::temp_directory()), "cannot make a scratch folder: " + last_error());
        std::vector<std::string> unpacked;
        found = authoring::check_patch_image(image, o.patch, scratch, game, &unpacked);
        remove_scratch_folder(scratch);
    }
    for (const diag::Diagnostic& d : found)
        plat::print_text(stderr, diag::format(d) + "\n");
    return diag::any_error(found) ? kExitFailure : kExitOk;
}

// The patch's files, for an author who wants to edit them: written into `dir`, made if missing.
int write_patch_folder(const std::string& dir_arg, const std::vector<payload::PackFile>& files) {
    std::string dir = absolute(directory_argument(dir_arg));
    if (!path_fits(dir)) return fail(dir_arg, kPathTooLong);
    if (!plat::is_directory(dir.c_str()) && !make_directories(dir)) return fail(dir_arg, "cannot make it: " + last_error());
    for (const payload::PackFile& f : files) {
        plat::OutputFile out;
        if (!out.create(dir + f.name) || !out.write(f.content.data(), f.content.size()) || !out.keep())
            return fail(shown(dir + f.name), out.problem());
    }
    return kExitOk;
}

void print_lines(const char* title, const std::vector<std::string>& lines) {
    if (lines.empty()) return;
    std::printf("%s\n", title);
    for (const std::string& l : lines) std::printf("  %s\n", plat::to_host_text(l).c_str());
}

// Each file and its size, largest first: what to leave out when a patch does not fit.
std::string sizes_of(std::vector<payload::PackFile> files) {
    std::sort(files.begin(), files.end(), [](const auto& a, const auto& b) { return a.content.size() > b.content.size(); });
    std::string out;
    for (const payload::PackFile& f : files) out += "\n  " + f.name + ": " + std::to_string(f.content.size()) + " bytes";
    return out;
}

int run_make(const PatchOptions& o) {
    std::string old_dir = absolute(directory_argument(o.old_dir)), new_dir = absolute(directory_argument(o.new_dir));
    for (const std::string* d : {&old_dir, &new_dir})
        if (!plat::is_directory(d->c_str())) return fail(shown(*d), "no such directory");
    if (authoring::same_folder(old_dir, new_dir)) return fail(o.out, "no differences: nothing to patch (OLD and NEW are one folder)");
    if (Result source = authoring::check_new_source(old_dir, new_dir); source.failed())
        return fail("patch make", source.problem);
    authoring::GamePair pair;
    if (Result loaded = authoring::load_game_pair(old_dir, new_dir, &pair); loaded.failed())
        return fail("patch make", loaded.problem);
    authoring::PatchPlan plan = authoring::plan_patch(
        pair, o.rebuild_messages ? authoring::MessageWay::Rebuild : authoring::MessageWay::Items);
    if (!plan.cannot.empty() && !o.allow_partial) {
        print_lines("What the installer cannot do:", plan.cannot);
        return fail(o.out, std::to_string(plan.cannot.size()) +
                               " change(s) the installer cannot make; nothing was written (--allow-partial "
                               "writes the patch without them)");
    }
    if (plan.done.empty())
        return fail(o.out, plan.cannot.empty() ? "no differences: nothing to patch"
                                               : "nothing the installer can do: nothing was written");
    std::size_t size = payload::packed_size(plan.files);
    if (size > payload::kEntryCapacity)
        return fail(o.out, "the patch takes " + std::to_string(size) + " bytes, and an installer carries " +
                               std::to_string(payload::kEntryCapacity) + ":" + sizes_of(plan.files));
    StampedInstaller made;
    if (int rc = stamp_installer(o.template_file, plan.files, o.out, &made); rc != kExitOk) return rc;
    // The proof unpacks a copy: the installer written stays as stamped.
    std::vector<std::uint8_t> copy(made.image);
    authoring::ProofResult proof =
        authoring::prove_patch(pair, plan, std::span(copy.data() + made.region_at, payload::kRegionBytes),
                               std::span(copy.data() + made.digest_at, payload::kDigestAreaBytes));
    print_lines("The patch:", plan.done);
    print_lines("Left out, as the installer cannot do them (--allow-partial):", plan.cannot);
    print_lines("Installed into a view of OLD (OLD is not changed) and compared with NEW:", proof.lines);
    if (!proof.installed)
        return fail(o.out, "the patch does not install into OLD: " + proof.install_text + "\nnothing was written");
    if (!proof.proven())
        return fail(o.out, std::to_string(proof.differ) + " difference(s) from NEW; nothing was written" +
                               (plan.message_items && !plan.rebuilds_messages
                                    ? std::string(" (--rebuild-messages carries the messages as one rebuild of the "
                                                  "tables instead)")
                                    : std::string()));
    if (int rc = write_installer(file_argument(o.out), o.out, made.image); rc != kExitOk) return rc;
    if (!o.patch_dir.empty())
        if (int rc = write_patch_folder(o.patch_dir, plan.files); rc != kExitOk) return rc;
    std::printf("%s: %zu files, %zu of %zu bytes used\n", o.out.c_str(), plan.files.size(),
                payload::packed_size(plan.files), payload::kEntryCapacity);
    return kExitOk;
}

}  // namespace

void add_patch_command(CLI::App& app, int& exit_status) {
    auto opts = std::make_shared<PatchOptions>();
    CLI::App* patch = app.add_subcommand("patch", "Tools for patch authors: make a patch from two game folders, check one before it ships");
    patch->require_subcommand(1);

    CLI::App* check = patch->add_subcommand(
        "check", "Read a patch as the installer will and list every problem as FILE:LINE: error|warning: TEXT");
    check->add_option("PATCH", opts->patch, "A patch installer (PATCH.exe) or the folder of a patch's files")->required();
    check->add_option("--game-dir", opts->game_dir,
                      "A game to check against: members, names and check texts its tables must satisfy");
    check->callback([opts, &exit_status] { exit_status = run_check(*opts); });

    CLI::App* make = patch->add_subcommand(
        "make", "Write the patch that turns the game in OLD into the one in NEW, proven on a view of OLD");
    make->add_option("--old", opts->old_dir, "The game folder as players have it")->required();
    make->add_option("--new", opts->new_dir, "The game folder as the patch must leave it")->required();
    make->add_option("-o,--output,--out", opts->out, "The patch installer to write (--out: the older spelling)")
        ->required();
    make->add_option("--template", opts->template_file,
                     "The installer in template state (default: the one installed with the tool)");
    make->add_option("--dir", opts->patch_dir, "Also write the patch's files into this folder");
    make->add_flag("--rebuild-messages", opts->rebuild_messages,
                   "Carry changed messages as one kind '1' item that rebuilds the tables from NEW's source (done "
                   "once: skipped on tables a patch rebuilt already), not as kind '2' items");
    make->add_flag("--allow-partial", opts->allow_partial,
                   "Write the patch even when some changes cannot be made by the installer (they are listed)");
    make->callback([opts, &exit_status] { exit_status = run_make(*opts); });
}

}  // namespace tool
