// Making name changes last: the folders whose entries a change created, renamed or deleted are
// flushed once each, at the step that relies on them (the commit, the end of a restore), rather
// than after every single change.
#pragma once

#include <set>
#include <string>

#include "base/result.h"

namespace journal {

class FolderSync {
public:
    // Notes the folder that holds `path`.
    void add_file(const std::string& path);
    // Flushes every folder noted; fails, naming the folder, on the first that cannot be.
    Result flush();

private:
    std::set<std::string> folders_;  // by key: each folder once, whatever the letter case
    std::set<std::string> keys_;
};

// Deletes a journal and makes its absence durable.
Result remove_journal_file(const std::string& path);

}  // namespace journal
