// Helpers of the message tests: tables compiled in memory, read back record by record.
#pragma once

#include <string>
#include <vector>

#include "messages/message_compiler.h"
#include "messages/message_tables.h"

namespace testing_support {

inline std::vector<std::string> strings_of(const std::vector<std::uint8_t>& str) {
    std::vector<std::string> out;
    for (std::size_t at = 0; at + messages::kStringRecordSize <= str.size(); at += messages::kStringRecordSize)
        out.emplace_back(messages::decode_string(std::span(str).subspan(at, messages::kStringRecordSize)).text);
    return out;
}

inline std::vector<std::string> strings_of(const std::string& str) {
    return strings_of(std::vector<std::uint8_t>(str.begin(), str.end()));
}

inline messages::IndexRecord record_of(const std::vector<std::uint8_t>& dat, int number) {
    std::size_t at = static_cast<std::size_t>(number) * messages::kIndexRecordSize;
    if (at + messages::kIndexRecordSize > dat.size()) return {};
    return messages::decode_index(std::span(dat).subspan(at, messages::kIndexRecordSize));
}

// The strings of one message, in order.
inline std::vector<std::string> message_strings(const messages::MemoryTables& t, int number) {
    messages::IndexRecord r = record_of(t.dat, number);
    std::vector<std::string> all = strings_of(t.str);
    std::vector<std::string> out;
    for (std::uint32_t i = r.first_string; i < r.first_string + r.string_count && i < all.size(); ++i)
        out.push_back(all[i]);
    return out;
}

}  // namespace testing_support
