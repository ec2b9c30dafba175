// A game folder as its own tables describe it, for the tools that make and prove patches: the
// logical names of Dravo.ini's [path] section with their directories and containers (from
// multigen.dat), where each name's data lies, the files of the folder, and the message tables.
// The folder given is taken as the game's HD directory, whatever [dirhd] says, so that two
// folders of the same game never resolve to the same files.
#pragma once

#include <cstdint>
#include <map>
#include <string>
#include <vector>

#include "base/result.h"

namespace authoring {

struct GameName {
    std::string name;       // logical name, lower case
    std::string directory;  // as the table gives it, the HD directory taken as the folder
    std::string container;  // container file name; empty for a plain file
    std::uint8_t cd_flag = 0;
};

struct GameFolder {
    std::string folder;            // core form, ending with a backslash
    std::string cd_directory;      // [dircd]
    std::vector<GameName> names;   // in table order
    std::size_t table_capacity = 0;
    std::vector<std::string> files;  // every file below the folder, relative, in sorted order

    const GameName* find(const std::string& name) const;
};

// Reads Dravo.ini and multigen.dat of `folder` (core form, ending with a backslash) and lists
// its files. Uses and then resets the configuration's global state.
Result load_game_folder(const std::string& folder, GameFolder* out);

// Where a logical name's data lies in a game: a member of a container file that exists, or a
// plain file (which may be missing), as the resolver decides.
struct NameData {
    bool member = false;
    std::string path;         // the container, or the plain file
    std::string member_name;  // the name in the container
};
NameData locate(const GameFolder& game, const GameName& name);

// The bytes of a name's data, read through the platform layer (and so through a dry run's
// view when one is set). Failed, saying why, when there is no such file or member.
Result read_name_data(const NameData& where, std::vector<std::uint8_t>* out);
// Whether two names' data hold the same bytes, read side by side in pieces, so that large
// members cost no memory. Failed, saying why, when either cannot be read.
Result same_name_data(const NameData& a, const NameData& b, bool* same);
// The size of a name's data; -1 when it cannot be read.
std::int64_t name_data_size(const NameData& where);

// The names of a container's members; false when it cannot be read as a container.
bool container_members(const std::string& path, std::vector<std::string>* names);

// The message tables of the game folder; `present` false when message.dat is missing.
struct MessageTables {
    bool present = false;
    std::vector<std::uint8_t> dat, str;
    bool valid(int number) const;
    // The message's record bytes without first_string, and its strings: equal when two tables
    // hold the same message.
    std::vector<std::uint8_t> message_bytes(int number) const;
    std::string first_string(int number) const;  // empty when there is none
    int highest() const;  // the highest record number the index can hold
    bool tagged() const;  // "02": rebuilt by a patch
};
Result read_message_tables(const std::string& folder, MessageTables* out);

// Whether `file` (relative to a game folder) is the install's or the patch's own, never part
// of the game: patch.ini, patch.dat, the journal, kept files, the log, the stage, Message.err.
bool is_install_record(const std::string& file);

}  // namespace authoring
