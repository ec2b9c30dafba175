// The message compiler over any source bytes, and the decompiler over what it made: both must
// end, stay in bounds and keep every string within its record; a message the decompiler
// accepts without a warning must compile back to the same strings.
#include <cstdint>
#include <cstring>
#include <string>

#include "messages/message_compiler.h"
#include "decompiler/message_source.h"
#include "messages/message_tables.h"

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    std::string source(reinterpret_cast<const char*>(data), size);
    messages::MemoryTables tables = messages::compile_in_memory(source);
    if (tables.dat.size() % messages::kIndexRecordSize || tables.str.size() % messages::kStringRecordSize)
        __builtin_trap();
    for (std::size_t at = 0; at < tables.str.size(); at += messages::kStringRecordSize) {
        messages::StringRecord s = messages::decode_string(std::span(tables.str).subspan(at, messages::kStringRecordSize));
        if (s.length > messages::kMaxWidth || s.length != std::strlen(s.text)) __builtin_trap();
    }
    decompiler::DecompiledSource back = decompiler::decompile(tables.dat, tables.str);
    if (back.warnings.empty()) {
        messages::MemoryTables again = messages::compile_in_memory(back.text);
        if (again.str != tables.str) __builtin_trap();
    }
    return 0;
}
