/* The baseline of the payload write phase: the least that a Windows program can do to put the same
   six files on disk. For each array of the same embedded payload data (read-only data of this image):
   CreateFileA (CREATE_ALWAYS), one WriteFile of the whole array, CloseHandle. No check, no scratch
   file. Prints the same line as zvbench_write.exe, and like it reads every payload page once, timed
   on its own, before the phase is timed.
   Usage: zvbench_plain_write.exe <folder> */
#include <windows.h>
#include <psapi.h>

#include <stdio.h>
#include <string.h>

/* payload/PayloadData.S: a 32-bit dimension count, a 32-bit length, then the bytes. */
extern const unsigned char zv_payload_zvmain[], zv_payload_zvmix[], zv_payload_zvtune[], zv_payload_zvlock[],
    zv_payload_zvaux[], zv_payload_zvchat[];

int main(int argc, char** argv) {
  static const char* const names[6] = {"zvmain.exe", "zvmix.exe", "zvtune.exe", "zvlock.exe", "zvaux.exe", "zvchat.exe"};
  const unsigned char* const arrays[6] = {zv_payload_zvmain, zv_payload_zvmix, zv_payload_zvtune,
                                          zv_payload_zvlock, zv_payload_zvaux, zv_payload_zvchat};
  char paths[6][MAX_PATH];
  LARGE_INTEGER frequency, touchStart, start, end;
  unsigned sum = 0;
  PROCESS_MEMORY_COUNTERS memory;
  const IMAGE_NT_HEADERS* nt;
  const unsigned char* base;
  int ok = 1, i;

  if (argc != 2) return 2;
  for (i = 0; i < 6; ++i) snprintf(paths[i], MAX_PATH, "%s\\%s", argv[1], names[i]);

  QueryPerformanceFrequency(&frequency);
  QueryPerformanceCounter(&touchStart);
  for (i = 0; i < 6; ++i) {
    const volatile unsigned char* bytes = arrays[i] + 8;
    DWORD length = *(const DWORD*)(arrays[i] + 4), at;
    for (at = 0; at < length; at += 4096) sum += bytes[at];
  }
  QueryPerformanceCounter(&start);
  for (i = 0; i < 6; ++i) {
    DWORD length = *(const DWORD*)(arrays[i] + 4), written = 0;
    HANDLE file = CreateFileA(paths[i], GENERIC_WRITE, 0, NULL, CREATE_ALWAYS, FILE_ATTRIBUTE_NORMAL, NULL);
    if (file == INVALID_HANDLE_VALUE) {
      ok = 0;
      continue;
    }
    if (!WriteFile(file, arrays[i] + 8, length, &written, NULL) || written != length) ok = 0;
    CloseHandle(file);
  }
  QueryPerformanceCounter(&end);

  memset(&memory, 0, sizeof memory);
  GetProcessMemoryInfo(GetCurrentProcess(), &memory, sizeof memory);
  base = (const unsigned char*)GetModuleHandleA(NULL);
  nt = (const IMAGE_NT_HEADERS*)(base + ((const IMAGE_DOS_HEADER*)base)->e_lfanew);
  printf("touch_ms=%.3f ms=%.3f ok=%d peak_ws=%lu peak_commit=%lu image=%lu sum=%u\n",
         (double)(start.QuadPart - touchStart.QuadPart) * 1000.0 / (double)frequency.QuadPart,
         (double)(end.QuadPart - start.QuadPart) * 1000.0 / (double)frequency.QuadPart, ok,
         (unsigned long)memory.PeakWorkingSetSize, (unsigned long)memory.PeakPagefileUsage,
         (unsigned long)nt->OptionalHeader.SizeOfImage, sum);
  fflush(stdout);
  return ok ? 0 : 1;
}
