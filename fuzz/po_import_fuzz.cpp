// The PO import over arbitrary files, against fixed tables of every kind of message (normal,
// raw, justified, a number defined twice, a "#RUS" section): it must end, stay in bounds, and
// either report an error or give a source. Whatever source it gives must compile without the
// compiler taking a translated line for a header: every message of the tables is still there.
#include <cstdint>
#include <string>
#include <string_view>

#include "decompiler/message_source.h"
#include "messages/message_compiler.h"
#include "messages/message_tables.h"
#include "translation/po_import.h"

namespace {

const decompiler::DecompiledMessages& tables() {
    static const decompiler::DecompiledMessages t = [] {
        messages::MemoryTables m = messages::compile_in_memory(
            "#1 0 0 0 0 40 2 0\nHello, traveller.\n#2 0 0 0 0 12 3 0 -e\nThe merchants sell gold.\n"
            "#5 0 0 0 0 20 1 0\nfirst\n#5 0 0 0 0 20 1 0\n...second\n##6 0 0 0 0 20 2 0\n  Inventory\\c\n"
            "#RUS\n#3 0 0 0 0 20 2 0 voice.wav p3 p4\n\xcf\xf0\xe8\xe2\xe5\xf2\n#0 \\c\n#0\n");
        return decompiler::decompile_messages(m.dat, m.str);
    }();
    return t;
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    std::string_view po(reinterpret_cast<const char*>(data), size);
    translation::ImportResult r = translation::import_po(tables(), po, {});
    if (r.failed()) {
        if (!r.source.empty()) __builtin_trap();
        return 0;
    }
    messages::MemoryTables again = messages::compile_in_memory(r.source);
    for (int number : {1, 2, 3, 5, 6}) {
        std::size_t at = static_cast<std::size_t>(number) * messages::kIndexRecordSize;
        if (at + messages::kIndexRecordSize > again.dat.size()) __builtin_trap();
        messages::IndexRecord rec = messages::decode_index(messages::index_bytes(again.dat, number));
        if (!messages::is_valid_record(rec, number)) __builtin_trap();
    }
    return 0;
}
