// Runtime start-up and shutdown: InitRuntime prepares the runtime once on the GUI thread; the exit
// routine slot holds the program's routine that the shutdown calls once; EndProgram shuts the runtime
// down and ends the process with the given code.
#pragma once

#include <cstdint>

namespace zv {

using ExitRoutine = void (*)();
// Looks up one of the runtime's optional extensions (database, media player, ...): 0 means absent.
using ExtensionResolver = std::int32_t (*)(std::int32_t extension);

// Prepares the runtime on the calling thread, which becomes the GUI thread.
void InitRuntime();
// Binds the runtime's three optional extension hooks to the program's resolver.
void BindExtensionHooks(ExtensionResolver resolver);
// Remembers the routine that the shutdown calls once.
void SetExitRoutine(ExitRoutine routine);
// Runs the exit routine (once per process) and releases what the runtime holds. Safe to call twice.
void ShutdownRuntime();
// Shuts the runtime down and ends the process with `exitCode`.
[[noreturn]] void EndProgram(int exitCode);

}  // namespace zv
