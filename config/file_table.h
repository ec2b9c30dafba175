// The file table: which directory, and which container, each logical file name stands for;
// and the resolver that turns a logical name into the path to open.
#pragma once

#include <cstdint>
#include <cstdio>
#include <functional>
#include <memory>
#include <string>
#include <unordered_map>
#include <vector>

#include "platform/platform.h"

namespace config {

constexpr std::size_t kNameChars = 19;  // logical and container names, besides the NUL

struct FileEntry {
    char name[kNameChars + 1] = {};       // logical name, lower case; empty: the entry is free
    char directory[plat::kMaxPath + 1] = {};
    char container[kNameChars + 1] = {};  // container file holding the name; empty: plain file
    std::uint8_t cd_flag = 0;             // the container lies in the disc folder on the CD
    bool directory_too_long = false;      // the section's directory did not fit: unresolvable
};

// One table for the program, created by the first [path] section and never grown.
//
// Entries are taken in table order and never freed, so the used ones are always the first
// `used` of `capacity`: only those are stored, in blocks whose addresses never move, and a
// section of many blank lines costs no memory for the free entries it makes room for.
struct FileTable {
    static constexpr std::size_t kBlockEntries = 128;
    std::vector<std::unique_ptr<FileEntry[]>> blocks;
    std::size_t used = 0;
    std::size_t capacity = 0;  // 0: no table yet
    // Where each used name lies, so that a load stays linear in the number of lines.
    std::unordered_map<std::string, std::size_t> index;

    FileEntry& entry(std::size_t i) { return blocks[i / kBlockEntries][i % kBlockEntries]; }
    const FileEntry& entry(std::size_t i) const { return blocks[i / kBlockEntries][i % kBlockEntries]; }
    // Every resolution leaves its path here; the next one overwrites it.
    char result[plat::kMaxPath + 1] = {};
};

FileTable& file_table();
// Drops the table and the [path] line observer (observe_path_lines).
void reset_file_table();

// The most entries a table is created with, whatever the first section's length: the game
// lists a few dozen names, and a table this size already takes some 80 MB when full.
constexpr std::size_t kMaxTableEntries = 262144;

// Reads a [path] section that starts at `position` of the open configuration file, filling
// the table (created on the first call, with one entry more than that section has lines, at
// most kMaxTableEntries). Leaves the file at the start of the line that ended the section.
void read_path_section(std::FILE* f, long position);

// What became of one line the [path] reader read, for a checker that reports on a patch's
// section: where the piece began in the file, the piece as read (at most 79 characters, with
// its line end when it had one) and what the table did with it.
enum class PathLineFate { Blank, Added, Duplicate, TableFull };
struct PathLineSeen {
    long offset = 0;
    const char* piece = nullptr;
    PathLineFate fate = PathLineFate::Blank;
};
using PathLineObserver = std::function<void(const PathLineSeen&)>;

// Sets the observer told of every [path] line read from now on (empty: none), until the
// table is reset. Reading is the same with or without one.
void observe_path_lines(PathLineObserver observer);

enum Resolution { kUnknownName = -1, kPlainFile = 0, kContainerMember = 1 };

// Trims and lower-cases `name` in place and resolves it; the path is left in
// file_table().result. A path that would not fit comes back empty, so that opening it fails
// as for a missing file.
int resolve_logical_name(char* name);

// The table entry of a (trimmed, lower-case) logical name, or null.
FileEntry* find_entry(const char* name);

}  // namespace config
