#include "services/ProcessTermination.h"

#include <algorithm>
#include <cstddef>
#include <cstring>
#include <vector>

#include "runtime/Handles.h"

#include "runtime/DeclaredCalls.h"
#include "runtime/ProcessOperations.h"
#include "runtime/TextOperations.h"
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

// The system's own process record (ANSI form): the same nine numbers, with a 260-byte name.
struct NativeProcessEntry {
  std::uint32_t numbers[9];
  char szExeFile[260];
};
static_assert(sizeof(NativeProcessEntry) == 296, "the system's PROCESSENTRY32 is 296 bytes");
static_assert(offsetof(ProcessEntry, szExeFile) == 9 * sizeof(std::uint32_t), "nine numbers, then the name");

// Structure arguments travel as a native copy: fields in, the call, then the numbers and at most the
// declared 256 name bytes back.
class NativeEntryCall {
 public:
  explicit NativeEntryCall(ProcessEntry& entry) : entry_(entry) {
    std::memcpy(native_.numbers, &entry, sizeof native_.numbers);
    std::memset(native_.szExeFile, 0, sizeof native_.szExeFile);
    std::memcpy(native_.szExeFile, entry.szExeFile, sizeof entry.szExeFile);
  }
  ~NativeEntryCall() {
    std::memcpy(&entry_, native_.numbers, sizeof native_.numbers);
    std::memcpy(entry_.szExeFile, native_.szExeFile, sizeof entry_.szExeFile);
  }
  void* address() { return &native_; }

 private:
  ProcessEntry& entry_;
  NativeProcessEntry native_;
};

std::int32_t Enumerate(bool first, void* snapshot, ProcessEntry& entry) {
  NativeEntryCall call(entry);
  return first ? declared::Process32First(snapshot, call.address()) : declared::Process32Next(snapshot, call.address());
}

bool NamesMatch(TextArg image, TextArg name, bool caseSensitive) {
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
  Text path = Text::Allocate(kImagePathSize);
  DWORD size = kImagePathSize;
  if (process == nullptr || !QueryFullProcessImageNameA(process, 0, path.get(), &size))
    return Identity::kUnknown;
  path.get()[size] = '\0';
  // The file name: what follows the last backslash that is not the trail byte of a double-byte
  // character, compared as the snapshot's name is (at most its first 256 bytes).
  const char* file = path.get();
  for (const char* p = file; *p != '\0'; p += CharacterLength(p)) {
    if (*p == '\\') file = p + 1;
  }
  const Text image =
      Text::Copy(file, std::min<std::size_t>(std::strlen(file), sizeof(ProcessEntry::szExeFile)));
  return NamesMatch(image, name, caseSensitive) ? Identity::kNamed : Identity::kOther;
}

// Walks one snapshot of the process list and calls `visit` with the id of every process whose image
// name matches, in the system's order, until `visit` returns false. False when no snapshot was had.
template <class Visit>
bool VisitMatchingProcesses(TextArg name, bool caseSensitive, Visit&& visit) {
  ProcessEntry entry{};
  void* snapshot = declared::CreateToolhelp32Snapshot(kSnapProcesses, 0);
  if (snapshot == nullptr || snapshot == reinterpret_cast<void*>(-1)) return false;

  entry.dwSize = sizeof(NativeProcessEntry);
  std::int32_t more = Enumerate(true, snapshot, entry);
  while (more != 0) {
    // The name as a text: the bytes up to the first NUL within the 256-byte field.
    OwnedByteArray field = OwnedByteArray::Copy(entry.szExeFile, sizeof entry.szExeFile);
    const Text image = ValueToText(Value::Array(TypeFlag::ByteArray, field.get()));
    if (NamesMatch(image, name, caseSensitive) && !visit(entry.th32ProcessID)) break;
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
