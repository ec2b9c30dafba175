// The decompiler over tables as an installed game may hold them, damaged or not: the first
// byte gives the number of index records, those records are message.dat, the rest is
// message.str. The decompiler must end and stay in bounds; a source it writes without a
// warning must compile back to the same strings. Every whole record, decoded and encoded,
// must encode the same after a second decode.
#include <algorithm>
#include <cstdint>
#include <cstring>
#include <vector>

#include "messages/message_compiler.h"
#include "decompiler/message_source.h"
#include "messages/message_tables.h"

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    if (size == 0) return 0;
    std::size_t dat_bytes = std::min<std::size_t>(static_cast<std::size_t>(data[0]) * messages::kIndexRecordSize, size - 1);
    std::vector<std::uint8_t> dat(data + 1, data + 1 + dat_bytes);
    std::vector<std::uint8_t> str(data + 1 + dat_bytes, data + size);
    for (std::size_t n = 0; !messages::index_bytes(dat, n).empty(); ++n) {
        std::uint8_t once[messages::kIndexRecordSize], twice[messages::kIndexRecordSize];
        messages::encode_index(messages::decode_index(messages::index_bytes(dat, n)), once);
        messages::encode_index(messages::decode_index(once), twice);
        if (std::memcmp(once, twice, sizeof once) != 0) __builtin_trap();
    }
    for (std::size_t n = 0; !messages::string_bytes(str, n).empty(); ++n) {
        std::uint8_t once[messages::kStringRecordSize], twice[messages::kStringRecordSize];
        messages::encode_string(messages::decode_string(messages::string_bytes(str, n)), once);
        messages::encode_string(messages::decode_string(once), twice);
        if (std::memcmp(once, twice, sizeof once) != 0) __builtin_trap();
    }
    decompiler::DecompiledSource back = decompiler::decompile(dat, str);
    if (back.warnings.empty()) {
        messages::MemoryTables again = messages::compile_in_memory(back.text);
        std::size_t whole = str.size() / messages::kStringRecordSize * messages::kStringRecordSize;
        if (again.str != std::vector<std::uint8_t>(str.begin(), str.begin() + static_cast<std::ptrdiff_t>(whole)))
            __builtin_trap();
    }
    return 0;
}
