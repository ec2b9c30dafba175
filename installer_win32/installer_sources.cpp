// The installer's own sources: the payload region in its own data.
#include "payload/region.h"
#include "install/patch_sources.h"

namespace install {

InstallSources installer_patch_sources(void* owner_window, const std::string& game_dir) {
    return patch_sources({payload::installer_region(), payload::installer_digest_area()}, owner_window, game_dir);
}

}  // namespace install
