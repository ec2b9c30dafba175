// Whole folders, through the platform's own operations only.
#include "platform/file_tree.h"

#include <vector>

#include "platform/platform.h"

namespace plat {

bool remove_tree(const std::string& dir) {
    std::string folder = dir;
    if (!folder.empty() && folder.back() == '\\') folder.pop_back();
    std::vector<std::string> names;
    if (!list_directory(folder.c_str(), &names)) return false;
    bool ok = true;
    for (const std::string& name : names) {
        std::string path = folder + "\\" + name;
        ok = (is_directory(path.c_str()) ? remove_tree(path) : delete_file(path.c_str())) && ok;
    }
    return ok && remove_directory(folder.c_str());
}

}  // namespace plat
