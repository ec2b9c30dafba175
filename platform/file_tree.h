// Whole folders: what a run leaves beside the game (the stage, a dry run's scratch folder)
// goes away with everything in it.
#pragma once

#include <string>

namespace plat {

// Removes a directory and everything in it (`dir` with or without its trailing backslash).
// Never follows a link: a link inside goes itself, and a `dir` that is a link is refused
// (AccessDenied) with nothing removed. Goes on past a file it cannot remove, so that as much
// as possible is gone; false when anything is left, the directory itself included.
bool remove_tree(const std::string& dir);

}  // namespace plat
