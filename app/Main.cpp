// The process entry, the runtime's application start-up: it calls the program's entry routine once
// and, when that returns (the wizard window is gone), shuts the runtime down with exit code 0.
#include <windows.h>

#include "app/Program.h"
#include "runtime/Lifecycle.h"

int WINAPI WinMain(HINSTANCE, HINSTANCE, LPSTR, int) {
  zv::wizard::ProgramEntry();
  zv::EndProgram(0);
}
