#include "tests/support/Faults.h"

#include <cstdlib>
#include <vector>

#include "tests/support/WinTestSupport.h"

namespace zv::test {
namespace {

constexpr char kRoot[] = "Q:\\";
// The fixture mounts 1 MB; anything much larger is some other drive that must not be filled.
constexpr std::uint64_t kLargestSmallDrive = 8ull << 20;

// Why the fixture could not mount the drive, as it wrote it into the build tree's Wine root.
std::string FixtureReason() {
  const char* root = std::getenv("ZV_WINE_ROOT");
  if (root == nullptr) return "";
  std::string path = std::string("Z:") + root + "/small-drive.reason";
  for (char& c : path) {
    if (c == '/') c = '\\';
  }
  std::string reason = ReadWholeFile(path);
  while (!reason.empty() && (reason.back() == '\n' || reason.back() == '\r')) reason.pop_back();
  return reason;
}

}  // namespace

SmallDrive::SmallDrive() {
  lock_ = CreateMutexA(nullptr, FALSE, "zv_small_drive");
  if (lock_ != nullptr) WaitForSingleObject(lock_, 300000);
  ULARGE_INTEGER freeToCaller{}, total{}, freeTotal{};
  if (!GetDiskFreeSpaceExA(kRoot, &freeToCaller, &total, &freeTotal)) {
    whyNot_ = FixtureReason();
    if (whyNot_.empty())
      whyNot_ = "drive Q: is not mapped: the CTest fixture tests/support/small-drive maps it";
    return;
  }
  if (total.QuadPart > kLargestSmallDrive) {
    whyNot_ = "drive Q: is not the small drive of the tests (" + std::to_string(total.QuadPart) + " bytes)";
    return;
  }
  available_ = true;
  filler_ = std::string(kRoot) + "zv_filler_" + std::to_string(GetCurrentProcessId()) + ".bin";
}

SmallDrive::~SmallDrive() {
  if (available_) {
    Empty();
    for (int i = 0; i < folderCount_; ++i) RemoveTree(folders_[i]);
  }
  if (lock_ != nullptr) {
    ReleaseMutex(lock_);
    CloseHandle(lock_);
  }
}

std::string SmallDrive::MakeFolder(const std::string& name) {
  const std::string folder = std::string(kRoot) + name + "_" + std::to_string(GetCurrentProcessId());
  RemoveTree(folder);
  CreateDirectoryA(folder.c_str(), nullptr);
  if (folderCount_ < static_cast<int>(std::size(folders_))) folders_[folderCount_++] = folder;
  return folder;
}

std::uint64_t SmallDrive::FreeBytes() const {
  ULARGE_INTEGER freeToCaller{}, total{}, freeTotal{};
  if (!GetDiskFreeSpaceExA(kRoot, &freeToCaller, &total, &freeTotal)) return 0;
  return freeToCaller.QuadPart;
}

bool SmallDrive::LeaveFree(std::uint64_t bytes) {
  if (!available_) return false;
  HANDLE file =
      CreateFileA(filler_.c_str(), GENERIC_WRITE, 0, nullptr, OPEN_ALWAYS, FILE_ATTRIBUTE_NORMAL, nullptr);
  if (file == INVALID_HANDLE_VALUE) return false;
  SetFilePointer(file, 0, nullptr, FILE_END);
  const std::vector<char> zeros(4096, 0);
  // Page by page, so that the last write stops where the space does.
  while (FreeBytes() > bytes) {
    DWORD written = 0;
    if (!WriteFile(file, zeros.data(), static_cast<DWORD>(zeros.size()), &written, nullptr) || written == 0)
      break;
  }
  CloseHandle(file);
  return FreeBytes() <= bytes;
}

void SmallDrive::Empty() {
  if (!filler_.empty()) DeleteFileA(filler_.c_str());
}

namespace {

// Polls `condition` for up to five seconds.
template <class Condition>
bool WaitFor(Condition condition) {
  for (int i = 0; i < 250; ++i) {
    if (condition()) return true;
    Sleep(20);
  }
  return condition();
}

// The file can be opened for writing.
bool Writable(const std::string& path) {
  HANDLE file = CreateFileA(path.c_str(), GENERIC_WRITE, FILE_SHARE_READ | FILE_SHARE_WRITE, nullptr,
                            OPEN_EXISTING, FILE_ATTRIBUTE_NORMAL, nullptr);
  if (file == INVALID_HANDLE_VALUE) return false;
  CloseHandle(file);
  return true;
}

}  // namespace

std::string UnixPathOf(const std::string& windowsPath) {
  // Wine's own export; absent on Windows, where nothing here is needed.
  using Convert = char*(CDECL*)(const WCHAR*);
  auto convert = reinterpret_cast<Convert>(
      reinterpret_cast<void*>(GetProcAddress(GetModuleHandleA("kernel32.dll"), "wine_get_unix_file_name")));
  if (convert == nullptr) return "";
  WCHAR wide[MAX_PATH] = {};
  MultiByteToWideChar(CP_ACP, 0, windowsPath.c_str(), -1, wide, MAX_PATH);
  char* unix = convert(wide);
  if (unix == nullptr) return "";
  std::string result = unix;
  HeapFree(GetProcessHeap(), 0, unix);
  return result;
}

bool RunLinuxProgram(const std::string& commandLine) {
  ChildProcess program;
  if (!program.Start(commandLine)) return false;
  // Wine hands the command to the Linux side; the handle it gives may be signalled before the
  // program has done its work, so callers check the effect (WaitFor below).
  program.Wait(20000);
  return true;
}

bool MakeLinuxLink(const std::string& link, const std::string& target) {
  // The target's Linux path, made through its folder when it does not exist yet.
  std::string unixTarget = UnixPathOf(target);
  const std::size_t cut = target.find_last_of('\\');
  if (unixTarget.empty() && cut != std::string::npos) {
    const std::string folder = UnixPathOf(target.substr(0, cut));
    if (!folder.empty()) unixTarget = folder + "/" + target.substr(cut + 1);
  }
  const std::size_t linkCut = link.find_last_of('\\');
  if (unixTarget.empty() || linkCut == std::string::npos) return false;
  const std::string linkFolder = UnixPathOf(link.substr(0, linkCut));
  if (linkFolder.empty()) return false;
  const std::string unixLink = linkFolder + "/" + link.substr(linkCut + 1);
  if (!RunLinuxProgram("/bin/ln -sfn \"" + unixTarget + "\" \"" + unixLink + "\"")) return false;
  // Wine reports a link to a folder as a reparse point; one to a file as the file it points at.
  return WaitFor([&] { return GetFileAttributesA(link.c_str()) != INVALID_FILE_ATTRIBUTES; });
}

void RemoveLinuxLink(const std::string& link) {
  const std::size_t cut = link.find_last_of('\\');
  if (cut == std::string::npos) return;
  const std::string folder = UnixPathOf(link.substr(0, cut));
  if (folder.empty()) return;
  const std::string unixLink = folder + "/" + link.substr(cut + 1);
  if (!RunLinuxProgram("/bin/rm -f \"" + unixLink + "\"")) return;
  WaitFor([&] { return GetFileAttributesA(link.c_str()) == INVALID_FILE_ATTRIBUTES; });
}

ReadOnlyFile::ReadOnlyFile(const std::string& path) : path_(path) {
  SetFileAttributesA(path.c_str(), FILE_ATTRIBUTE_READONLY);
  if (!Writable(path)) {
    ok_ = true;
    return;
  }
  unixPath_ = UnixPathOf(path);
  if (unixPath_.empty() || !RunLinuxProgram("/usr/bin/chattr +i \"" + unixPath_ + "\"")) {
    whyNot_ = "the read-only attribute is not enforced here and chattr could not be run";
    return;
  }
  immutable_ = true;
  ok_ = WaitFor([&] { return !Writable(path); });
  if (!ok_)
    whyNot_ = "neither the read-only attribute nor the immutable flag keeps " + path + " from being written";
}

ReadOnlyFile::~ReadOnlyFile() {
  if (immutable_ && RunLinuxProgram("/usr/bin/chattr -i \"" + unixPath_ + "\"")) {
    WaitFor([&] { return Writable(path_); });
  }
  SetFileAttributesA(path_.c_str(), FILE_ATTRIBUTE_NORMAL);
}

}  // namespace zv::test
