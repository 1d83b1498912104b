// The program's own start-up routines. ProgramEntry is what the runtime's application start-up calls
// once on the GUI thread; it returns when the wizard window is gone, and the runtime then ends the
// process with 0.
#pragma once

#include <cstdint>

namespace zv::wizard {

std::int32_t ProgramEntry();
void ProgramInit();
void ProgramExit();
std::int32_t StartupRoutine();
// Answers 0 (absent) to every lookup of the runtime's optional extensions.
std::int32_t NullExtensionResolver(std::int32_t extension);

}  // namespace zv::wizard
