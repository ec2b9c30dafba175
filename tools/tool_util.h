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
constexpr int kExitCancelled = 3;  // dravo install: the user said no

// A directory the user named, in the core's form and ending with a backslash.
std::string directory_argument(const std::string& native);
// A file the user named, in the core's form.
std::string file_argument(const std::string& native);

// Whether a path in the core's form fits the core's path buffers; a longer path is refused
// whole, never cut.
bool path_fits(const std::string& core_path);
constexpr const char* kPathTooLong = "the path is longer than 260 characters, the longest a Windows path may be";

// A path the tool made up (a directory joined with a file name) as the user of this system
// reads it: the host's own form on Linux, the path itself on Windows.
std::string shown(const std::string& core_path);

// Prints "dravo: FILE: MESSAGE" on stderr and returns kExitFailure.
int fail(const std::string& file, const std::string& message);
// Prints "dravo: MESSAGE" on stderr and returns kExitUsage.
int usage(const std::string& message);
// Creates a directory (core form, ending with a backslash) and every missing one above it.
bool make_directories(const std::string& core_dir);
// The system's words for the last failed file operation.
std::string last_error();

// Fails (exit 1, naming it) when `output` (core form; `output_argument` as the user typed it)
// is the same file as one of `inputs`, by device and inode (volume and file index on
// Windows), before anything is written over it. Returns kExitOk otherwise.
int refuse_output_onto_input(const std::string& output_argument, const std::string& output,
                             const std::vector<std::string>& inputs);

// Reads a whole file of at most `max_bytes` into `out`. The size is checked before any memory
// is asked for, so a huge or sparse file is refused with its size rather than ending the
// tool; `limit` says in words why larger files are refused. Returns kExitOk, or kExitFailure
// after the message.
int read_whole_file(const std::string& path, std::int64_t max_bytes, const std::string& limit,
                    std::vector<std::uint8_t>& out);

// The installer template that commands stamp a patch into when no --template names one. It is
// looked for relative to the running program, so an installed tool works from any folder:
// beside it (the Windows zip holds dravo.exe and DravoPatch.exe side by side), then in
// share/dravo of the prefix the program's bin folder belongs to (<prefix>/bin/dravo uses
// <prefix>/share/dravo/DravoPatch.exe).
std::vector<std::string> template_candidates();
// The first candidate that exists, or an empty string.
std::string default_template();
// The failure when no candidate exists: says where the tool looked and that --template names
// a template. Returns kExitFailure.
int fail_no_template();

}  // namespace tool
