// The payload write phase of an installation as the setup program performs it: VerifyPayloads over
// the embedded catalogue, then WritePayloads of the same arrays, into a folder given on the command
// line instead of C:\zor\vik, held first as the wizard holds C:\zor\vik. Built like the product (no
// exceptions, the runtime heap) and linked with the same payload data. Prints one line of figures for
// the harness (Harness.cpp):
//   ms=<phase in milliseconds> ok=<1|0> peak_ws=<bytes> peak_commit=<bytes> image=<bytes>
// Usage: zvbench_write.exe <folder>
//
// Built as zvbench_replace_write (ZV_BENCH_REPLACE_BASELINE), it is the fair baseline of a write that
// keeps the old files until the new ones are whole: the same check, then for each array a new file
// beside its target (CreateFileW, one WriteFile, FlushFileBuffers, CloseHandle) renamed over the target
// (MoveFileExW, MOVEFILE_REPLACE_EXISTING). No scratch-name randomness, no keeping aside, no undo and
// no flush after the moves: what is left of the product's figure over this one is the price of those.
#include <windows.h>
#include <psapi.h>

#include <cstdio>
#include <cstring>
#include <cwchar>
#include <span>

#include "services/InstallFolder.h"
#include "services/PayloadStore.h"

namespace {

constexpr std::size_t kMaxEntries = 16;

#ifdef ZV_BENCH_REPLACE_BASELINE
// Each payload to "<target>.new", flushed, then renamed over the target. The paths are ASCII (the
// bench folder and the catalogue's names), widened byte for byte.
bool WriteBesideAndRename(std::span<const zv::PayloadEntry> entries) {
  bool ok = true;
  for (const zv::PayloadEntry& entry : entries) {
    wchar_t target[MAX_PATH], fresh[MAX_PATH];
    std::size_t n = 0;
    for (; entry.path[n] != '\0' && n + 5 < MAX_PATH; ++n) target[n] = static_cast<unsigned char>(entry.path[n]);
    target[n] = L'\0';
    std::wcscpy(fresh, target);
    std::wcscat(fresh, L".new");
    HANDLE file = CreateFileW(fresh, GENERIC_WRITE, 0, nullptr, CREATE_ALWAYS, FILE_ATTRIBUTE_NORMAL, nullptr);
    if (file == INVALID_HANDLE_VALUE) {
      ok = false;
      continue;
    }
    DWORD written = 0;
    const DWORD length = static_cast<DWORD>(entry.payload->length);
    bool whole = WriteFile(file, entry.payload->bytes(), length, &written, nullptr) && written == length &&
                 FlushFileBuffers(file);
    whole = CloseHandle(file) && whole;
    ok = whole && MoveFileExW(fresh, target, MOVEFILE_REPLACE_EXISTING) && ok;
  }
  return ok;
}
#endif

const char* FileNameOf(const char* path) {
  const char* name = path;
  for (const char* p = path; *p != '\0'; ++p) {
    if (*p == '\\') name = p + 1;
  }
  return name;
}

}  // namespace

int main(int argc, char** argv) {
  if (argc != 2) {
    std::fputs("usage: zvbench_write.exe <folder>\n", stderr);
    return 2;
  }
  // The same arrays and checksums, aimed at the bench folder. Paths are made before the clock starts.
  const auto catalogue = zv::PayloadCatalogue();
  static char paths[kMaxEntries][MAX_PATH];
  zv::PayloadEntry entries[kMaxEntries];
  const std::size_t count = catalogue.size() < kMaxEntries ? catalogue.size() : kMaxEntries;
  for (std::size_t i = 0; i < count; ++i) {
    std::snprintf(paths[i], MAX_PATH, "%s\\%s", argv[1], FileNameOf(catalogue[i].path));
    entries[i] = {paths[i], catalogue[i].payload, catalogue[i].crc32};
  }
  const std::span<const zv::PayloadEntry> retargeted(entries, count);
#ifndef ZV_BENCH_REPLACE_BASELINE
  // The folder held as the wizard holds it from page 1 on (so that the writes go through its handle),
  // and made ready as the installation does before it writes.
  zv::HeldFolders held;
  const char* const folders[] = {argv[1]};
  if (held.Prepare(folders, zv::FolderUse::kWrite) != zv::FolderRefusal::kNone) {
    std::fputs("the bench folder could not be held\n", stderr);
    return 1;
  }
#endif

  LARGE_INTEGER frequency, touchStart, start, end;
  QueryPerformanceFrequency(&frequency);
  QueryPerformanceCounter(&touchStart);
  unsigned sum = 0;
  for (std::size_t i = 0; i < count; ++i) {
    const volatile unsigned char* bytes = catalogue[i].payload->bytes();
    for (std::int32_t at = 0; at < catalogue[i].payload->length; at += 4096) sum += bytes[at];
  }
  QueryPerformanceCounter(&start);
  zv::FailedFiles failed;
  LARGE_INTEGER verified;
  bool ok = zv::VerifyPayloads(retargeted);
  QueryPerformanceCounter(&verified);
#ifdef ZV_BENCH_REPLACE_BASELINE
  ok = ok && WriteBesideAndRename(retargeted);
#else
  if (ok) zv::WritePayloads(retargeted, &failed);
  ok = ok && failed.empty();
#endif
  QueryPerformanceCounter(&end);

  PROCESS_MEMORY_COUNTERS memory{};
  GetProcessMemoryInfo(GetCurrentProcess(), &memory, sizeof memory);
  auto* base = reinterpret_cast<const unsigned char*>(GetModuleHandleA(nullptr));
  auto* nt = reinterpret_cast<const IMAGE_NT_HEADERS*>(
      base + reinterpret_cast<const IMAGE_DOS_HEADER*>(base)->e_lfanew);
  const double perMs = static_cast<double>(frequency.QuadPart) / 1000.0;
  std::printf("touch_ms=%.3f verify_ms=%.3f ms=%.3f ok=%d peak_ws=%lu peak_commit=%lu image=%lu sum=%u\n",
              static_cast<double>(start.QuadPart - touchStart.QuadPart) / perMs,
              static_cast<double>(verified.QuadPart - start.QuadPart) / perMs,
              static_cast<double>(end.QuadPart - start.QuadPart) / perMs, ok ? 1 : 0,
              static_cast<unsigned long>(memory.PeakWorkingSetSize),
              static_cast<unsigned long>(memory.PeakPagefileUsage),
              static_cast<unsigned long>(nt->OptionalHeader.SizeOfImage), sum);
  std::fflush(stdout);
  return ok ? 0 : 1;
}
