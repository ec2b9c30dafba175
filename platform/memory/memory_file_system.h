// A file system in memory, put behind the platform's chain in the system's place, for tests and
// fuzz targets: a fuzz target writes its files at the speed of memory, and a test can ask at
// any moment what a power cut would leave on the disk.
//
// It keeps the rules the system layers give the core (names matched without regard to case,
// '\' and '/' both separating, every open of a file exclusive, read-only files refused), and,
// for every file and folder, what is durable: a file's data as of its last flush, and a
// folder's entries as of its last flush. A name change (a create, rename or delete) lasts once
// every folder it touched was flushed after it (a rename touches two).
#pragma once

#include <cstdint>
#include <functional>
#include <map>
#include <memory>
#include <optional>
#include <string>
#include <vector>

namespace plat::memory {

// Files and folders by path (the core's form, as the program spelt them when it made them):
// a file's content, or nullopt for a folder.
using Tree = std::map<std::string, std::optional<std::string>>;

class MemoryFileSystem {
public:
    enum class PowerCuts {
        Modelled,  // keeps what is durable, for cut_states()
        Ignored,   // keeps only the files as they are now, and forgets replaced ones (fuzzing)
    };
    explicit MemoryFileSystem(PowerCuts power_cuts = PowerCuts::Modelled);
    ~MemoryFileSystem();
    MemoryFileSystem(const MemoryFileSystem&) = delete;
    MemoryFileSystem& operator=(const MemoryFileSystem&) = delete;

    // Replaces everything by `tree`, all of it durable (as after a clean shutdown); the
    // folders on the way to each path are made too. Open files are forgotten.
    void load(const Tree& tree);
    // What the files and folders below `dir` hold now, `dir` left out.
    Tree tree_below(const std::string& dir) const;

    // What a power cut at this moment could leave (with PowerCuts::Modelled), each a whole tree. The name changes not yet
    // durable are taken as every prefix of them in the order made, and as all of them but one
    // (for each one); the data not yet flushed as none of it, all of it, and the first half of
    // each file's writes. Trees that come out the same are given once.
    std::vector<Tree> cut_states() const;

    // Called before each change that a cut could lose: a write or a change of size, a flush of
    // a file or a folder, a create, rename or delete. The file system is locked meanwhile, so
    // the call may read it (cut_states) but must not change it.
    std::function<void()> before_change;
    // Changes made since the last load.
    long changes() const;

    struct State;  // the files, folders and open handles (memory_file_system.cpp)
    State& state() { return *state_; }

private:
    std::unique_ptr<State> state_;
};

// Puts `fs` behind the chain while this lives; the system's calls again afterwards.
class UseMemoryFileSystem {
public:
    explicit UseMemoryFileSystem(MemoryFileSystem& fs);
    ~UseMemoryFileSystem();
    UseMemoryFileSystem(const UseMemoryFileSystem&) = delete;
    UseMemoryFileSystem& operator=(const UseMemoryFileSystem&) = delete;
};

}  // namespace plat::memory
