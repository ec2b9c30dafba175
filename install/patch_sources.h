// Where an installation takes its pieces from: the game's location, the payload region to
// unpack, and the work items' handlers.
#pragma once

#include <cstdint>
#include <span>
#include <string>

#include "install/main_flow.h"

namespace install {

// A patch as a program carries it: the payload region (its own array for the installer, a
// copy of a patch's region for the tool) and the digest area that vouches for it.
struct CarriedPatch {
    std::span<std::uint8_t> region;
    std::span<const std::uint8_t> digest_area;
};

// Locates the game through its shortcut, else in the running program's own folder when the
// game is there; or takes `game_dir` when given (it must hold Dravo.ini and multigen.dat).
// Checks the patch against its digest and unpacks it, unless its region is in template state.
// `owner_window` null: the shortcut is resolved without any window.
InstallSources patch_sources(const CarriedPatch& patch, void* owner_window, const std::string& game_dir = "");

// The same with a game directory given instead of the shortcut search.
InstallSources patch_sources_for(const std::string& game_dir, const CarriedPatch& patch);

// The installer's own: its embedded region. Defined only in the installer.
InstallSources installer_patch_sources(void* owner_window, const std::string& game_dir = "");

}  // namespace install
