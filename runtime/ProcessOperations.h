// Processes, message boxes, waiting and the program's own identity. RunProgram and ShowMessage are
// thin wrappers over CreateProcessW and MessageBoxW with fixed flags, their GBK texts converted with
// code page 936; nothing here shows an error of its own. The program's folder and file name are recorded once at start-up (InitRuntime).
#pragma once

#include <cstdint>

#include "runtime/Text.h"
#include "runtime/Value.h"

namespace zv {

// Window modes of RunProgram (clamped to 1..6; omitted means normal, activated).
enum RunWindowMode : std::int32_t {
  kRunHidden = 1,
  kRunNormal = 2,
  kRunMinimised = 3,
  kRunMaximised = 4,
  kRunNormalNoActivate = 5,
  kRunMinimisedNoActivate = 6,
};

// Starts `commandLine` (CreateProcessW, no inheritance, the caller's environment and folder). With
// `wait` it returns when the program has ended, otherwise when it is idle for input (at most 1000 ms).
// False when the program could not be started.
// `folder`, where given, is the program's working folder instead of the caller's.
bool RunProgram(TextArg commandLine, bool wait, OptionalArgument<std::int32_t> mode = {},
                const char* folder = nullptr);

// MessageBoxW with no owner, the GBK texts converted with code page 936. A Text message is shown as it is; a
// number, bool or date as ValueToText writes it; anything else as the empty text. The caption defaults to
// "信息：". MB_TASKMODAL is added unless MB_SYSTEMMODAL is given. Keys typed before the box shows (while the
// program was busy) are dropped, so that none of them answers it. Returns the 0-based button index (IDOK 0,
// IDCANCEL 1, ... IDNO 6).
std::int32_t ShowMessage(const Value& message, std::int32_t flags, OptionalArgument<TextArg> caption = {});
std::int32_t ShowMessage(TextArg message, std::int32_t flags, OptionalArgument<TextArg> caption = {});

// Sleeps; a negative time counts as 0. No messages are processed meanwhile.
void Delay(std::int32_t milliseconds);

// A new copy of the program's file name as recorded at start-up, e.g. "ZorvikSetup.exe", in GBK (a
// character GBK cannot hold reads "?").
Text GetProgramFileName();
// The program's folder in UTF-16 as recorded at start-up (no trailing backslash; empty before
// start-up). It is never narrowed: GBK cannot hold every folder name a user may choose.
const wchar_t* ProgramDirectory();

// Start-up only: records the program's folder and file name (GetModuleFileNameW, split at the last
// backslash) and makes the folder the current directory.
void RecordProgramIdentity();

}  // namespace zv
