// Work kind '2' with any work line and any message text behind it: the first line of the
// input is the work line's text, the rest is the patch configuration that follows it. The item
// must end, consume its text, and leave the tables' records whole.
#include <cstdint>
#include <cstdio>
#include <cstring>
#include <string>
#include <vector>

#include "config/config.h"
#include "messages/message_compiler.h"
#include "messages/message_updates.h"
#include "platform/platform.h"
#include "xfile/xfile.h"
#include "fuzz/memory_files.h"

namespace {

const char kSource[] = "#17 0 0 0 0 40 1 0\nWelcome to Dravo.\n#4999 0 0 0 0 40 1 0\nFallback\n#0\n";

std::string scratch_directory() {
    use_memory_files();
    static std::string dir = [] {
        plat::create_directory("m:\\game");
        return std::string("m:\\game\\");
    }();
    return dir;
}

void write_all(const std::string& path, const std::vector<std::uint8_t>& bytes) {
    std::FILE* f = plat::open_text(path.c_str(), "wb");
    if (!f) __builtin_trap();
    std::fwrite(bytes.data(), 1, bytes.size(), f);
    std::fclose(f);
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    static const messages::MemoryTables tables = messages::compile_in_memory(kSource);
    config::reset_configuration();
    xfile::reset_xfile();
    std::string dir = scratch_directory();
    std::strcpy(config::directories().hd, dir.c_str());
    write_all(dir + "message.dat", tables.dat);
    write_all(dir + "message.str", tables.str);

    std::string input(reinterpret_cast<const char*>(data), size);
    std::size_t eol = input.find('\n');
    std::string line = input.substr(0, eol);
    std::string rest = eol == std::string::npos ? std::string() : input.substr(eol + 1);
    std::FILE* stream = fmemopen(rest.empty() ? const_cast<char*>("") : rest.data(), rest.size(), "rb");
    if (!stream) return 0;
    messages::update_one_message(line.c_str(), stream);
    std::fclose(stream);
    xfile::reset_xfile();
    return 0;
}
