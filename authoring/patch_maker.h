// The patch that turns one version of the game into another, made from two game folders with
// only what the installer can do: new data for changed container members (kind '0'), changed
// and new messages (kind '2' items, or one kind '1' rebuild), changed and new files of the
// game folder itself (carried, unpacked there). What the installer cannot express is named.
#pragma once

#include <string>
#include <vector>

#include "authoring/game_folder.h"
#include "base/result.h"
#include "payload/stamp.h"

namespace authoring {

// How changed messages are carried: kind '2' items, one for each message (what a patch does
// unless asked otherwise), or one kind '1' item that rebuilds the tables from NEW's source.
enum class MessageWay { Items, Rebuild };

struct PatchPlan {
    std::vector<payload::PackFile> files;  // patch.ini, patch.dat, then the carried files
    std::vector<std::string> done;         // what the patch does, a line each
    std::vector<std::string> cannot;       // what the installer cannot express, a line each
    std::vector<std::string> covered_members;  // logical names whose member data the patch sets
    std::vector<std::string> covered_files;    // files of the game folder the patch carries
    std::vector<int> covered_messages;         // messages the patch sets (every one of NEW's when rebuilt)
    bool rebuilds_messages = false;
    bool message_items = false;  // the patch changes messages at all
};

struct GamePair {
    GameFolder old_game, new_game;
    MessageTables old_messages, new_messages;
};
Result load_game_pair(const std::string& old_folder, const std::string& new_folder, GamePair* out);

// Whether two folder paths name one folder (written twice, or through a link).
bool same_folder(const std::string& old_folder, const std::string& new_folder);

// NEW's message.txt, when it is not OLD's, must be what NEW's tables were compiled from: the
// patch carries the tables, so an edit of the source alone would be lost without a word.
// Failed: "PATH: REASON".
Result check_new_source(const std::string& old_folder, const std::string& new_folder);

// Plans the patch. `way`: Rebuild carries the messages in one kind '1' item; Items never
// does, and names what only a rebuild could carry.
PatchPlan plan_patch(const GamePair& pair, MessageWay way);

}  // namespace authoring
