// The installer's command line: what a script, a mod manager or Windows' list of installed
// programs may ask of DravoPatch.exe. Without arguments the installer runs as it always did.
#pragma once

#include <string>
#include <vector>

#include "base/result.h"

namespace install {

struct InstallerSwitches {
    std::string game_dir;   // /D=DIR: the game folder, no search; empty: search as usual
    bool silent = false;    // /S: no window at all, the question taken as answered yes
    bool undo = false;      // /UNDO or /UNDO=N: take back an install instead of installing
    int undo_number = 0;    // N of /UNDO=N; 0: the newest
    std::string log_file;   // /LOG=FILE: every log line also appended to FILE
    bool help = false;      // /?: list the switches
};

// Reads the arguments after the program's name, as the C runtime split them. Switches begin
// with '/' or '-' and are matched without regard to case; any other argument is ignored, as
// the installer always ignored its arguments. Failed (a usage error) on a malformed switch:
// "/D=" or "/LOG=" with nothing after it, "/D" or "/LOG" without '=', "/S=...", "/UNDO=" with
// anything but a number from 1.
Result parse_installer_switches(const std::vector<std::string>& args, InstallerSwitches* out);

// The text of /? (and of a usage error, after the problem).
extern const char kInstallerUsage[];

}  // namespace install
