// The page handlers. Both Cancel buttons end the program with 0. The two Next handlers are still
// empty: the page actions (uninstall, reinstall, registration and installation) come with the
// services they call.
#include "app/PageHandlers.h"

#include "runtime/Lifecycle.h"

namespace zv::wizard {

void OnSelectionNext() {}

void OnSelectionCancel() {
  EndProgram(0);
}

void OnRegistrationNext() {}

void OnRegistrationCancel() {
  EndProgram(0);
}

}  // namespace zv::wizard
