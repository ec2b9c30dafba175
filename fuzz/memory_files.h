// The fuzz targets that write files write them into a file system in memory behind the
// platform's chain: the same code runs as on a disk, at the speed of memory, and nothing is
// left in /tmp by a run that is stopped.
#pragma once

#include "platform/memory/memory_file_system.h"

inline void use_memory_files() {
    using plat::memory::MemoryFileSystem;
    static MemoryFileSystem files(MemoryFileSystem::PowerCuts::Ignored);
    static plat::memory::UseMemoryFileSystem use(files);
}
