// dravo install: the installer's whole run without a window. It finds the game (or takes
// --game-dir), unpacks a stamped installer's payload (--patch) into the game directory, loads
// the configuration and file tables, asks on a terminal unless --yes, runs the work list, and
// ends with the outcome text as its last line of output. With --dry-run it runs the same flow
// on scratch copies of the files it would change and says what each item would do.
#include <CLI/CLI.hpp>

#include <cstdio>
#include <iostream>
#include <memory>
#include <string>
#include <vector>

#include "payload/digest_area.h"
#include "payload/extract.h"
#include "payload/region.h"
#include "payload/stamp.h"
#include "platform/platform.h"
#include "install/install_log.h"
#include "install/patch_sources.h"
#include "base/report.h"
#include "base/text.h"
#include "tools/commands.h"
#include "tools/tool_util.h"

namespace tool {

namespace {

struct InstallOptions {
    std::string game_dir;
    std::string patch;
    bool yes = false;
    bool dry_run = false;
    bool reinstall = false;
};

class ConsoleFace final : public install::InstallerFace {
public:
    explicit ConsoleFace(bool yes) : yes_(yes) {}
    void show_phase(install::Phase phase) override {
        if (phase == install::Phase::Searching) std::printf("Search DRAVO...\n");
        if (phase == install::Phase::Installing) std::printf("Install Patch DRAVO...\n");
        std::fflush(stdout);
    }
    bool confirm() override {
        std::printf("I am found game Dravo. And I am going to install patch.\n");
        if (yes_) return true;
        std::printf("Install it? [y/N] ");
        std::fflush(stdout);
        std::string answer;
        if (!std::getline(std::cin, answer)) answer.clear();
        bool ok = !answer.empty() && (answer[0] == 'y' || answer[0] == 'Y');
        if (!ok) std::printf("Cancelled: nothing was changed.\n");
        return ok;
    }
    // The final text is said once the run is over, after the items it passed over.
    void final_message(const std::string& text, const std::string&) override { final_text = text; }
    void notice(const std::string& text) override {
        std::printf("%s\n", plat::to_host_text(text).c_str());
        std::fflush(stdout);
    }
    std::string final_text;

private:
    bool yes_;
};

// The face of a dry run: it asks nothing, and keeps the final text for the report's end.
class DryRunFace final : public install::InstallerFace {
public:
    void show_phase(install::Phase) override {}
    bool confirm() override { return true; }
    void final_message(const std::string& text, const std::string&) override { final_text = text; }
    void notice(const std::string& text) override { std::printf("%s\n", plat::to_host_text(text).c_str()); }
    std::string final_text;
};

const char* change_word(const plat::Overlay::Change& c, bool differs) {
    switch (c.kind) {
        case plat::Overlay::Kind::Created: return "created";
        case plat::Overlay::Kind::Deleted: return "deleted";
        case plat::Overlay::Kind::Changed: return differs ? "changed" : "rewritten with the same bytes";
    }
    return "?";
}

// Each work item and what it would do, each file that would change, and the verdict last.
void print_dry_run(const install::DryRunResult& dry, const std::string& final_text) {
    const install::InstallResult& r = dry.install;
    if (!r.work.items.empty()) std::printf("Work items:\n");
    // Each item as the install log would record it.
    for (const install::WorkItemReport& item : r.work.items)
        std::printf("  %s\n", plat::to_host_text(install::work_item_line(item)).c_str());
    bool completes = r.outcome == install::InstallOutcome::Completed;
    // A failed install is rolled back whole: it changes no file, whatever its items wrote.
    if (completes && !dry.changes.empty()) std::printf("Files the install would change:\n");
    for (std::size_t i = 0; completes && i < dry.changes.size(); ++i)
        std::printf("  %s\t%s\n", change_word(dry.changes[i], dry.differs[i]),
                    plat::to_host_text(plat::display_path(dry.changes[i].path)).c_str());
    std::printf("%s\n", plat::to_host_text(final_text).c_str());
    std::printf(completes ? "Dry run: the install would complete; nothing was changed.\n"
                          : "Dry run: the install would fail, and would change nothing; nothing was changed.\n");
}

// A failed run also says why on stderr, in one line, "dravo: PATH: REASON": where the game was
// looked for and why it is not there, or the file the failure concerns (the patch when it is
// damaged, else the game folder) and the outcome's words. The outcome itself stays the last
// line of the output.
void tell_failure(const install::InstallResult& r, const std::string& patch) {
    if (r.outcome == install::InstallOutcome::Completed || r.outcome == install::InstallOutcome::Cancelled) return;
    if (!r.not_found.empty()) {
        std::fprintf(stderr, "dravo: %s\n", plat::to_host_text(r.not_found).c_str());
        return;
    }
    std::string about = r.outcome == install::InstallOutcome::PatchDamaged && !patch.empty() ? patch
                        : !r.game_dir.empty() ? shown(r.game_dir)
                                              : std::string("install");
    std::string reason;
    for (std::size_t at = 0; at < r.text.size();) {
        std::size_t end = r.text.find('\n', at);
        if (end == std::string::npos) end = r.text.size();
        std::string line = text::trimmed(r.text.substr(at, end - at));
        if (!line.empty()) reason += (reason.empty() ? "" : " ") + line;
        at = end + 1;
    }
    if (r.outcome == install::InstallOutcome::AlreadyInstalled)
        reason += " Nothing was changed; --reinstall installs it again.";
    std::fprintf(stderr, "dravo: %s: ", about.c_str());
    plat::print_text(stderr, reason + "\n");
}

class ConsoleSink final : public report::Sink {
public:
    void error_box(const char* text, const char* caption) override {
        std::fprintf(stderr, "dravo: %s: %s\n", caption, plat::to_host_text(text).c_str());
    }
    void progress_text(const char* text) override {
        std::printf("%s\n", plat::to_host_text(text[0] == '@' ? text + 1 : text).c_str());
        std::fflush(stdout);
    }
};

// An installer image is the template program with its 1.2 MB region, a few MB in all.
constexpr std::int64_t kMaxInstallerBytes = std::int64_t{64} << 20;

// The payload region of a stamped installer, copied out of its image. An installer in
// template state carries nothing to install, and is refused rather than run as a patch.
int read_region(const std::string& patch, std::vector<std::uint8_t>& region, std::vector<std::uint8_t>& digest_area) {
    std::string path = file_argument(patch);
    std::vector<std::uint8_t> image;
    if (int rc = read_whole_file(path, kMaxInstallerBytes,
                                 "a patch installer is a few MB (at most " + std::to_string(kMaxInstallerBytes) +
                                     " bytes are read)",
                                 image);
        rc != kExitOk)
        return rc;
    std::size_t offset = 0;
    payload::FindResult found = payload::find_region(image, &offset);
    if (found == payload::FindResult::NotFound) return fail(patch, "no patch region found: not a Dravo patch installer");
    if (found == payload::FindResult::Ambiguous) return fail(patch, "more than one patch region found");
    region.assign(image.begin() + static_cast<std::ptrdiff_t>(offset),
                  image.begin() + static_cast<std::ptrdiff_t>(offset + payload::kRegionBytes));
    if (!payload::holds_patch(region))
        return fail(patch, "carries no patch: its patch region is in template state");
    // A patch without its digest area is refused by the check before unpacking, in words.
    if (payload::find_digest_area(image, &offset) == payload::FindResult::Found)
        digest_area.assign(image.begin() + static_cast<std::ptrdiff_t>(offset),
                           image.begin() + static_cast<std::ptrdiff_t>(offset + payload::kDigestAreaBytes));
    return kExitOk;
}

int run_install(const InstallOptions& o) {
    // Unpacking comes before the question; with no one to ask, stop before anything is written.
    if (!o.yes && !o.dry_run && !plat::stdin_is_terminal())
        return fail("install", "no terminal to ask for confirmation: give --yes to install without asking");
    std::vector<std::uint8_t> region;
    std::vector<std::uint8_t> digest_area;
    if (!o.patch.empty()) {
        if (int rc = read_region(o.patch, region, digest_area); rc != kExitOk) return rc;
    }
    install::CarriedPatch patch{region, digest_area};
    ConsoleSink sink;
    report::set_sink(&sink);
    install::InstallSources sources = o.game_dir.empty()
                                          ? install::patch_sources(patch, nullptr)
                                          : install::patch_sources_for(directory_argument(o.game_dir), patch);
    sources.reinstall = o.reinstall;
    if (o.dry_run) {
        DryRunFace face;
        install::DryRunResult dry = install::try_installation(face, sources);
        report::set_sink(nullptr);
        print_dry_run(dry, face.final_text);
        tell_failure(dry.install, o.patch);
        return dry.install.outcome == install::InstallOutcome::Completed ? kExitOk : kExitFailure;
    }
    ConsoleFace face(o.yes);
    install::InstallResult r = install::run_installation(face, sources);
    report::set_sink(nullptr);
    // An item passed over leaves the game without its change although the patch completed:
    // each is said, with why, before the outcome.
    for (const install::WorkItemReport& item : r.work.items)
        if (item.outcome.result == WorkResult::Skipped)
            std::printf("%s\n", plat::to_host_text(install::work_item_line(item)).c_str());
    if (r.outcome != install::InstallOutcome::Cancelled) std::printf("%s\n", plat::to_host_text(face.final_text).c_str());
    std::fflush(stdout);
    tell_failure(r, o.patch);
    if (r.outcome == install::InstallOutcome::Cancelled) return kExitCancelled;
    return r.outcome == install::InstallOutcome::Completed ? kExitOk : kExitFailure;
}

}  // namespace

void add_install_command(CLI::App& app, int& exit_status) {
    auto o = std::make_shared<InstallOptions>();
    CLI::App* cmd = app.add_subcommand("install", "Install a patch as DravoPatch.exe does, without a window");
    cmd->add_option("--game-dir", o->game_dir, "The game directory (default: found through the game's shortcut)");
    cmd->add_option("--patch", o->patch,
                    "A stamped DravoPatch.exe whose files to unpack (default: patch.ini and patch.dat of the "
                    "current directory)");
    cmd->add_flag("--yes,-y", o->yes, "Install without asking");
    cmd->add_flag("--dry-run", o->dry_run,
                  "Run the install on scratch copies of the files it would change and print what each work "
                  "item would do; change nothing");
    cmd->add_flag("--reinstall", o->reinstall,
                  "Install the patch even when the game records it as installed already (its items run again)");
    cmd->callback([o, &exit_status] { exit_status = run_install(*o); });
}

}  // namespace tool
