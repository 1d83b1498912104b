// Starting the suite's main program at the end of an installation without lending it the wizard's
// administrator rights. Without such rights the wizard starts the program itself. With them, by any
// route (the elevated half of a split token, the built-in Administrator, SYSTEM), the program is
// started only by the desktop's own shell, as a double click there would, so that it runs with the
// desktop's rights; where the shell offers no way there, it is not started at all, and the user is
// told to start it from the desktop shortcut. The route is decided before the final box is shown, so
// that the box can say which way it went. Neither way waits for the program to end.
#pragma once

#include "runtime/Handles.h"
#include "runtime/Text.h"

struct IShellDispatch2;

namespace zv {

class MainProgramStart {
 public:
  // Decides the route: looks at the wizard's token and, with administrator rights, finds the shell
  // object of the desktop.
  MainProgramStart();
  MainProgramStart(const MainProgramStart&) = delete;
  MainProgramStart& operator=(const MainProgramStart&) = delete;
  ~MainProgramStart();

  // False where the wizard has administrator rights and the desktop's shell does not answer: the
  // program will not be started.
  bool WillStart() const { return direct_ || shell_ != nullptr; }
  // Starts the program at `path` (a full path, no arguments) in the working folder `folder`, by the
  // route decided. True when it was started.
  bool Start(TextArg path, TextArg folder);

 private:
  bool direct_ = false;
  IShellDispatch2* shell_ = nullptr;
};

}  // namespace zv
