// Drives the real ZorvikSetup.exe from outside, as a person would: finds its window and controls by
// their native ids, clicks buttons (BM_CLICK), types the nickname, picks the gender, reads and answers
// every message box, captures pictures of the screen, and collects the exit code. Used by the
// end-to-end tests and by the walk-through of scripts/run (zvdrive.exe).
// The wide readers and TypeWide go through the W calls only, so that what they see and type does not
// depend on the system's ANSI code page: they serve the tests under every system language.
#pragma once

#include <windows.h>

#include <string>
#include <vector>

#include "tests/support/WinTestSupport.h"

namespace zv::test {

// The wizard's controls by their native ids (assigned 100, 110, ... in creation order, which is the
// reverse of the template's record order).
enum class WizardControl : int {
  SelectionPanel = 100,     // page 1
  InstallRadio = 110,
  UninstallRadio = 120,
  SelectionLabel = 130,
  SelectionNext = 140,
  SelectionCancel = 150,
  RegistrationNext = 160,   // page 2
  RegistrationCancel = 170,
  RegistrationPanel = 180,
  TitleLabel = 190,         // on the window itself
  FooterLabel = 200,
  NicknameLabel = 210,
  NicknameEdit = 220,
  GenderLabel = 230,
  GenderCombo = 240,
  GreetingLabel = 250,
  WarningLabel = 260,
  Disclaimer = 270,
};

class WizardDriver {
 public:
  // Starts the program (in `workingDirectory` when given) and waits for its window.
  bool Start(const std::string& setupExe, const std::string& workingDirectory = "");
  HWND window() const { return window_; }
  HWND Control(WizardControl id) const;
  bool IsShown(WizardControl id) const;  // the control and all its ancestors are visible
  std::string Text(WizardControl id) const;
  std::wstring WideText(WizardControl id) const;

  // Clicks a button; returns when its handler is back in the message loop, or after a short time-out
  // when the handler waits in a message box or is still working.
  void Click(WizardControl id);
  // Clicks a button whose handler shows a message box, and returns that box (posted: no waiting for
  // a handler that is held by its box).
  MessageBox ClickForBox(WizardControl id);
  void TypeNickname(const std::string& nickname);
  // Types into the nickname box as an input method delivers text: one WM_CHAR per UTF-16 unit, sent
  // as W (a character beyond the basic plane comes as its two surrogates).
  void TypeWide(const std::wstring& text);
  void PickGender(int index);

  // The next message box the wizard shows (window null after the time-out), and pressing its OK.
  MessageBox NextMessageBox(DWORD milliseconds = 15000);
  // Waits until the wizard's window state settles after a click that returns to the message loop.
  void Settle();
  // Waits for the program to end: its exit code, or STILL_ACTIVE after the time-out.
  DWORD WaitForExit(DWORD milliseconds = 20000);
  bool IsRunning() const { return process_.IsRunning(); }
  DWORD processId() const { return process_.id(); }
  // Destroys the wizard's window from outside (it has no close box).
  void DestroyWindowFromOutside();

 private:
  ChildProcess process_;
  HWND window_ = nullptr;
};

// What a window shows, asked of it through WM_GETTEXT sent as W (a message box's caption, its text
// control 0xFFFF, the wizard's title or one of its controls).
std::wstring WideText(HWND window);

// Saves what the screen shows inside the window's rectangle as a 24-bit BMP.
bool CaptureWindowToBmp(HWND window, const std::string& path);

}  // namespace zv::test
