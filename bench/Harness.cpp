// The benchmark harness: runs programs under comparison side by side, interleaved (the order flips
// at every repetition, after one untimed warm-up run of each), and prints every sample and the
// medians. Modes:
//   write <reps> <folder> fresh|replace <name>=<exe> ...
//       Runs each program with the folder as its argument; each prints "ms=... ok=... peak_ws=...
//       peak_commit=... image=..." (WriteBench.cpp, PlainWrite.c). "fresh" empties the folder before
//       every run; "replace" leaves the files of the previous run in place, as a reinstallation finds
//       them. Before every run the file system's pending writes are put on disk (QuietDisk). The
//       medians are labelled with the folder's name.
//   startup <reps> <name>=<exe> ...
//       Starts each program and polls (every millisecond) until a visible top-level window of the
//       process exists: the time from just before CreateProcess to that moment. Then ends it.
//   install <reps> <setup.exe>
//       Installs with the real wizard through its window (the end-to-end tests' driver) into this
//       Wine prefix's C:\zor, and reads the process's peak working set and peak commit while its
//       completion message is shown, that is after every write; also prints the image size.
// Output lines: "sample <mode> <name> <value> ...", then "median <mode> <name> <key>=<value> ...".
#include <windows.h>
#include <mmsystem.h>
#include <psapi.h>
#include <tlhelp32.h>

#include <algorithm>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <map>
#include <string>
#include <vector>

#include "tests/e2e/WizardDriver.h"
#include "tests/support/WinTestSupport.h"

namespace {

struct Program {
  std::string name;
  std::string exe;
};

double NowMs() {
  static LARGE_INTEGER frequency = [] {
    LARGE_INTEGER f;
    QueryPerformanceFrequency(&f);
    return f;
  }();
  LARGE_INTEGER now;
  QueryPerformanceCounter(&now);
  return static_cast<double>(now.QuadPart) * 1000.0 / static_cast<double>(frequency.QuadPart);
}

double Median(std::vector<double> values) {
  if (values.empty()) return 0;
  std::sort(values.begin(), values.end());
  const std::size_t n = values.size();
  return n % 2 == 1 ? values[n / 2] : (values[n / 2 - 1] + values[n / 2]) / 2;
}

std::vector<Program> ParsePrograms(int argc, char** argv, int first) {
  std::vector<Program> programs;
  for (int i = first; i < argc; ++i) {
    const char* eq = std::strchr(argv[i], '=');
    if (eq == nullptr) continue;
    programs.push_back({std::string(argv[i], static_cast<std::size_t>(eq - argv[i])), eq + 1});
  }
  return programs;
}

// Runs a console program to its end and returns what it printed on its standard output.
std::string RunAndCapture(const std::string& commandLine, DWORD* exitCode) {
  SECURITY_ATTRIBUTES inheritable{sizeof inheritable, nullptr, TRUE};
  HANDLE readEnd = nullptr, writeEnd = nullptr;
  CreatePipe(&readEnd, &writeEnd, &inheritable, 0);
  SetHandleInformation(readEnd, HANDLE_FLAG_INHERIT, 0);
  STARTUPINFOA startup{};
  startup.cb = sizeof startup;
  startup.dwFlags = STARTF_USESTDHANDLES;
  startup.hStdOutput = writeEnd;
  startup.hStdError = GetStdHandle(STD_ERROR_HANDLE);
  startup.hStdInput = GetStdHandle(STD_INPUT_HANDLE);
  PROCESS_INFORMATION process{};
  std::string line = commandLine;
  std::string output;
  if (!CreateProcessA(nullptr, line.data(), nullptr, nullptr, TRUE, 0, nullptr, nullptr, &startup,
                      &process)) {
    CloseHandle(readEnd);
    CloseHandle(writeEnd);
    *exitCode = 0xFFFFFFFF;
    return output;
  }
  CloseHandle(writeEnd);
  char buffer[512];
  DWORD got = 0;
  while (ReadFile(readEnd, buffer, sizeof buffer, &got, nullptr) && got > 0) output.append(buffer, got);
  CloseHandle(readEnd);
  WaitForSingleObject(process.hProcess, INFINITE);
  GetExitCodeProcess(process.hProcess, exitCode);
  CloseHandle(process.hThread);
  CloseHandle(process.hProcess);
  return output;
}

// "key=value" pairs of a line.
std::map<std::string, double> ParseFigures(const std::string& text) {
  std::map<std::string, double> figures;
  std::size_t at = 0;
  while (at < text.size()) {
    const std::size_t end = text.find_first_of(" \r\n", at);
    const std::string word = text.substr(at, end == std::string::npos ? std::string::npos : end - at);
    const std::size_t eq = word.find('=');
    if (eq != std::string::npos) figures[word.substr(0, eq)] = std::atof(word.c_str() + eq + 1);
    if (end == std::string::npos) break;
    at = end + 1;
  }
  return figures;
}

// The value below which a fraction q of the samples lie (nearest rank).
double Quantile(std::vector<double> values, double q) {
  if (values.empty()) return 0;
  std::sort(values.begin(), values.end());
  const std::size_t rank = static_cast<std::size_t>(q * static_cast<double>(values.size() - 1) + 0.5);
  return values[rank];
}

// The medians of every figure, and the quartiles of the time, which show how much the runs scatter.
void PrintMedians(const char* mode, const std::vector<Program>& programs,
                  const std::map<std::string, std::map<std::string, std::vector<double>>>& samples) {
  for (const Program& program : programs) {
    const auto& figures = samples.at(program.name);
    std::printf("median %s %s", mode, program.name.c_str());
    for (const auto& [key, values] : figures) std::printf(" %s=%.3f", key.c_str(), Median(values));
    if (figures.count("ms") != 0) {
      std::printf(" ms_q1=%.3f ms_q3=%.3f", Quantile(figures.at("ms"), 0.25),
                  Quantile(figures.at("ms"), 0.75));
    }
    std::printf(" n=%zu\n", figures.begin()->second.size());
  }
}

// Puts the file system's pending writes on disk (Linux `sync`, started through Wine, which runs Linux
// programs too), so that no run is slowed down by the write-back of the runs before it. Wine may
// report the program's end before it has done its work, so a file that it creates last is awaited.
void QuietDisk() {
  static int round = 0;
  char marker[64];
  std::snprintf(marker, sizeof marker, "/tmp/zvbench-synced-%lu-%d", GetCurrentProcessId(), ++round);
  std::string line = std::string("/bin/sh -c \"sync; : > ") + marker + "\"";
  STARTUPINFOA startup{};
  startup.cb = sizeof startup;
  PROCESS_INFORMATION process{};
  if (!CreateProcessA(nullptr, line.data(), nullptr, nullptr, FALSE, 0, nullptr, nullptr, &startup, &process))
    return;
  WaitForSingleObject(process.hProcess, 30000);
  CloseHandle(process.hThread);
  CloseHandle(process.hProcess);
  std::string seen = std::string("Z:") + marker;
  for (char& c : seen) {
    if (c == '/') c = '\\';
  }
  for (int i = 0; i < 3000 && GetFileAttributesA(seen.c_str()) == INVALID_FILE_ATTRIBUTES; ++i) Sleep(10);
  DeleteFileA(seen.c_str());
}

// Creates a folder and any missing parents.
void MakeFolders(const std::string& path) {
  for (std::size_t at = path.find('\\', 3); at != std::string::npos; at = path.find('\\', at + 1)) {
    CreateDirectoryA(path.substr(0, at).c_str(), nullptr);
  }
  CreateDirectoryA(path.c_str(), nullptr);
}

int WriteMode(int reps, const std::string& folder, bool replace, const std::vector<Program>& programs) {
  std::map<std::string, std::map<std::string, std::vector<double>>> samples;
  MakeFolders(folder);
  for (int rep = -1; rep < reps; ++rep) {  // rep -1: warm-up, not counted
    std::vector<Program> order = programs;
    if (rep % 2 != 0) std::reverse(order.begin(), order.end());
    for (const Program& program : order) {
      if (!replace) {
        zv::test::RemoveTree(folder);
        MakeFolders(folder);
      }
      QuietDisk();
      Sleep(100);
      DWORD exitCode = 0;
      const std::string out = RunAndCapture("\"" + program.exe + "\" \"" + folder + "\"", &exitCode);
      const auto figures = ParseFigures(out);
      if (exitCode != 0 || figures.count("ms") == 0) {
        std::printf("error write %s exit=%lu output=%s\n", program.name.c_str(), exitCode, out.c_str());
        return 1;
      }
      if (rep < 0) continue;
      std::printf("sample %s %s %s", replace ? "write-replace" : "write-fresh", program.name.c_str(),
                  out.c_str());
      for (const auto& [key, value] : figures) samples[program.name][key].push_back(value);
    }
  }
  const std::string label =
      std::string(replace ? "write-replace:" : "write-fresh:") + folder.substr(folder.find_last_of('\\') + 1);
  PrintMedians(label.c_str(), programs, samples);
  return 0;
}

struct WindowSearch {
  DWORD processId;
  bool found;
};

BOOL CALLBACK FindVisibleWindow(HWND window, LPARAM context) {
  auto* search = reinterpret_cast<WindowSearch*>(context);
  DWORD owner = 0;
  GetWindowThreadProcessId(window, &owner);
  if (owner == search->processId && IsWindowVisible(window)) {
    search->found = true;
    return FALSE;
  }
  return TRUE;
}

int StartupMode(int reps, const std::vector<Program>& programs) {
  std::map<std::string, std::map<std::string, std::vector<double>>> samples;
  // A window of the harness's own, never shown, keeps Wine's desktop process alive between the runs:
  // otherwise it ends with the last program that had a window, and every run would pay for starting
  // it again, which is Wine's cost and not the program's.
  HWND keepDesktop =
      CreateWindowExA(0, "STATIC", "", WS_POPUP, 0, 0, 1, 1, nullptr, nullptr, nullptr, nullptr);
  timeBeginPeriod(1);
  for (int rep = -1; rep < reps; ++rep) {
    std::vector<Program> order = programs;
    if (rep % 2 != 0) std::reverse(order.begin(), order.end());
    for (const Program& program : order) {
      Sleep(300);
      STARTUPINFOA startup{};
      startup.cb = sizeof startup;
      PROCESS_INFORMATION process{};
      std::string line = "\"" + program.exe + "\"";
      const double start = NowMs();
      if (!CreateProcessA(nullptr, line.data(), nullptr, nullptr, FALSE, 0, nullptr, nullptr, &startup,
                          &process)) {
        std::printf("error startup %s cannot start\n", program.name.c_str());
        return 1;
      }
      WindowSearch search{process.dwProcessId, false};
      double shown = 0;
      while (NowMs() - start < 20000) {
        EnumWindows(FindVisibleWindow, reinterpret_cast<LPARAM>(&search));
        if (search.found) {
          shown = NowMs();
          break;
        }
        Sleep(1);
      }
      TerminateProcess(process.hProcess, 0);
      WaitForSingleObject(process.hProcess, 10000);
      CloseHandle(process.hThread);
      CloseHandle(process.hProcess);
      if (!search.found) {
        std::printf("error startup %s shows no window\n", program.name.c_str());
        return 1;
      }
      if (rep < 0) continue;
      std::printf("sample startup %s ms=%.3f\n", program.name.c_str(), shown - start);
      samples[program.name]["ms"].push_back(shown - start);
    }
  }
  timeEndPeriod(1);
  DestroyWindow(keepDesktop);
  PrintMedians("startup", programs, samples);
  return 0;
}

// The suite programs that an installation starts, stopped again.
void StopSuitePrograms() {
  HANDLE snapshot = CreateToolhelp32Snapshot(TH32CS_SNAPPROCESS, 0);
  PROCESSENTRY32 entry{};
  entry.dwSize = sizeof entry;
  for (BOOL more = Process32First(snapshot, &entry); more; more = Process32Next(snapshot, &entry)) {
    if (lstrcmpiA(entry.szExeFile, "zvmain.exe") != 0) continue;
    if (HANDLE process = OpenProcess(PROCESS_TERMINATE | SYNCHRONIZE, FALSE, entry.th32ProcessID)) {
      TerminateProcess(process, 0);
      WaitForSingleObject(process, 5000);
      CloseHandle(process);
    }
  }
  CloseHandle(snapshot);
}

// SizeOfImage from the program file's header.
unsigned long ImageSizeOf(const std::string& exe) {
  const std::string image = zv::test::ReadWholeFile(exe);
  if (image.size() < 0x200) return 0;
  const auto* dos = reinterpret_cast<const IMAGE_DOS_HEADER*>(image.data());
  const auto* nt = reinterpret_cast<const IMAGE_NT_HEADERS32*>(image.data() + dos->e_lfanew);
  return nt->OptionalHeader.SizeOfImage;
}

int InstallMode(int reps, const std::string& setup) {
  using zv::test::WizardControl;
  std::map<std::string, std::vector<double>> samples;
  const unsigned long image = ImageSizeOf(setup);
  for (int rep = 0; rep < reps; ++rep) {
    StopSuitePrograms();
    zv::test::RemoveTree("C:\\zor");
    Sleep(300);
    zv::test::WizardDriver driver;
    if (!driver.Start(setup)) {
      std::printf("error install cannot start the wizard\n");
      return 1;
    }
    driver.Click(WizardControl::SelectionNext);
    driver.Click(WizardControl::RegistrationNext);
    driver.TypeNickname("bench");
    // The same process on the same page just before the click that installs: what the install's
    // own work adds shows as the difference.
    PROCESS_MEMORY_COUNTERS ready{};
    if (HANDLE before = OpenProcess(PROCESS_QUERY_INFORMATION | PROCESS_VM_READ, FALSE, driver.processId())) {
      GetProcessMemoryInfo(before, &ready, sizeof ready);
      CloseHandle(before);
    }
    driver.Click(WizardControl::RegistrationNext);
    const zv::test::MessageBox box = driver.NextMessageBox();
    PROCESS_MEMORY_COUNTERS memory{};
    HANDLE process = OpenProcess(PROCESS_QUERY_INFORMATION | PROCESS_VM_READ, FALSE, driver.processId());
    const bool read = process != nullptr && GetProcessMemoryInfo(process, &memory, sizeof memory);
    if (process != nullptr) CloseHandle(process);
    zv::test::PressOk(box);
    const DWORD exitCode = driver.WaitForExit();
    StopSuitePrograms();
    if (box.window == nullptr || !read || exitCode != 0) {
      std::printf("error install box=%s read=%d exit=%lu\n", box.text.c_str(), read ? 1 : 0, exitCode);
      return 1;
    }
    std::printf(
        "sample install product peak_ws=%lu peak_commit=%lu ready_peak_ws=%lu ready_peak_commit=%lu "
        "image=%lu\n",
        static_cast<unsigned long>(memory.PeakWorkingSetSize),
        static_cast<unsigned long>(memory.PeakPagefileUsage),
        static_cast<unsigned long>(ready.PeakWorkingSetSize),
        static_cast<unsigned long>(ready.PeakPagefileUsage), image);
    samples["ready_peak_ws"].push_back(static_cast<double>(ready.PeakWorkingSetSize));
    samples["ready_peak_commit"].push_back(static_cast<double>(ready.PeakPagefileUsage));
    samples["peak_ws"].push_back(static_cast<double>(memory.PeakWorkingSetSize));
    samples["peak_commit"].push_back(static_cast<double>(memory.PeakPagefileUsage));
    samples["image"].push_back(static_cast<double>(image));
  }
  PrintMedians("install", {{"product", setup}}, {{"product", samples}});
  return 0;
}

}  // namespace

int main(int argc, char** argv) {
  setvbuf(stdout, nullptr, _IONBF, 0);
  // A window of the harness's own, never shown, keeps Wine's desktop process alive for the whole run.
  // Otherwise it ends with the last program that had a window, and the next program that connects to
  // the desktop (any that loads the window library, as the setup program's code does) has it started
  // again, meanwhile competing for the processor: Wine's cost, and not the program's, as on Windows the
  // desktop is always there.
  CreateWindowExA(0, "STATIC", "", WS_POPUP, 0, 0, 1, 1, nullptr, nullptr, nullptr, nullptr);
  const std::string mode = argc > 1 ? argv[1] : "";
  if (mode == "write" && argc >= 6) {
    return WriteMode(std::atoi(argv[2]), argv[3], std::strcmp(argv[4], "replace") == 0,
                     ParsePrograms(argc, argv, 5));
  }
  if (mode == "startup" && argc >= 4) return StartupMode(std::atoi(argv[2]), ParsePrograms(argc, argv, 3));
  if (mode == "install" && argc == 4) return InstallMode(std::atoi(argv[2]), argv[3]);
  std::fputs(
      "usage: zvbench write <reps> <folder> fresh|replace name=exe...\n"
      "       zvbench startup <reps> name=exe...\n"
      "       zvbench install <reps> setup.exe\n",
      stderr);
  return 2;
}
