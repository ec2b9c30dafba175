// The shell-link reader: any bytes as a shortcut file. The input is copied to an allocation
// of exactly its size, so that any read behind its end shows.
#include <cstdint>
#include <cstring>
#include <vector>

#include "platform/rules/shell_link.h"

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    std::vector<std::uint8_t> bytes(data, data + size);
    bytes.shrink_to_fit();
    plat::ShellLink link;
    if (plat::parse_shell_link(bytes, &link)) {
        plat::LinkTarget target = plat::shell_link_target(link);
        if (target.kind == plat::LinkTarget::Kind::RelativePath)
            plat::join_relative_path("c:\\ProgramData\\Start Menu", target.path);
    }
    return 0;
}
