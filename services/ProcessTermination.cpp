#include "services/ProcessTermination.h"

#include <cstddef>
#include <cstring>

#include "runtime/DeclaredCalls.h"
#include "runtime/ProcessOperations.h"
#include "runtime/TextOperations.h"
#include "services/TextHelpers.h"

namespace zv {
namespace {

constexpr std::uint32_t kSnapProcesses = 2;    // TH32CS_SNAPPROCESS
constexpr std::uint32_t kProcessTerminate = 1;  // PROCESS_TERMINATE

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

}  // namespace

std::uint32_t FindProcessIdByName(TextArg name, OptionalArgument<bool> caseSensitive) {
  // An empty name is no image name. The snapshot can list records whose name is still empty (a
  // process being created, for one); matching those would terminate a process nobody named.
  if (name.empty()) return 0;
  ProcessEntry entry{};
  void* snapshot = declared::CreateToolhelp32Snapshot(kSnapProcesses, 0);
  if (snapshot == nullptr || snapshot == reinterpret_cast<void*>(-1)) return 0;

  entry.dwSize = sizeof(NativeProcessEntry);
  std::int32_t more = Enumerate(true, snapshot, entry);
  while (more != 0) {
    // The name as a text: the bytes up to the first NUL within the 256-byte field.
    OwnedByteArray field = OwnedByteArray::Copy(entry.szExeFile, sizeof entry.szExeFile);
    const Text image = ValueToText(Value::Array(TypeFlag::ByteArray, field.get()));
    if (NamesMatch(image, name, caseSensitive.value)) {
      declared::CloseHandle(snapshot);
      return entry.th32ProcessID;
    }
    more = Enumerate(false, snapshot, entry);
  }
  declared::CloseHandle(snapshot);
  return 0;
}

bool TerminateProcessByName(OptionalArgument<Text*> name, OptionalArgument<bool> caseSensitive) {
  Text ownName;
  Text* variable = name.value != nullptr ? name.value : &ownName;
  if (!name.IsGiven()) *variable = GetProgramFileName();
  const std::uint32_t processId = FindProcessIdByName(*variable, caseSensitive);
  if (processId == 0) return false;  // nothing matched: nothing to open or terminate
  void* process = declared::OpenProcess(kProcessTerminate, false, processId);
  const bool terminated = declared::TerminateProcess(process, 0);
  if (process != nullptr) declared::CloseHandle(process);
  return terminated;
}

}  // namespace zv
