// Declared library calls: functions of system libraries named by library file and export name in one
// table, resolved on first use and cached (address and module per entry). A call pushes its 32-bit
// arguments last first, calls the function and checks that it removed exactly those arguments; a
// mismatch is runtime error 6. (The x86_64 test vehicle passes pointer-sized arguments by the one
// 64-bit calling convention instead, where the caller removes them: there is nothing to check.) A library or export that cannot be found is a fatal error naming the
// export (and the library, when one is named). Libraries named without a path are loaded from the
// system directory only, never from the program's folder or the current directory; a library loaded
// by its full path looks for its own dependencies beside itself.
#pragma once

#include <cstddef>
#include <cstdint>
#include <type_traits>

namespace zv {

// A table of declared commands as handed to the runtime at start-up: `count` entries in two parallel
// arrays. An empty (or null) library name means the system library search list ("Kernel32.dll",
// "Gdi32.dll", "User32.dll", "Advapi32.dll", "Mpr.dll", "Shell32.dll", in this order). An export name
// "#n" names ordinal n (modulo 65536).
struct DeclaredCommandTable {
  std::int32_t count;
  const char* const* libraries;
  const char* const* exports;
};

// The program's twelve declared commands, by their index in ProgramDeclaredCommands().
enum class DeclaredCommand : std::int32_t {
  OpenProcess = 0,               // (search list)  access, inherit, process id -> handle
  TerminateProcess = 1,          // (search list)  handle, exit code -> bool
  CreateToolhelp32Snapshot = 2,  // (search list)  flags, process id -> snapshot handle
  Process32FirstW = 3,           // (search list)  snapshot, PROCESSENTRY32W* -> bool
  CloseHandle = 4,               // "kernel32"     handle -> bool
  Process32NextW = 5,            // (search list)  snapshot, PROCESSENTRY32W* -> bool
  PathFindFileNameW = 6,         // "shlwapi.dll"  path -> address inside path
  PathFindExtensionW = 7,        // "shlwapi.dll"  path -> address inside path
  SHGetSpecialFolderPathW = 8,   // (search list)  owner, buffer, CSIDL, create -> bool
  GetWindowsDirectoryW = 9,      // "kernel32.dll" buffer, size in characters -> length
  GetSystemDirectoryW = 10,      // "kernel32"     buffer, size in characters -> length
  GetTempPathW = 11,             // "kernel32.dll" size in characters, buffer -> length
};
// The commands that carry text take and give UTF-16 (their wide exports): a path from the system is
// never narrowed through the system's ANSI code page, which cannot hold every user's folder name.

const DeclaredCommandTable& ProgramDeclaredCommands();

// Start-up: takes `table` as the runtime's table (its texts must outlive the run) with empty caches.
// A table registered before is released first.
void RegisterDeclaredCommands(const DeclaredCommandTable& table);
// Shutdown: FreeLibrary on every cached module; the caches are empty afterwards.
void ReleaseDeclaredLibraries();

// The address of entry `index`, resolving and caching it on first use. Does not return when the
// library or export cannot be found (fatal runtime error, exit code -1).
const void* ResolveDeclaredCommand(std::int32_t index);
// Whether entry `index` has been resolved, and how many libraries the resolver has loaded so far
// (each LoadLibrary attempt counts): what makes the lazy resolution and the caches observable.
bool IsDeclaredCommandResolved(std::int32_t index);
std::uint32_t DeclaredLibraryLoadCount();

// One argument or result of a declared command: a 32-bit stack word in the i386 program, a
// pointer-sized register or stack slot in the x86_64 test vehicle.
using DeclaredWordValue = std::uintptr_t;
#if defined(__i386__)
static_assert(sizeof(DeclaredWordValue) == 4, "declared commands take 32-bit stack words");
#endif
// The most arguments a declared command can take in the x86_64 build (the i386 build has no limit).
constexpr std::size_t kMaxDeclaredArguments = 16;

// Calls entry `index` with `count` words as its arguments (words[0] is the first argument). i386:
// ends the program with runtime error 6 when the function does not remove exactly them.
DeclaredWordValue CallDeclaredCommandWithWords(std::int32_t index, const DeclaredWordValue* words,
                                               std::size_t count);

// Where a library file named `name` is loaded from, by one rule for the declared commands' libraries
// and for type libraries: a bare name (no "\\", "/" or ":") from the system directory, a relative path
// from the program's folder (never from the current directory), a rooted name ("\\x.dll") on the
// program's own drive, a name with a drive or a network path ("\\\\server\\share\\x.dll") as it
// stands; forward slashes become backslashes. The GBK name is read as UTF-16 first, so the second
// byte of a double-byte character (GBK "誠" is D5 5C) is never taken for a "\\". The full path goes to
// `path` in UTF-16, for the wide loading calls; false when it does not fit `capacity` characters.
bool LibraryPathFor(const char* name, wchar_t* path, std::size_t capacity);
// The name holds `c` outside double-byte characters.
bool ContainsOutsideDoubleByte(const char* name, char c);

// One word per argument: integers, booleans and enums by value, pointers and handles by address (a
// Text by the address of its bytes). 32-bit words in the i386 program, pointer-sized in x86_64.
template <class T>
DeclaredWordValue DeclaredWord(T value) {
  static_assert(sizeof(T) <= sizeof(DeclaredWordValue), "declared commands take word-sized arguments");
  if constexpr (std::is_pointer_v<T> || std::is_null_pointer_v<T>) {
    return reinterpret_cast<DeclaredWordValue>(value);
  } else {
    return static_cast<DeclaredWordValue>(value);
  }
}

template <class... Args>
DeclaredWordValue CallDeclaredCommand(std::int32_t index, Args... args) {
#if !defined(__i386__)
  static_assert(sizeof...(Args) <= kMaxDeclaredArguments, "more arguments than a declared call can pass");
#endif
  const DeclaredWordValue words[sizeof...(Args) + 1] = {DeclaredWord(args)..., 0u};
  return CallDeclaredCommandWithWords(index, words, sizeof...(Args));
}
template <class... Args>
DeclaredWordValue CallDeclaredCommand(DeclaredCommand command, Args... args) {
  return CallDeclaredCommand(static_cast<std::int32_t>(command), args...);
}

#if !defined(__i386__)
// x86_64: a record in the 32-bit layout (nine 32-bit numbers and the name of 260 UTF-16 characters,
// 556 bytes, as the program declares it) is handed to the system as its own 64-bit record and copied
// back; a record of any other size goes as it stands.
std::int32_t CallProcessRecordCommand(DeclaredCommand command, void* snapshot, void* entry);
#endif

// The program's declared commands with their signatures, written once. Handles are void*.
namespace declared {
inline void* OpenProcess(std::uint32_t access, bool inherit, std::uint32_t processId) {
  return reinterpret_cast<void*>(CallDeclaredCommand(DeclaredCommand::OpenProcess, access,
                                                     static_cast<std::int32_t>(inherit), processId));
}
inline bool TerminateProcess(void* process, std::uint32_t exitCode) {
  // A BOOL is 32 bits: in x86_64 the upper half of the result register is not part of the answer.
  return static_cast<std::uint32_t>(CallDeclaredCommand(DeclaredCommand::TerminateProcess, process, exitCode)) == 1;
}
inline void* CreateToolhelp32Snapshot(std::uint32_t flags, std::uint32_t processId) {
  return reinterpret_cast<void*>(
      CallDeclaredCommand(DeclaredCommand::CreateToolhelp32Snapshot, flags, processId));
}
inline std::int32_t Process32FirstW(void* snapshot, void* entry) {
#if !defined(__i386__)
  return CallProcessRecordCommand(DeclaredCommand::Process32FirstW, snapshot, entry);
#endif
  return static_cast<std::int32_t>(CallDeclaredCommand(DeclaredCommand::Process32FirstW, snapshot, entry));
}
inline std::int32_t CloseHandle(void* handle) {
  return static_cast<std::int32_t>(CallDeclaredCommand(DeclaredCommand::CloseHandle, handle));
}
inline std::int32_t Process32NextW(void* snapshot, void* entry) {
#if !defined(__i386__)
  return CallProcessRecordCommand(DeclaredCommand::Process32NextW, snapshot, entry);
#endif
  return static_cast<std::int32_t>(CallDeclaredCommand(DeclaredCommand::Process32NextW, snapshot, entry));
}
// The address inside `path` where its last component starts; the caller copies it at once.
inline const wchar_t* PathFindFileNameW(const wchar_t* path) {
  return reinterpret_cast<const wchar_t*>(CallDeclaredCommand(DeclaredCommand::PathFindFileNameW, path));
}
// The address inside `path` of its extension (or of its NUL); the caller copies it at once.
inline const wchar_t* PathFindExtensionW(const wchar_t* path) {
  return reinterpret_cast<const wchar_t*>(CallDeclaredCommand(DeclaredCommand::PathFindExtensionW, path));
}
inline std::int32_t SHGetSpecialFolderPathW(void* owner, wchar_t* buffer, std::int32_t csidl, bool create) {
  return static_cast<std::int32_t>(CallDeclaredCommand(DeclaredCommand::SHGetSpecialFolderPathW, owner,
                                                       buffer, csidl, static_cast<std::int32_t>(create)));
}
inline std::uint32_t GetWindowsDirectoryW(wchar_t* buffer, std::uint32_t size) {
  return static_cast<std::uint32_t>(CallDeclaredCommand(DeclaredCommand::GetWindowsDirectoryW, buffer, size));
}
inline std::uint32_t GetSystemDirectoryW(wchar_t* buffer, std::uint32_t size) {
  return static_cast<std::uint32_t>(CallDeclaredCommand(DeclaredCommand::GetSystemDirectoryW, buffer, size));
}
inline std::uint32_t GetTempPathW(std::uint32_t size, wchar_t* buffer) {
  return static_cast<std::uint32_t>(CallDeclaredCommand(DeclaredCommand::GetTempPathW, size, buffer));
}
}  // namespace declared

}  // namespace zv
