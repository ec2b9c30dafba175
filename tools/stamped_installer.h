// A patch installer made from the template: its image with the patch's files stamped into the
// payload region and their digest recorded. Shared by "pack build" and "patch make".
#pragma once

#include <cstddef>
#include <cstdint>
#include <string>
#include <vector>

#include "payload/stamp.h"

namespace tool {

struct StampedInstaller {
    std::vector<std::uint8_t> image;
    std::size_t region_at = 0;  // where the payload region lies in the image
    std::size_t digest_at = 0;  // where the digest area lies
};

// Reads the template (`template_arg` as typed; empty: the template installed with the tool),
// stamps `files` into a copy of it and records their digest. Prints the failure, naming
// `out_name` when the files do not fit, and returns the exit status.
int stamp_installer(const std::string& template_arg, const std::vector<payload::PackFile>& files,
                    const std::string& out_name, StampedInstaller* out);

// Writes the image in one step (a scratch file beside `path`, swapped in when whole).
int write_installer(const std::string& path, const std::string& out_name, const std::vector<std::uint8_t>& image);

}  // namespace tool
