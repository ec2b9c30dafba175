// Whole folders, removed by the system's own walk, which never follows a link.
#include "platform/file_tree.h"

#include "platform/intercept/overlay.h"
#include "platform/os/os.h"

namespace plat {

bool remove_tree(const std::string& dir) {
    // A dry run's view holds files only: no folder changes while it is in use.
    if (detail::overlay_active()) {
        os::set_error_kind(Error::AccessDenied);
        return false;
    }
    std::string folder = dir;
    while (folder.size() > 3 && folder.back() == '\\') folder.pop_back();
    return os::file_system().remove_tree(folder.c_str());
}

}  // namespace plat
