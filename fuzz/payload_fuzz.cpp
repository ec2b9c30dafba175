// The payload extraction: any bytes as a stamped region, unpacked into a scratch directory.
// The input is copied to an allocation of exactly its size, so that any read or write
// behind the region's end shows; after the run, no file may exist outside the directory, and
// none at all when the list is damaged.
#include <cstdint>
#include <cstring>
#include <string>
#include <vector>

#include "fuzz/memory_files.h"
#include "payload/extract.h"
#include "payload/stamp.h"
#include "platform/platform.h"

namespace {

const char kRoot[] = "m:\\payload";
const char kGame[] = "m:\\payload\\game\\";

std::vector<std::string> names_in(const std::string& dir) {
    std::vector<std::string> names;
    plat::list_directory(dir.c_str(), &names);
    return names;
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    use_memory_files();
    static const bool made = plat::create_directory(kRoot) && plat::create_directory(kGame);
    if (!made) __builtin_trap();
    std::uint8_t* region = new std::uint8_t[size ? size : 1];
    if (size) std::memcpy(region, data, size);
    Result result = payload::extract_payload({region, size}, kGame);
    // Applied or failed, and a failure always says why.
    if (result.result == WorkResult::Skipped || result.failed() == result.problem.empty()) __builtin_trap();

    // The walk the tool lists with must agree on the same bytes: a damaged list is refused
    // whole, before it writes any file.
    bool sound = payload::walk_entry_list({data, size}, nullptr, nullptr);
    if (!sound && !result.failed()) __builtin_trap();
    delete[] region;
    std::vector<std::string> unpacked = names_in(kGame);
    if (!sound && !unpacked.empty()) __builtin_trap();

    if (names_in(kRoot) != std::vector<std::string>{"game"}) __builtin_trap();  // something escaped the game directory
    for (const std::string& name : unpacked) {
        std::string path = kGame + name;
        if (plat::is_directory(path.c_str()) || !plat::delete_file(path.c_str())) __builtin_trap();
    }
    return 0;
}
