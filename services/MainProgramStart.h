// Starting the suite's main program at the end of an installation without lending it the wizard's
// rights. Where the wizard runs with the full token of an administrator whose desktop runs without
// elevation, the program is started by the desktop's own shell, so that it runs with the desktop's
// rights; anywhere else, or where the shell offers no way there, it is started directly (RunProgram).
// Neither way waits for the program to end.
#pragma once

#include "runtime/Text.h"

namespace zv {

// Starts the program at `path` (a full path, no arguments). True when it was started, by either way.
bool StartWithDesktopRights(TextArg path);

}  // namespace zv
