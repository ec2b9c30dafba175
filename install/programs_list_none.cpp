// Systems without a list of installed programs: nothing is registered, and an undo has no
// entry to remove.
#include "install/programs_list.h"

namespace install {

ProgramsList* system_programs_list() { return nullptr; }

}  // namespace install
