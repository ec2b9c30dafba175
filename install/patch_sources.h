// Where an installation takes its pieces from: the game's location, the payload region to
// unpack, and the work items' handlers.
#pragma once

#include <cstdint>
#include <span>
#include <string>

#include "install/main_flow.h"

// Locates the game through its shortcut; unpacks `region` (its own array for the installer,
// a copy of a patch's region for the tool) unless it is in template state.
InstallSources patch_sources(std::span<std::uint8_t> region, void* owner_window);

// The same with a game directory given instead of the shortcut search.
InstallSources patch_sources_for(const std::string& game_dir, std::span<std::uint8_t> region);

// The installer's own: its embedded region. Defined only in the installer.
InstallSources installer_patch_sources(void* owner_window);
