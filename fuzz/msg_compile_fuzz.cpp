// The message compiler over any source bytes, and the decompiler over what it made: both must
// end, stay in bounds and keep every string within its record; a message the decompiler
// accepts without a warning must compile back to the same strings.
//
// A message numbered up to 65,535 gives an index of up to 11.8 MB, almost all zeros: written
// out for every input that would hold the fuzzer to a few hundred inputs a second. The
// compile keeps its records by number instead, and only tables whose index stays small are
// laid out and decompiled; large numbers still go through the whole compiler.
#include <array>
#include <cstdint>
#include <cstring>
#include <map>
#include <string>
#include <vector>

#include "decompiler/message_source.h"
#include "messages/message_compiler.h"
#include "messages/message_tables.h"

namespace {

constexpr std::uint16_t kLargestDecompiled = 2047;

using Record = std::array<std::uint8_t, messages::kIndexRecordSize>;

struct SparseTables final : messages::TableOutput {
    std::map<std::uint16_t, Record> records;
    std::vector<std::uint8_t> str;

    bool put_string(const std::uint8_t* record) override {
        str.insert(str.end(), record, record + messages::kStringRecordSize);
        return true;
    }
    bool put_record(std::uint16_t number, const std::uint8_t* record) override {
        std::memcpy(records[number].data(), record, messages::kIndexRecordSize);
        return true;
    }
    std::uint16_t largest() const { return records.empty() ? 0 : records.rbegin()->first; }
    // The index as the compiler writes it: each record at its number, zeros between.
    std::vector<std::uint8_t> dat() const {
        std::vector<std::uint8_t> out(records.empty() ? 0 : (largest() + 1u) * messages::kIndexRecordSize);
        for (const auto& [number, record] : records)
            std::memcpy(out.data() + number * messages::kIndexRecordSize, record.data(), record.size());
        return out;
    }
};

SparseTables compile(const std::string& source) {
    SparseTables tables;
    messages::Compiler compiler(tables, nullptr);
    messages::feed_source(compiler, source.data(), source.size());
    compiler.finish();
    return tables;
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    std::string source(reinterpret_cast<const char*>(data), size);
    SparseTables tables = compile(source);
    if (tables.str.size() % messages::kStringRecordSize) __builtin_trap();
    for (std::size_t at = 0; at < tables.str.size(); at += messages::kStringRecordSize) {
        messages::StringRecord s = messages::decode_string(std::span(tables.str).subspan(at, messages::kStringRecordSize));
        if (s.length > messages::kMaxWidth || s.length != std::strlen(s.text)) __builtin_trap();
    }
    if (tables.largest() > kLargestDecompiled) return 0;
    decompiler::DecompiledSource back = decompiler::decompile(tables.dat(), tables.str);
    if (back.warnings.empty()) {
        SparseTables again = compile(back.text);
        if (again.str != tables.str) __builtin_trap();
    }
    return 0;
}
