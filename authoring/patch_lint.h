// Checking a patch before it ships: its files are read the way the installer reads them, by
// the installer's own readers, and every problem is listed with the file and line it concerns.
//
// An error is something the install would refuse, fail at, or pass over in silence (a line it
// never runs, a file it never finds); a warning is something it does without fault but
// probably not as meant (an item its check would skip on the game given, a file carried for
// nothing, a [path] line that the game's own definition outvotes).
#pragma once

#include <cstdint>
#include <string>
#include <vector>

#include "base/diagnostic.h"

namespace authoring {

// Each diagnostic's file is a carried file's name ("patch.ini"), the patch's, or a game file's
// path; patch.dat's lines are its 42-byte records, counted from 1.

struct PatchToCheck {
    std::string dir;                   // where the carried files lie; core form, ends with '\'
    std::vector<std::string> carried;  // their names, as the payload carries them
    std::string game_dir;              // the game to check against (core form, ends with '\'); may be empty
};

// Checks the files of a patch. Without a game, the patch's folder stands in for the game
// folder that the files are unpacked into, and what only the game can tell is not checked.
// Uses the program's configuration and file table, and leaves them reset.
std::vector<diag::Diagnostic> check_patch_files(const PatchToCheck& patch);

// Checks a patch installer's image: its payload is found, checked against its digest, walked
// and unpacked into `scratch_dir` (existing, core form, ends with '\'), and the files are then
// checked as above. Problems of the payload itself are reported against `shown_name`, line 0.
// The image's region is unscrambled in place. `unpacked` receives the names written.
std::vector<diag::Diagnostic> check_patch_image(std::vector<std::uint8_t>& image, const std::string& shown_name,
                                          const std::string& scratch_dir, const std::string& game_dir,
                                          std::vector<std::string>* unpacked);

}  // namespace authoring
