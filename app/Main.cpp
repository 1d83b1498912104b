// The process entry, the runtime's application start-up: it calls the program's entry routine once
// and, when that returns (the wizard window is gone), shuts the runtime down with exit code 0.
#include <windows.h>

#include "app/Program.h"
#include "runtime/Lifecycle.h"

// The C runtime's start-up applies the pseudo-relocations that the linker makes for data imported
// from libraries (a reference it could not bind directly), through the routine of this name; its own
// copy, with the image-section walking and page-protection code it needs, is 3 KB. A static link
// binds every reference directly, so this program's list is empty and this routine replaces it; if a
// later change ever brought a pseudo-relocation in, the program stops here instead of running with an
// unrelocated reference.
extern "C" {
extern const char __RUNTIME_PSEUDO_RELOC_LIST__[];
extern const char __RUNTIME_PSEUDO_RELOC_LIST_END__[];

void _pei386_runtime_relocator() {
  // Compared as plain addresses: the compiler must not treat the two symbols as distinct objects
  // (and the comparison as settled), since the linker places both at one address when there is none.
  const void* first = __RUNTIME_PSEUDO_RELOC_LIST__;
  const void* end = __RUNTIME_PSEUDO_RELOC_LIST_END__;
  asm("" : "+r"(first), "+r"(end));
  if (first != end) {
    FatalAppExitW(0, L"ZorvikSetup.exe holds pseudo-relocations, which it does not apply.");
  }
}

// The handler that msvcrt's mathematical functions call on a domain or range error. The C runtime's
// default prints a line to the standard error stream, which a GUI program does not have, and then
// returns 0 (the function's result stands, errno is set); this one returns 0 without the 300 bytes of
// message texts.
struct _exception;
int _matherr(struct _exception*) { return 0; }
}  // extern "C"

// The command line is not read (the program takes no arguments), so the ANSI form of the entry does.
int WINAPI WinMain(HINSTANCE, HINSTANCE, LPSTR, int) {
  zv::wizard::ProgramEntry();
  zv::EndProgram(0);
}
