// Helpers shared by the dravo tool's commands.
#pragma once

#include <cstdint>
#include <string>
#include <vector>

namespace tool {

// Exit statuses of every command.
constexpr int kExitOk = 0;
constexpr int kExitFailure = 1;
constexpr int kExitUsage = 2;

// A directory the user named, in the core's form and ending with a backslash.
std::string directory_argument(const std::string& native);
// A file the user named, in the core's form.
std::string file_argument(const std::string& native);

// Prints "dravo: FILE: MESSAGE" on stderr and returns kExitFailure.
int fail(const std::string& file, const std::string& message);
// The system's words for the last failed file operation.
std::string last_error();

// Reads a whole file of at most `max_bytes` into `out`. The size is checked before any memory
// is asked for, so a huge or sparse file is refused with its size rather than ending the
// tool; `limit` says in words why larger files are refused. Returns kExitOk, or kExitFailure
// after the message.
int read_whole_file(const std::string& path, std::int64_t max_bytes, const std::string& limit,
                    std::vector<std::uint8_t>& out);

}  // namespace tool
