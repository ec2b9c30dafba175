// Helpers shared by the dravo tool's commands.
#include "tools/tool_util.h"

#include <cstdio>
#include <string>
#include <vector>

#include "platform/platform.h"
#include "platform/trust.h"

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
    std::fprintf(stderr, "dravo: %s: ", file.c_str());
    plat::print_text(stderr, message + "\n");
    return kExitFailure;
}

int refuse_output_onto_input(const std::string& output_argument, const std::string& output,
                             const std::vector<std::string>& inputs) {
    plat::FileIdentity out;
    if (!plat::file_identity(output.c_str(), &out)) return kExitOk;  // a new file is no input
    for (const std::string& input : inputs)
        if (plat::FileIdentity in; plat::file_identity(input.c_str(), &in) && in == out)
            return fail(output_argument, "is the same file as the input " + shown(input) + "; nothing was written");
    return kExitOk;
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

namespace {

constexpr const char* kTemplateName = "DravoPatch.exe";

// The folder part of a path in the core's form, with its trailing separator; empty when the
// path names no folder.
std::string folder_of(const std::string& path) {
    std::size_t cut = path.find_last_of("\\/");
    return cut == std::string::npos ? std::string() : path.substr(0, cut + 1);
}

}  // namespace

std::vector<std::string> template_candidates() {
    std::string bin = folder_of(plat::program_path());
    if (bin.empty()) return {};
    std::vector<std::string> places{bin + kTemplateName};
    // The prefix is the folder above the program's own; a program at a drive's root has none.
    std::string prefix = folder_of(bin.substr(0, bin.size() - 1));
    if (!prefix.empty()) places.push_back(prefix + "share\\dravo\\" + kTemplateName);
    return places;
}

std::string default_template() {
    for (const std::string& place : template_candidates())
        if (plat::file_exists(place.c_str()) && !plat::is_directory(place.c_str())) return place;
    return {};
}

int fail_no_template() {
    std::vector<std::string> places = template_candidates();
    if (places.empty())
        return fail(kTemplateName, "no template given, and the tool cannot tell where it runs from to look for one; "
                                   "name the installer template with --template");
    std::string looked;
    for (const std::string& place : places) looked += (looked.empty() ? "" : " nor at ") + plat::display_path(place);
    return fail(kTemplateName, "no template given, and none at " + looked +
                                   "; name the installer template with --template");
}

}  // namespace tool
