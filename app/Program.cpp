// Start-up: prepare the runtime (with the program's extension resolver and its window templates),
// run the program's initialisation and start-up routines, register the exit routine, show the wizard
// window on its selection page (Escape bound to its pages' Cancel, the focus to their Next where
// nothing is to be filled in, help texts bound) and run the message loop. Clicks then run
// the page handlers.
#include "app/Program.h"

#include "app/PageHandlers.h"
#include "app/WizardControls.h"
#include "app/WizardWindow.h"
#include "engine/WindowEngine.h"
#include "runtime/Lifecycle.h"

namespace zv::wizard {
namespace {

// The program's handler table, in HandlerSlot order: the code base that the template's stored
// handler offsets count from.
const EventHandler kHandlerTable[kHandlerSlotCount] = {
    &OnSelectionNext,       // kSelectionNextSlot
    &OnSelectionCancel,     // kSelectionCancelSlot
    &OnRegistrationNext,    // kRegistrationNextSlot
    &OnRegistrationCancel,  // kRegistrationCancelSlot
};

void EmptyRoutine() {}

}  // namespace

std::int32_t NullExtensionResolver(std::int32_t) {
  return 0;
}

void ProgramInit() {}

void ProgramExit() {}

std::int32_t StartupRoutine() {
  EmptyRoutine();
  return 0;
}

std::int32_t ProgramEntry() {
  InitRuntime();
  BindExtensionHooks(&NullExtensionResolver);
  ProgramTemplates templates;
  templates.block = WizardTemplateData();
  templates.blockSize = WizardTemplateSize();
  templates.codeBase = kHandlerTable;
  templates.handlerCount = kHandlerSlotCount;
  LoadWindowTemplates(templates);
  ProgramInit();
  SetExitRoutine(&ProgramExit);
  StartupRoutine();
  LoadWindow(kWindowId);
  // Escape does what the shown page's Cancel does.
  const ControlId cancelButtons[] = {kSelectionCancel, kRegistrationCancel};
  SetEscapeButtons(kWindowId, cancelButtons, sizeof cancelButtons / sizeof cancelButtons[0]);
  // Where the disclaimer covers page 2's inputs, the focus is on its Next, which reads the disclaimer
  // as its help text; the nickname box reads the warning under it.
  const ControlId nextButtons[] = {kSelectionNext, kRegistrationNext};
  SetForwardButtons(kWindowId, nextButtons, sizeof nextButtons / sizeof nextButtons[0]);
  SetHelpText(kWindowId, kRegistrationNext, kDisclaimerEdit);
  SetHelpText(kWindowId, kNicknameEdit, kWarningLabel);
  RunMessageLoop();
  return 0;
}

}  // namespace zv::wizard
