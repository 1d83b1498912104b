#include "services/ProcessTermination.h"

#include <cstddef>
#include <cstring>
#include <cwchar>
#include <iterator>
#include <vector>

#include "runtime/Handles.h"

#include "runtime/DeclaredCalls.h"
#include "runtime/ProcessOperations.h"
#include "runtime/TextOperations.h"
#include "runtime/WideText.h"
#include "services/TextHelpers.h"

namespace zv {
namespace {

constexpr std::uint32_t kSnapProcesses = 2;    // TH32CS_SNAPPROCESS
constexpr std::uint32_t kProcessTerminate = 1;  // PROCESS_TERMINATE
constexpr std::uint32_t kSynchronize = 0x00100000;  // SYNCHRONIZE: the right to wait for the end
// PROCESS_QUERY_LIMITED_INFORMATION: the right to read the image name from the handle.
constexpr std::uint32_t kQueryName = 0x1000;
// The longest image path the system gives (the Win32 path limit of 32,767 characters).
constexpr DWORD kImagePathSize = 32768;

static_assert(sizeof(ProcessEntry) == 556, "the system's PROCESSENTRY32W is 556 bytes");
static_assert(offsetof(ProcessEntry, szExeFile) == 9 * sizeof(std::uint32_t), "nine numbers, then the name");

std::int32_t Enumerate(bool first, void* snapshot, ProcessEntry& entry) {
  return first ? declared::Process32FirstW(snapshot, &entry) : declared::Process32NextW(snapshot, &entry);
}

// Whether the system's image name (UTF-16, `length` characters) is `name`. A name that GBK cannot
// hold is no name the wizard could have asked for: it matches nothing.
bool NamesMatch(const wchar_t* imageName, std::size_t length, TextArg name, bool caseSensitive) {
  bool held = false;
  const Text image = ToGbk(imageName, length, &held);
  if (!held) return false;
  if (caseSensitive) return CompareTexts(image.c_str(), name.c_str()) == 0;
  const Text a = ToLowerCase(image);
  const Text b = ToLowerCase(name);
  return CompareTexts(a.get(), b.get()) == 0;
}

// Whether the process behind an open handle runs the image named `name`. The snapshot's ids are only
// names for a moment: a process listed under the name can end and its id go to an unrelated process
// before the open. Reading the name from the handle checks the process that would be terminated.
enum class Identity { kNamed, kOther, kUnknown };
Identity IdentityOf(HANDLE process, TextArg name, bool caseSensitive) {
  WideText path = WideText::Allocate(kImagePathSize);
  DWORD size = kImagePathSize;
  if (process == nullptr || !QueryFullProcessImageNameW(process, 0, path.get(), &size))
    return Identity::kUnknown;
  path.get()[size] = L'\0';
  // The file name: what follows the last backslash, cut in UTF-16 before anything is compared.
  const wchar_t* cut = std::wcsrchr(path.c_str(), L'\\');
  const wchar_t* file = cut != nullptr ? cut + 1 : path.c_str();
  return NamesMatch(file, std::wcslen(file), name, caseSensitive) ? Identity::kNamed : Identity::kOther;
}

// Walks one snapshot of the process list and calls `visit` with the id of every process whose image
// name matches, in the system's order, until `visit` returns false. False when no snapshot was had.
template <class Visit>
bool VisitMatchingProcesses(TextArg name, bool caseSensitive, Visit&& visit) {
  ProcessEntry entry{};
  void* snapshot = declared::CreateToolhelp32Snapshot(kSnapProcesses, 0);
  if (snapshot == nullptr || snapshot == reinterpret_cast<void*>(-1)) return false;

  entry.dwSize = sizeof entry;
  std::int32_t more = Enumerate(true, snapshot, entry);
  while (more != 0) {
    // The name: the characters up to the first NUL within the field.
    const std::size_t length = wcsnlen(entry.szExeFile, std::size(entry.szExeFile));
    if (NamesMatch(entry.szExeFile, length, name, caseSensitive) && !visit(entry.th32ProcessID)) break;
    more = Enumerate(false, snapshot, entry);
  }
  declared::CloseHandle(snapshot);
  return true;
}

}  // namespace

std::uint32_t FindProcessIdByName(TextArg name, OptionalArgument<bool> caseSensitive) {
  // An empty name is no image name. The snapshot can list records whose name is still empty (a
  // process being created, for one); matching those would terminate a process nobody named.
  if (name.empty()) return 0;
  std::uint32_t found = 0;
  VisitMatchingProcesses(name, caseSensitive.value, [&found](std::uint32_t id) {
    found = id;
    return false;  // the first match wins
  });
  return found;
}

bool TerminateProcessByName(OptionalArgument<Text*> name, OptionalArgument<bool> caseSensitive) {
  Text ownName;
  Text* variable = name.value != nullptr ? name.value : &ownName;
  if (!name.IsGiven()) *variable = GetProgramFileName();
  const std::uint32_t processId = FindProcessIdByName(*variable, caseSensitive);
  if (processId == 0) return false;  // nothing matched: nothing to open or terminate
  void* process = declared::OpenProcess(kProcessTerminate | kQueryName, false, processId);
  // Only the process that still runs the named image: an id handed on meanwhile is left alone.
  const bool terminated =
      IdentityOf(static_cast<HANDLE>(process), *variable, caseSensitive.value) == Identity::kNamed &&
      declared::TerminateProcess(process, 0);
  if (process != nullptr) declared::CloseHandle(process);
  return terminated;
}

std::int32_t StopProgramsByName(std::span<const char* const> names, bool caseSensitive, std::uint32_t waitMs) {
  const std::uint32_t self = GetCurrentProcessId();
  std::int32_t notStopped = 0;
  bool listed = true;
  std::vector<UniqueHandle> dying;
  for (const char* name : names) {
    if (name == nullptr || *name == '\0') continue;
    // Every id of one snapshot, terminated once each: a copy that is still ending is not visited again,
    // and one that refuses does not keep the others running.
    listed = VisitMatchingProcesses(name, caseSensitive, [&](std::uint32_t id) {
      if (id == self) return true;
      UniqueHandle process(static_cast<HANDLE>(
          declared::OpenProcess(kProcessTerminate | kSynchronize | kQueryName, false, id)));
      if (process) {
        const Identity identity = IdentityOf(process.get(), name, caseSensitive);
        if (identity == Identity::kOther) return true;  // the copy listed has ended; its id is another's now
        if (identity == Identity::kNamed && declared::TerminateProcess(process.get(), 0)) {
          dying.push_back(static_cast<UniqueHandle&&>(process));
        } else {
          ++notStopped;  // not ours to stop
        }
        return true;
      }
      // Without the right to wait for it, a copy can still be terminated; it then counts as stopped,
      // and the caller's own pause has to cover its end.
      UniqueHandle blind(
          static_cast<HANDLE>(declared::OpenProcess(kProcessTerminate | kQueryName, false, id)));
      const Identity identity = IdentityOf(blind.get(), name, caseSensitive);
      if (identity == Identity::kOther) return true;
      // Gone already, not ours, or not to be recognised.
      if (identity != Identity::kNamed || !declared::TerminateProcess(blind.get(), 0)) ++notStopped;
      return true;
    }) && listed;
  }
  // Termination only starts the end of a process; its files stay in use until it is over.
  const DWORD start = GetTickCount();
  for (const UniqueHandle& process : dying) {
    const DWORD spent = GetTickCount() - start;
    const DWORD left = spent < waitMs ? waitMs - spent : 0;
    if (WaitForSingleObject(process.get(), left) != WAIT_OBJECT_0) ++notStopped;
  }
  return listed ? notStopped : kNoProcessList;
}

}  // namespace zv
