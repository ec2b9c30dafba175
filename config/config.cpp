// Reader of Dravo.ini and patch.ini.
//
// A file is a list of sections: [dircd] and [dirhd] hold one directory each (the last value
// wins), [path] holds the file table's lines and is read by the file-table reader, and
// [work] ends what this reader looks at (the work-list runner reads it). Lines are trimmed
// and lower-cased before they are matched.
#include "config/config.h"

#include <cstdio>
#include <cstring>

#include "config/file_table.h"
#include "config/line_widths.h"
#include "base/text.h"

namespace config {

using text::copy_if_fits;
using text::lower;
using text::make_directory;
using text::trim;

namespace {

enum class Section { None, Cd, Hd, Path };

Directories g_directories;

// The default HD directory: the current drive and directory, lower case, with a backslash.
void set_default_hd_directory(Directories& dirs) {
    char buf[kDirectoryCapacity + 1];
    std::string cwd = plat::current_directory();
    if (!copy_if_fits(buf, kDirectoryCapacity, cwd.c_str())) return;  // keeps the old value
    if (make_directory(buf, kDirectoryCapacity) < 0) return;
    std::strcpy(dirs.hd, buf);
}

// Applies the directory rule to a value and stores it, unless it does not fit.
void set_directory(char* field, const char* value) {
    char dir[kDirectoryCapacity + 1];
    if (!copy_if_fits(dir, kDirectoryCapacity, value)) return;
    if (make_directory(dir, kDirectoryCapacity) < 0) return;
    std::strcpy(field, dir);
}

void read_sections(std::FILE* f, Directories& dirs) {
    char line[kLineChars + 1];
    Section section = Section::None;
    long path_position = 0;
    while (!std::feof(f)) {
        if (!std::fgets(line, sizeof line, f)) break;
        trim(line);
        lower(line);
        if (!line[0]) continue;
        if (std::strcmp(line, "[dircd]") == 0) {
            section = Section::Cd;
        } else if (std::strcmp(line, "[dirhd]") == 0) {
            section = Section::Hd;
        } else if (std::strcmp(line, "[path]") == 0) {
            section = Section::Path;
            path_position = std::ftell(f);
        } else if (std::strcmp(line, "[work]") == 0) {
            break;
        } else if (section == Section::Cd) {
            set_directory(dirs.cd, line);
        } else if (section == Section::Hd) {
            set_directory(dirs.hd, line);
        } else if (section == Section::Path) {
            // The path reader takes the whole section from its first line and stops in front
            // of the line that ends it. That line ends the section for us too: were it read
            // as another path value, the reader would start again and stop at the same line.
            read_path_section(f, path_position);
            section = Section::None;
        }
    }
}

}  // namespace

Directories& directories() { return g_directories; }

void reset_configuration() {
    g_directories = Directories{};
    reset_file_table();
}

int read_configuration(const char* path, ConfigMode mode) {
    // Binary, so that the positions the path-section reader remembers and seeks back to are
    // exact whatever the file's line ends: the Windows runtime's text-mode positions are
    // wrong for files with bare LF line ends. Every line is trimmed, which removes the CR.
    std::FILE* f = plat::open_text(path, "rb");
    int result = read_configuration_from(f, mode);
    if (f) std::fclose(f);
    return result;
}

int read_configuration_from(std::FILE* f, ConfigMode mode) {
    Directories& dirs = g_directories;
    Directories kept = dirs;
    set_default_hd_directory(dirs);
    dirs.cd[0] = 0;
    int result = 0;
    if (f) {
        read_sections(f, dirs);
        result = 1;
    }
    if (mode == ConfigMode::Patch) {
        std::memcpy(dirs.cd, kept.cd, sizeof dirs.cd);
        std::memcpy(dirs.hd, kept.hd, sizeof dirs.hd);
    } else if (std::strncmp(dirs.hd, dirs.cd, std::strlen(dirs.cd)) == 0) {
        dirs.running_from_cd = 1;
    }
    return result;
}

}  // namespace config
