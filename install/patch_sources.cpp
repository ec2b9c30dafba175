// Where an installation takes its pieces from.
#include "install/patch_sources.h"

#include "payload/digest_area.h"
#include "payload/extract.h"
#include "install/locate.h"
#include "install/pre_checks.h"
#include "platform/platform.h"
#include "platform/shortcuts.h"

namespace install {

namespace {

std::function<bool(const std::string&, std::string&)> unpacker(std::span<std::uint8_t> region) {
    if (region.empty() || !payload::holds_patch(region)) return nullptr;  // a template: nothing to unpack
    return [region](const std::string& game_dir, std::string& problem) {
        Result unpacked = payload::extract_payload(region, game_dir.c_str());
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

}  // namespace

InstallSources patch_sources(const CarriedPatch& patch, void* owner_window) {
    InstallSources s;
    s.locate_game = [owner_window](std::string& game_dir) {
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
    };
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
