// The process entry: hands over to the program's start-up routine and ends with its result.
#include <windows.h>

#include "runtime/Lifecycle.h"

int WINAPI WinMain(HINSTANCE, HINSTANCE, LPSTR, int) {
  zv::InitRuntime();
  zv::EndProgram(0);
}
