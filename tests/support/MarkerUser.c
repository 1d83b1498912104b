/* A library that needs the marker library (tests/support/MarkerLibrary.c): it imports ZvMarkerPing
   from "zv_marker.dll", so loading it makes the system look for that library as a dependency. Which
   copy of the marker is loaded (it logs beside itself) shows where dependencies were looked for. */
#include <windows.h>

/* The marker's exports carry undecorated names; with no arguments the two calling conventions agree. */
__declspec(dllimport) DWORD ZvMarkerPing(void);

DWORD WINAPI ZvMarkerRelay(void) {
  return ZvMarkerPing() + 1;
}
