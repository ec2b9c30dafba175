// Where an installation takes its pieces from.
#include "shell/patch_sources.h"

#include "payload/extract.h"
#include "payload/locate.h"
#include "platform/shell.h"

namespace {

std::function<bool(const std::string&, std::string&)> unpacker(std::span<std::uint8_t> region) {
    if (region.empty() || !payload::holds_patch(region)) return nullptr;  // a template: nothing to unpack
    return [region](const std::string& game_dir, std::string& problem) {
        payload::ExtractFailure why;
        if (payload::extract_payload(region, game_dir.c_str(), &why) == payload::kExtractFailed) {
            problem = payload::describe(why);
            return false;
        }
        return true;
    };
}

}  // namespace

InstallSources patch_sources(std::span<std::uint8_t> region, void* owner_window) {
    InstallSources s;
    s.locate_game = [owner_window](std::string& game_dir) {
        payload::GameLocation where;
        if (payload::locate_game("", owner_window, &where) != payload::LocateStatus::Found) return false;
        game_dir = where.game_dir;
        return true;
    };
    s.unpack = unpacker(region);
    s.handlers = standard_work_handlers();
    return s;
}

InstallSources patch_sources_for(const std::string& game_dir, std::span<std::uint8_t> region) {
    InstallSources s;
    s.locate_game = [game_dir](std::string& dir) {
        dir = game_dir;
        return true;
    };
    s.unpack = unpacker(region);
    s.handlers = standard_work_handlers();
    return s;
}
