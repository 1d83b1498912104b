// Runtime start-up and shutdown: InitRuntime prepares the runtime once on the GUI thread; the exit
// routine slot holds the program's routine that the shutdown calls once; EndProgram shuts the runtime
// down and ends the process with the given code.
#pragma once

#include <cstdint>

namespace zv {

struct DeclaredCommandTable;

using ExitRoutine = void (*)();
// Looks up one of the runtime's optional extensions (database, media player, ...): 0 means absent.
using ExtensionResolver = std::int32_t (*)(std::int32_t extension);

// Prepares the runtime on the calling thread, which becomes the GUI thread: library loading limited to
// the system directory, OLE, the program's folder as the current directory, the constant range, the
// declared-command table (the program's own, or `commands`) and the hidden message window.
void InitRuntime();
void InitRuntime(const DeclaredCommandTable& commands);
// Binds the runtime's three optional extension hooks to the program's resolver.
void BindExtensionHooks(ExtensionResolver resolver);
// Remembers the routine that the shutdown calls once.
void SetExitRoutine(ExitRoutine routine);
// Runs the exit routine (once per process) and releases what the runtime holds. Safe to call twice.
void ShutdownRuntime();
// Shuts the runtime down and ends the process with `exitCode`. On the GUI thread: the shutdown, then
// ExitProcess. From another thread: the GUI thread is asked to end (message 0x83E7 to the hidden
// window), then, unless the program is already ending, ExitProcess at once.
[[noreturn]] void EndProgram(int exitCode);

}  // namespace zv
