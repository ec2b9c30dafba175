// Helpers shared by the dravo tool's commands.
#include "tools/tool_util.h"

#include <cstdio>

#include "platform/platform.h"

namespace tool {

std::string directory_argument(const std::string& native) {
    std::string dir = plat::from_native_path(native.c_str());
    if (!dir.empty() && dir.back() != '\\' && dir.back() != '/') dir += '\\';
    return dir;
}

std::string file_argument(const std::string& native) { return plat::from_native_path(native.c_str()); }

int fail(const std::string& file, const std::string& message) {
    std::fprintf(stderr, "dravo: %s: %s\n", file.c_str(), message.c_str());
    return kExitFailure;
}

std::string last_error() { return plat::last_error_text(); }

}  // namespace tool
