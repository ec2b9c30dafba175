// The game's and the patch's configuration files (Dravo.ini, patch.ini): the CD and hard-disk
// directories, the running-from-CD flag, and the [path] sections that fill the file table.
#pragma once

#include <cstdint>
#include <cstdio>

#include "platform/platform.h"

namespace config {

constexpr std::size_t kDirectoryCapacity = plat::kMaxPath;  // characters, besides the NUL
constexpr std::uint8_t kCdNumber = 1;                       // the game ships on one disc

enum class ConfigMode { Patch = 0, Game = 1 };

// Where the game keeps its files. One instance for the program; reset before a run.
struct Directories {
    char cd[kDirectoryCapacity + 1] = {};  // where the game's files lie on the CD; may be empty
    char hd[kDirectoryCapacity + 1] = {};  // the game's directory on the hard disk
    std::uint16_t running_from_cd = 0;     // set once the HD directory lies within the CD's
};

Directories& directories();

// Empties the directories and drops the file table and its [path] line observer: every
// piece of the configuration layer's state, so that a run starts from nothing.
void reset_configuration();

// Reads a configuration file. Returns 1 when it could be opened, else 0. In patch mode the
// directories are restored afterwards: only the patch's [path] section has a lasting effect.
int read_configuration(const char* path, ConfigMode mode);
// The same on a stream already open (null: the file could not be opened). Does not close it.
int read_configuration_from(std::FILE* f, ConfigMode mode);

}  // namespace config
