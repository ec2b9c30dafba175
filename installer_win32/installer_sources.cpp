// The installer's own sources: the payload region in its own data.
#include "payload/region.h"
#include "install/patch_sources.h"
#include "install/programs_list.h"

namespace install {

InstallSources installer_patch_sources(void* owner_window, const std::string& game_dir) {
    InstallSources sources =
        patch_sources({payload::installer_region(), payload::installer_digest_area()}, owner_window, game_dir);
    // The installer keeps the system's list of programs in step with the game's installs.
    sources.programs = system_programs_list();
    return sources;
}

}  // namespace install
