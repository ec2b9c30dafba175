// Where an installation takes its pieces from.
#include "install/patch_sources.h"

#include "payload/digest_area.h"
#include "payload/extract.h"
#include "install/locate.h"
#include "install/pre_checks.h"
#include "journal/transaction.h"
#include "platform/platform.h"
#include "platform/shortcuts.h"

namespace install {

namespace {

std::function<bool(const std::string&, std::string&)> unpacker(std::span<std::uint8_t> region) {
    if (region.empty() || !payload::holds_patch(region)) return nullptr;  // a template: nothing to unpack
    return [region](const std::string& game_dir, std::string& problem) {
        // The stage is the run's own fresh folder: each file is held from its unpacking on.
        Result unpacked =
            payload::extract_payload(region, game_dir.c_str(), nullptr, payload::ExtractHow::IntoOwnFolderHeld);
        problem = unpacked.problem;
        return !unpacked.failed();
    };
}

// A stamped region is checked against its digest before anything of it is unscrambled.
std::function<Result()> checker(const CarriedPatch& patch) {
    if (patch.region.empty() || !payload::holds_patch(patch.region)) return nullptr;
    return [patch] { return payload::verify_region(patch.region, patch.digest_area); };
}

std::string patch_name_of(const CarriedPatch& patch) {
    if (patch.region.empty() || !payload::holds_patch(patch.region)) return InstallSources{}.patch_name;
    std::string digest = payload::recorded_digest(patch.digest_area);
    return digest.empty() ? "carried, without a digest" : "sha256 " + digest;
}

// The names of the files a stamped region carries; none for a template or a damaged region
// (whose unpacking then fails and says why).
std::vector<std::string> carried_files(std::span<const std::uint8_t> region) {
    std::vector<std::string> names;
    std::vector<payload::EntryView> entries;
    if (region.empty() || !payload::holds_patch(region) || !payload::walk_entry_list(region, &entries, nullptr))
        return names;
    for (const payload::EntryView& e : entries) names.emplace_back(e.name);
    return names;
}

// A folder is the game's when it holds the two files the game cannot start without.
Result holds_game(const std::string& dir) {
    if (!plat::is_directory(dir.c_str())) return Result::failed(plat::display_path(dir) + ": the folder is not there");
    for (const char* name : {"Dravo.ini", "multigen.dat"})
        if (!plat::file_exists((dir + name).c_str()))
            return Result::failed(plat::display_path(dir) + ": it holds no " + name + ", so it is not the game's folder");
    return Result::applied();
}

// The search through the Start menu's shortcut.
Result locate_by_shortcut(void* owner_window, std::string& game_dir) {
    locate::GameLocation where;
    Result located = locate::locate_game("", owner_window, &where);
    std::string about = locate::failure_path(where);
    if (located.failed()) return Result::failed(about + ": " + located.problem);
    // A shortcut left behind by an uninstalled game points nowhere: the game is not there.
    if (!plat::is_directory(where.game_dir.c_str()))
        return Result::failed(about + ": it points into " + plat::display_path(where.game_dir) +
                              ", a folder that is not there");
    game_dir = where.game_dir;
    return Result::applied();
}

// The folder of the running program, when the game is there: a copied or portable game with
// the patch put into it has no shortcut.
bool locate_beside_program(std::string& game_dir) {
    std::string program = plat::program_path();
    std::size_t cut = program.find_last_of("\\/");
    if (cut == std::string::npos) return false;
    std::string dir = program.substr(0, cut + 1);
    if (holds_game(dir).failed()) return false;
    game_dir = dir;
    return true;
}

}  // namespace

InstallSources patch_sources(const CarriedPatch& patch, void* owner_window, const std::string& given_dir) {
    InstallSources s;
    if (!given_dir.empty()) {
        std::string dir = journal::with_backslash(journal::absolute_path(given_dir));
        s.locate_game = [dir](std::string& game_dir) {
            if (Result game = holds_game(dir); game.failed()) return game;
            game_dir = dir;
            return Result::applied();
        };
    } else {
        // A shortcut that finds the game wins; the program's own folder is the fallback.
        s.locate_game = [owner_window](std::string& game_dir) {
            Result by_shortcut = locate_by_shortcut(owner_window, game_dir);
            if (!by_shortcut.failed() || locate_beside_program(game_dir)) return Result::applied();
            return by_shortcut;
        };
    }
    s.check_patch = checker(patch);
    s.patch_name = patch_name_of(patch);
    s.unpack = unpacker(patch.region);
    s.carried_files = carried_files(patch.region);
    s.handlers = standard_work_handlers();
    s.check_work = check_work_list;
    return s;
}

InstallSources patch_sources_for(const std::string& game_dir, const CarriedPatch& patch) {
    InstallSources s;
    s.locate_game = [game_dir](std::string& dir) {
        dir = game_dir;
        return Result::applied();
    };
    s.check_patch = checker(patch);
    s.patch_name = patch_name_of(patch);
    s.unpack = unpacker(patch.region);
    s.carried_files = carried_files(patch.region);
    s.handlers = standard_work_handlers();
    s.check_work = check_work_list;
    return s;
}

}  // namespace install
