// payload_template DIR: a program that carries a payload region, as the installer does, and
// unpacks it into DIR. Tests stamp a copy with "dravo pack build" and run it, to see that a
// patch written by the tool comes out of a real program's data as it went in.
// Exit status: 0 unpacked (or nothing carried: the region is in template state), 1 failed.
#include <cstdio>
#include <string>

#include "payload/extract.h"
#include "payload/region.h"
#include "platform/platform.h"

int main(int argc, char** argv) {
    if (argc != 2) {
        std::fprintf(stderr, "usage: payload_template DIR\n");
        return 2;
    }
    std::span<std::uint8_t> region = payload::installer_region();
    if (!payload::holds_patch(region)) {
        std::printf("template\n");
        return 0;
    }
    std::string dir = plat::from_native_path(argv[1]);
    if (dir.back() != '\\' && dir.back() != '/') dir += '\\';
    Result unpacked = payload::extract_payload(region, dir.c_str());
    if (unpacked.failed()) {
        std::fprintf(stderr, "payload_template: %s\n", unpacked.problem.c_str());
        return 1;
    }
    return 0;
}
