// Resolution, caches and the checked call of declared library commands.
#include "runtime/DeclaredCalls.h"

#include <windows.h>
#include <tlhelp32.h>

#include <cstring>
#include <cwchar>
#include <utility>

#include "runtime/Fatal.h"
#include "runtime/Handles.h"
#include "runtime/Heap.h"
#include "runtime/TextOperations.h"
#include "runtime/ProcessOperations.h"
#include "runtime/Text.h"
#include "runtime/WideText.h"

#ifndef LOAD_LIBRARY_SEARCH_SYSTEM32
#define LOAD_LIBRARY_SEARCH_SYSTEM32 0x00000800
#endif

namespace zv {
namespace {

const char* const kProgramLibraries[] = {
    "",
    "",
    "",
    "",
    "kernel32",
    "",
    "shlwapi.dll",
    "shlwapi.dll",
    "",
    "kernel32.dll",
    "kernel32",
    "kernel32.dll",
};
const char* const kProgramExports[] = {
    "OpenProcess",          "TerminateProcess",    "CreateToolhelp32Snapshot",
    "Process32FirstW",      "CloseHandle",         "Process32NextW",
    "PathFindFileNameW",    "PathFindExtensionW",  "SHGetSpecialFolderPathW",
    "GetWindowsDirectoryW", "GetSystemDirectoryW", "GetTempPathW",
};
static_assert(sizeof kProgramLibraries == sizeof kProgramExports, "one library per export");
const DeclaredCommandTable kProgramTable = {
    static_cast<std::int32_t>(sizeof kProgramExports / sizeof kProgramExports[0]), kProgramLibraries,
    kProgramExports};

const char* const kSystemLibrarySearchList[] = {
    "Kernel32.dll", "Gdi32.dll", "User32.dll", "Advapi32.dll", "Mpr.dll", "Shell32.dll",
};

// One row of the runtime's copy of the table, with its two caches.
struct Entry {
  const char* library;
  const char* exportName;
  const void* address;
  HMODULE module;
};

Entry* g_entries = nullptr;
std::int32_t g_count = 0;
std::uint32_t g_loadCount = 0;

bool IsEmpty(const char* s) {
  return s == nullptr || *s == '\0';
}

// Library paths are as long as the system's longest path may be.
constexpr std::size_t kLibraryPathSize = 32768;

// A path that names its folder from a root: "X:\\..." or "\\\\server\\...". Only for such a path does
// LOAD_WITH_ALTERED_SEARCH_PATH have a defined meaning.
bool IsFullPath(const wchar_t* path) {
  return (path[0] != L'\0' && path[1] == L':' && path[2] == L'\\') || (path[0] == L'\\' && path[1] == L'\\');
}

// Loads a library named by its path. A full path is loaded with LOAD_WITH_ALTERED_SEARCH_PATH, so
// that the libraries it needs in turn are looked for beside it and in the system directories, and
// never in the program's folder (where the ordinary search order looks first).
HMODULE LoadLibraryByPath(const wchar_t* path) {
  ++g_loadCount;
  return LoadLibraryExW(path, nullptr, IsFullPath(path) ? LOAD_WITH_ALTERED_SEARCH_PATH : 0);
}

// Loads the library at the path that LibraryPathFor gives for `name`.
HMODULE LoadLibraryFor(const char* name) {
  WideText path = WideText::Allocate(kLibraryPathSize);
  if (!LibraryPathFor(name, path.get(), kLibraryPathSize)) return nullptr;
  return LoadLibraryByPath(path.get());
}

// A library named without a path comes from the system directory only: a program started from a
// downloads folder must never run a same-named library planted beside it.
HMODULE LoadSystemLibrary(const char* name) {
  HMODULE module = LoadLibraryExW(ToWide(name).c_str(), nullptr, LOAD_LIBRARY_SEARCH_SYSTEM32);
  if (module != nullptr || GetLastError() != ERROR_INVALID_PARAMETER) {
    ++g_loadCount;
    return module;
  }
  // Systems without the search flags: name the system directory explicitly.
  return LoadLibraryFor(name);
}

// A name with a drive and a network path are loaded as given; a rooted name from the program's drive;
// a relative path is taken relative to the program's folder; a bare name comes from the system
// directory.
HMODULE LoadNamedLibrary(const char* name) {
  if (!ContainsOutsideDoubleByte(name, ':') && !ContainsOutsideDoubleByte(name, '\\') &&
      !ContainsOutsideDoubleByte(name, '/')) {
    return LoadSystemLibrary(name);
  }
  return LoadLibraryFor(name);
}

// Export names are the bytes of the library's export table, compared as they are: GetProcAddress has
// no wide form, and needs none.
// GetProcAddress by name, or by ordinal for "#n".
FARPROC FindExport(HMODULE module, const char* exportName) {
  if (exportName[0] != '#') return GetProcAddress(module, exportName);
  std::uint32_t ordinal = 0;
  for (const char* p = exportName + 1; *p >= '0' && *p <= '9'; ++p) ordinal = ordinal * 10 + (*p - '0');
  return GetProcAddress(module, MAKEINTRESOURCEA(ordinal % 65536));
}

[[noreturn]] void ReportMissingExport(const char* library, const char* exportName) {
  TextBuilder message;
  auto put = [&message](const char* s) { message.Append(s, std::strlen(s)); };
  if (IsEmpty(library)) {
    put("无法找到指定DLL库文件中的输出命令“");
  } else {
    put("无法找到指定DLL库文件“");
    put(library);
    put("”中的输出命令“");
  }
  put(exportName);
  put("”");
  Text text = message.Finish();
  ReportRuntimeError(kErrorNone, text.c_str());
}

#if defined(__i386__)
// Pushes `count` words last first, calls `function` and compares the stack position afterwards with
// the one recorded before the first push. The recorded position is kept in EDI, which a Windows
// function preserves; ESP is put back from it, so a wrong declaration cannot unbalance this frame.
std::uint32_t CallWithStackCheck(const void* function, const std::uint32_t* words, std::uint32_t count,
                                 bool* balanced) {
  std::uint32_t result;
  std::uint32_t after;
  std::uint32_t before;
  asm volatile(
      "movl %%esp, %%edi\n\t"
      "jmp 2f\n"
      "1:\n\t"
      "decl %%ecx\n\t"
      "pushl (%%esi,%%ecx,4)\n"
      "2:\n\t"
      "testl %%ecx, %%ecx\n\t"
      "jnz 1b\n\t"
      "call *%%ebx\n\t"
      "movl %%esp, %%ecx\n\t"
      "movl %%edi, %%esp\n\t"
      : "=a"(result), "=c"(after), "=&D"(before)
      : "b"(function), "S"(words), "c"(count)
      : "edx", "memory", "cc");
  *balanced = after == before;
  return result;
}
#else
// x86_64 (the test vehicle): one calling convention, in which the caller reserves and removes the
// argument space, so a call is made through a function pointer type with exactly `count` word
// parameters and a wrong declaration cannot unbalance the stack.
template <std::size_t... I>
DeclaredWordValue CallWithArguments(const void* function, const DeclaredWordValue* words,
                                    std::index_sequence<I...>) {
  using Function = DeclaredWordValue (*)(decltype(I, DeclaredWordValue{})...);
  return reinterpret_cast<Function>(const_cast<void*>(function))(words[I]...);
}

template <std::size_t... N>
DeclaredWordValue CallByCount(const void* function, const DeclaredWordValue* words, std::size_t count,
                              std::index_sequence<N...>) {
  DeclaredWordValue result = 0;
  // Exactly one count matches; the caller has checked it is in range.
  (void)((count == N ? (result = CallWithArguments(function, words, std::make_index_sequence<N>{}), true)
                     : false) ||
         ...);
  return result;
}
#endif

}  // namespace

bool ContainsOutsideDoubleByte(const char* name, char c) {
  for (const char* p = name; *p != '\0'; p += CharacterLength(p)) {
    if (*p == c) return true;
  }
  return false;
}

bool LibraryPathFor(const char* name, wchar_t* path, std::size_t capacity) {
  // Forward slashes become backslashes: the system's search for a library's own dependencies
  // (LOAD_WITH_ALTERED_SEARCH_PATH) is defined for backslashes only.
  WideText given = ToWide(name);
  const std::size_t length = given.length();
  for (wchar_t* p = given.get(); *p != L'\0'; ++p) {
    if (*p == L'/') *p = L'\\';
  }
  const wchar_t* g = given.c_str();
  // `folder` (its first `folderLength` characters), a backslash where asked, then the name.
  const auto put = [&](const wchar_t* folder, std::size_t folderLength, bool separator) {
    if (folderLength + (separator ? 1 : 0) + length >= capacity) return false;
    std::wmemcpy(path, folder, folderLength);
    if (separator) path[folderLength++] = L'\\';
    std::wmemcpy(path + folderLength, g, length + 1);
    return true;
  };
  // A drive or a network path names its folder from a root: taken as given.
  if (std::wcschr(g, L':') != nullptr || (g[0] == L'\\' && g[1] == L'\\')) return put(L"", 0, false);
  const wchar_t* program = ProgramDirectory();
  // A rooted name ("\\x.dll") names the root of the current drive, which depends on the current
  // directory: it is taken on the program's own drive instead.
  if (g[0] == L'\\') return program[0] != L'\0' && program[1] == L':' && put(program, 2, false);
  // A relative path: from the program's folder.
  if (std::wcschr(g, L'\\') != nullptr) return put(program, std::wcslen(program), true);
  wchar_t system[MAX_PATH];  // a bare name
  const UINT written = GetSystemDirectoryW(system, MAX_PATH);
  return written > 0 && written < MAX_PATH && put(system, written, true);
}

const DeclaredCommandTable& ProgramDeclaredCommands() {
  return kProgramTable;
}

void RegisterDeclaredCommands(const DeclaredCommandTable& table) {
  ReleaseDeclaredLibraries();
  heap::Free(g_entries);
  g_count = table.count < 0 ? 0 : table.count;
  g_entries = static_cast<Entry*>(heap::AllocateZeroed(sizeof(Entry) * static_cast<std::size_t>(g_count)));
  for (std::int32_t i = 0; i < g_count; ++i) {
    g_entries[i].library = table.libraries[i];
    g_entries[i].exportName = table.exports[i];
  }
}

void ReleaseDeclaredLibraries() {
  for (std::int32_t i = 0; i < g_count; ++i) {
    UniqueModule(g_entries[i].module).reset();
    g_entries[i].module = nullptr;
    g_entries[i].address = nullptr;
  }
}

const void* ResolveDeclaredCommand(std::int32_t index) {
  if (index < 0 || index >= g_count) ReportMissingExport("", "");
  Entry& entry = g_entries[index];
  if (entry.address != nullptr) return entry.address;

  const char* exportName = entry.exportName != nullptr ? entry.exportName : "";
  UniqueModule module;
  FARPROC address = nullptr;
  if (IsEmpty(entry.library)) {
    // Each library of the list that lacks the export is freed again before the next is tried.
    for (const char* name : kSystemLibrarySearchList) {
      module.reset(LoadSystemLibrary(name));
      if (module) address = FindExport(module.get(), exportName);
      if (address != nullptr) break;
    }
  } else {
    module.reset(LoadNamedLibrary(entry.library));
    if (module) address = FindExport(module.get(), exportName);
  }
  if (address == nullptr) {
    module.reset();
    ReportMissingExport(entry.library, exportName);
  }
  entry.module = module.release();
  entry.address = reinterpret_cast<const void*>(address);
  return entry.address;
}

bool IsDeclaredCommandResolved(std::int32_t index) {
  return index >= 0 && index < g_count && g_entries[index].address != nullptr;
}

std::uint32_t DeclaredLibraryLoadCount() {
  return g_loadCount;
}

DeclaredWordValue CallDeclaredCommandWithWords(std::int32_t index, const DeclaredWordValue* words,
                                               std::size_t count) {
  const void* function = ResolveDeclaredCommand(index);
#if defined(__i386__)
  bool balanced = false;
  const std::uint32_t result =
      CallWithStackCheck(function, words, static_cast<std::uint32_t>(count), &balanced);
  if (!balanced) ReportRuntimeError(kErrorStackMismatch);
  return result;
#else
  if (count > kMaxDeclaredArguments) {
    ReportRuntimeError(kErrorNone, "调用DLL命令时参数过多");
  }
  return CallByCount(function, words, count, std::make_index_sequence<kMaxDeclaredArguments + 1>{});
#endif
}

#if !defined(__i386__)
namespace {
// The 32-bit layout of the system's process record: nine 32-bit numbers, then the name of 260 UTF-16
// characters.
constexpr std::size_t kNarrowNumbers = 9;
constexpr std::size_t kNarrowRecordSize = kNarrowNumbers * 4 + MAX_PATH * sizeof(wchar_t);
}  // namespace

std::int32_t CallProcessRecordCommand(DeclaredCommand command, void* snapshot, void* entry) {
  std::uint32_t size = 0;
  std::memcpy(&size, entry, sizeof size);
  if (size != kNarrowRecordSize) {
    return static_cast<std::int32_t>(CallDeclaredCommand(command, snapshot, entry));
  }
  std::uint32_t numbers[kNarrowNumbers];
  std::memcpy(numbers, entry, sizeof numbers);
  char* const name = static_cast<char*>(entry) + sizeof numbers;
  PROCESSENTRY32W native{};
  native.dwSize = sizeof native;
  native.cntUsage = numbers[1];
  native.th32ProcessID = numbers[2];
  native.th32DefaultHeapID = numbers[3];
  native.th32ModuleID = numbers[4];
  native.cntThreads = numbers[5];
  native.th32ParentProcessID = numbers[6];
  native.pcPriClassBase = static_cast<LONG>(numbers[7]);
  native.dwFlags = numbers[8];
  std::memcpy(native.szExeFile, name, sizeof native.szExeFile);
  const std::int32_t result = static_cast<std::int32_t>(CallDeclaredCommand(command, snapshot, &native));
  // dwSize stays the caller's.
  numbers[1] = native.cntUsage;
  numbers[2] = native.th32ProcessID;
  numbers[3] = static_cast<std::uint32_t>(native.th32DefaultHeapID);
  numbers[4] = native.th32ModuleID;
  numbers[5] = native.cntThreads;
  numbers[6] = native.th32ParentProcessID;
  numbers[7] = static_cast<std::uint32_t>(native.pcPriClassBase);
  numbers[8] = native.dwFlags;
  std::memcpy(entry, numbers, sizeof numbers);
  std::memcpy(name, native.szExeFile, sizeof native.szExeFile);
  return result;
}
#endif

}  // namespace zv
