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
    out.clear();
    plat::Handle h = plat::open_file(path.c_str(), plat::Access::Read, plat::Disposition::OpenExisting);
    if (h == plat::Handle::Invalid) return fail(shown(path), "cannot open: " + last_error());
    std::int64_t size = plat::file_size(h);
    if (size < 0) {
        std::string error = last_error();
        plat::close_file(h);
        return fail(shown(path), "cannot read its size: " + error);
    }
    if (size > max_bytes) {
        plat::close_file(h);
        return fail(shown(path), "too large: " + std::to_string(size) + " bytes; " + limit);
    }
    out.resize(static_cast<std::size_t>(size));
    std::uint32_t got = 0;
    bool read = out.empty() || plat::read_file(h, out.data(), static_cast<std::uint32_t>(out.size()), &got);
    std::string error = read ? std::string() : last_error();
    plat::close_file(h);
    if (!read) return fail(shown(path), "cannot read: " + error);
    if (got != out.size())
        return fail(shown(path), "cannot read: it ended after " + std::to_string(got) + " of " + std::to_string(size) +
                              " bytes");
    return kExitOk;
}

}  // namespace tool
