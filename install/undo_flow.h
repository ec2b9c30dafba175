// Taking an install back from the installer (its /UNDO switch, and the uninstall entry that
// Windows' list of programs runs): find the game as an install would, ask, undo, say how it
// went. The undo itself is the journal's, as for "dravo unpatch".
#pragma once

#include "install/main_flow.h"

namespace install {

// `number`: the install to take back, which must be the newest; 0 for the newest, whichever
// it is. Completed when it was taken back; Cancelled when the user said no; NotFound, or
// Failed with nothing changed, otherwise.
InstallResult run_undo(InstallerFace& face, const InstallSources& sources, int number);

}  // namespace install
