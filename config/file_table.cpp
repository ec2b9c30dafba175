// The file table and the logical-name resolver.
//
// A [path] line has fixed columns: 1 to 19 the logical name (blank-padded), 20 ignored, the
// directory from column 21, where "cd:" and "hd:" stand for the configured CD and HD
// directories. The first definition of a name wins, so the game's own lines win over the
// patch's. The record files then say which names are container members.
#include "config/file_table.h"

#include <cstdio>
#include <cstring>

#include "config/config.h"
#include "config/line_widths.h"
#include "base/text.h"

namespace config {

using text::append_if_fits;
using text::lower;
using text::trim;

namespace {

constexpr std::size_t kValueColumn = 20;  // 0-based index of column 21

FileTable g_table;
PathLineObserver g_path_observer;

// The section's lines plus one, counted no further than the table's largest size.
std::size_t count_section_lines(std::FILE* f) {
    char line[kPathLineChars + 1];
    std::size_t n = 1;
    while (n < kMaxTableEntries && std::fgets(line, sizeof line, f)) {
        if (std::strchr(line, '[')) break;
        ++n;
    }
    return n;
}

// The first free entry, made ready for `name`; null when the table is full.
FileEntry* take_entry(const char* name) {
    if (g_table.used >= g_table.capacity) return nullptr;
    std::size_t i = g_table.used;
    if (i % FileTable::kBlockEntries == 0)
        g_table.blocks.push_back(std::make_unique<FileEntry[]>(FileTable::kBlockEntries));
    ++g_table.used;
    g_table.index.emplace(name, i);
    FileEntry& e = g_table.entry(i);
    std::strcpy(e.name, name);
    return &e;
}

// Expands "cd:" and "hd:" and stores the directory; marks the entry when it does not fit.
void set_entry_directory(FileEntry& e, const char* value) {
    const Directories& dirs = directories();
    const char* prefix = "";
    if (std::strncmp(value, "cd:", 3) == 0) {
        prefix = dirs.cd;
        value += 3;
    } else if (std::strncmp(value, "hd:", 3) == 0) {
        prefix = dirs.hd;
        value += 3;
    }
    e.directory[0] = 0;
    e.directory_too_long = !(append_if_fits(e.directory, plat::kMaxPath, prefix) &&
                             append_if_fits(e.directory, plat::kMaxPath, value));
    if (e.directory_too_long) e.directory[0] = 0;
}

PathLineFate add_path_line(char* line) {
    lower(line);
    char name[kNameChars + 1];
    std::strncpy(name, line, kNameChars);
    name[kNameChars] = 0;
    trim(name);
    if (!name[0]) return PathLineFate::Blank;
    if (find_entry(name)) return PathLineFate::Duplicate;
    FileEntry* e = take_entry(name);
    if (!e) return PathLineFate::TableFull;
    char* value = std::strlen(line) > kValueColumn ? line + kValueColumn : line + std::strlen(line);
    trim(value);
    set_entry_directory(*e, value);
    return PathLineFate::Added;
}

bool set_result(const char* a, const char* b) {
    g_table.result[0] = 0;
    if (append_if_fits(g_table.result, plat::kMaxPath, a) &&
        append_if_fits(g_table.result, plat::kMaxPath, b))
        return true;
    g_table.result[0] = 0;
    return false;
}

// On the CD the game's containers lie in the disc's folder: "<cd dir>CD1\<rest>".
void insert_disc_folder(const FileEntry& e) {
    const Directories& dirs = directories();
    std::size_t cd_len = std::strlen(dirs.cd);
    if (!dirs.running_from_cd || kCdNumber == 0 || !e.cd_flag || cd_len == 0) return;
    if (std::strncmp(g_table.result, dirs.cd, cd_len) != 0) return;
    char folder[8];
    std::snprintf(folder, sizeof folder, "CD%1c\\", static_cast<char>('0' + kCdNumber));
    char rest[plat::kMaxPath + 1];
    std::strcpy(rest, g_table.result + cd_len);
    g_table.result[cd_len] = 0;
    if (!append_if_fits(g_table.result, plat::kMaxPath, folder) ||
        !append_if_fits(g_table.result, plat::kMaxPath, rest))
        g_table.result[0] = 0;
}

}  // namespace

FileTable& file_table() { return g_table; }

void reset_file_table() {
    g_table.blocks.clear();
    g_table.index.clear();
    g_table.used = 0;
    g_table.capacity = 0;
    g_table.result[0] = 0;
    g_path_observer = nullptr;
}

FileEntry* find_entry(const char* name) {
    if (!name[0]) return nullptr;  // an empty name marks a free entry, never a used one
    auto found = g_table.index.find(name);
    return found == g_table.index.end() ? nullptr : &g_table.entry(found->second);
}

void read_path_section(std::FILE* f, long position) {
    std::fseek(f, position, SEEK_SET);
    if (g_table.capacity == 0) {
        g_table.capacity = count_section_lines(f);
        g_table.index.reserve(g_table.capacity);
        std::clearerr(f);
        std::fseek(f, position, SEEK_SET);
    }
    char line[kPathLineChars + 1];
    long line_start = position;
    for (;;) {
        line_start = std::ftell(f);
        if (!std::fgets(line, sizeof line, f)) break;
        if (std::strchr(line, '[')) break;
        if (!g_path_observer) {
            add_path_line(line);
            continue;
        }
        char piece[kPathLineChars + 1];
        std::strcpy(piece, line);
        PathLineFate fate = add_path_line(line);
        g_path_observer(PathLineSeen{line_start, piece, fate});
    }
    std::clearerr(f);
    std::fseek(f, line_start, SEEK_SET);
}

void observe_path_lines(PathLineObserver observer) { g_path_observer = std::move(observer); }

int resolve_logical_name(char* name) {
    trim(name);
    lower(name);
    FileEntry* e = find_entry(name);
    if (!e) {
        set_result(name, "");
        return kUnknownName;
    }
    if (e->directory_too_long) {
        g_table.result[0] = 0;
        return kPlainFile;
    }
    if (!e->container[0]) {
        set_result(e->directory, e->name);
        return kPlainFile;
    }
    if (set_result(e->directory, e->container)) {
        insert_disc_folder(*e);
        if (g_table.result[0] && plat::file_exists(g_table.result)) return kContainerMember;
    }
    set_result(e->directory, e->name);
    return kPlainFile;
}

}  // namespace config
