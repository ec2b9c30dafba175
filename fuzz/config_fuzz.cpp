// The configuration reader with its path sections: any bytes, read as the game's file and
// then as the patch's, must end (no endless re-reading of a section), stay in bounds, and
// leave a table whose names resolve.
#include <cstdint>
#include <cstdio>
#include <cstring>

#include "config/config.h"
#include "config/file_table.h"

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    config::reset_configuration();
    for (config::ConfigMode mode : {config::ConfigMode::Game, config::ConfigMode::Patch}) {
        std::FILE* f = fmemopen(const_cast<std::uint8_t*>(data), size ? size : 1, "rb");
        if (!f) return 0;
        config::read_configuration_from(size ? f : nullptr, mode);
        std::fclose(f);
    }
    const config::FileTable& table = config::file_table();
    if (table.used > table.capacity || table.index.size() != table.used) __builtin_trap();
    for (std::size_t i = 0; i < table.used; ++i) {
        char name[config::kNameChars + 1];
        std::memcpy(name, table.entry(i).name, sizeof name);
        if (config::find_entry(name) != &table.entry(i)) __builtin_trap();  // the index agrees with the table
        config::resolve_logical_name(name);
    }
    return 0;
}
