// The payload extraction: any bytes as a stamped region, unpacked into a scratch directory.
// The input is copied to an allocation of exactly its size, so that any read or write
// behind the region's end shows; after the run, no file may exist outside the directory, and
// none at all when the list is damaged.
#include <unistd.h>

#include <cstdint>
#include <cstdlib>
#include <cstring>
#include <filesystem>
#include <string>
#include <vector>

#include "payload/extract.h"
#include "payload/stamp.h"
#include "platform/platform.h"

namespace {

// Kept for the whole run (never destroyed), so that the exit handler can still name it.
const std::string& scratch_dir() {
    static const std::string* dir = [] {
        auto* native = new std::string("/tmp/dravo-payload-fuzz-" + std::to_string(getpid()));
        std::filesystem::create_directories(*native + "/game");
        std::atexit([] {
            std::error_code ec;
            std::filesystem::remove_all(scratch_dir(), ec);
        });
        return native;
    }();
    return *dir;
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    namespace fs = std::filesystem;
    const std::string& root = scratch_dir();
    std::string game = plat::from_native_path((root + "/game").c_str()) + "\\";
    std::uint8_t* region = new std::uint8_t[size ? size : 1];
    if (size) std::memcpy(region, data, size);
    Result result = payload::extract_payload({region, size}, game.c_str());
    // Applied or failed, and a failure always says why.
    if (result.result == WorkResult::Skipped || result.failed() == result.problem.empty()) __builtin_trap();

    // The walk the tool lists with must agree on the same bytes: a damaged list is refused
    // whole, before it writes any file.
    bool sound = payload::walk_entry_list({data, size}, nullptr, nullptr);
    if (!sound && !result.failed()) __builtin_trap();
    delete[] region;
    std::error_code ec;
    if (!sound && !fs::is_empty(root + "/game", ec)) __builtin_trap();

    for (const fs::directory_entry& entry : fs::directory_iterator(root, ec))
        if (entry.path().filename() != "game") __builtin_trap();  // something escaped the game directory
    for (const fs::directory_entry& entry : fs::directory_iterator(root + "/game", ec)) {
        if (entry.is_directory()) __builtin_trap();
        fs::remove(entry.path(), ec);
    }
    return 0;
}
