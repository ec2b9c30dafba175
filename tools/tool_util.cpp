// Helpers shared by the dravo tool's commands.
#include "tools/tool_util.h"

#include <cstdio>
#include <string>
#include <vector>

#include "platform/platform.h"

namespace tool {

std::string directory_argument(const std::string& native) {
    std::string dir = plat::from_native_path(native.c_str());
    if (!dir.empty() && dir.back() != '\\' && dir.back() != '/') dir += '\\';
    return dir;
}

std::string file_argument(const std::string& native) { return plat::from_native_path(native.c_str()); }

bool path_fits(const std::string& core_path) { return core_path.size() <= plat::kMaxPath; }

std::string shown(const std::string& core_path) { return plat::to_host_text(plat::display_path(core_path)); }

int fail(const std::string& file, const std::string& message) {
    // The file is named as typed or as shown(); the message is the core's text, in the code page.
    std::fprintf(stderr, "dravo: %s: %s\n", file.c_str(), plat::to_host_text(message).c_str());
    return kExitFailure;
}

int usage(const std::string& message) {
    std::fprintf(stderr, "dravo: %s\n", message.c_str());
    return kExitUsage;
}

bool make_directories(const std::string& core_dir) {
    // Each prefix that ends at a separator, past the drive's root, is one directory level.
    for (std::size_t at = core_dir.find_first_of("\\/", 3); at != std::string::npos;
         at = core_dir.find_first_of("\\/", at + 1)) {
        std::string level = core_dir.substr(0, at);
        if (plat::is_directory(level.c_str())) continue;
        if (!plat::create_directory(level.c_str())) return false;
    }
    return plat::is_directory(core_dir.c_str());
}

std::string last_error() { return plat::last_error_text(); }

int read_whole_file(const std::string& path, std::int64_t max_bytes, const std::string& limit,
                    std::vector<std::uint8_t>& out) {
    std::int64_t size = 0;
    switch (plat::read_whole_file(path.c_str(), max_bytes, &out, &size)) {
        case plat::ReadWholeResult::Done: return kExitOk;
        case plat::ReadWholeResult::OpenFailed: return fail(shown(path), "cannot open: " + last_error());
        case plat::ReadWholeResult::SizeFailed: return fail(shown(path), "cannot read its size: " + last_error());
        case plat::ReadWholeResult::TooLarge:
            return fail(shown(path), "too large: " + std::to_string(size) + " bytes; " + limit);
        case plat::ReadWholeResult::ReadFailed: return fail(shown(path), "cannot read: " + last_error());
        case plat::ReadWholeResult::EndedEarly: break;
    }
    return fail(shown(path), "cannot read: it ended after " + std::to_string(out.size()) + " of " +
                                 std::to_string(size) + " bytes");
}

}  // namespace tool
