// Helpers shared by the dravo tool's commands.
#pragma once

#include <string>

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

}  // namespace tool
