// zvdrive: runs ZorvikSetup.exe through a list of steps and prints what happened, for walk-throughs
// and for looking at the wizard by hand.
//
//   zvdrive.exe SETUP.EXE STEP...
//
// Steps: click:install|uninstall|next1|cancel1|next2|cancel2   nick:TEXT   gender:INDEX
//        settle (wait until the click's handler is back in the message loop)
//        shot:FILE.bmp (picture of the wizard window)   box (print the next message box, press OK)
//        boxshot:FILE.bmp (the same, with a picture of the box first)   exit (wait for the end)
// Prints one line per step, in GBK whatever the system's code page (the wizard's texts are read and
// the nickname typed through the W calls, so a walk-through under another system language shows
// what the user sees there); exits with 0 when every step could be carried out, 1 otherwise.
#include <cstdio>
#include <cstring>
#include <string>
#include <vector>

#include "tests/e2e/WizardDriver.h"

#include <shellapi.h>

namespace {

using zv::test::WizardControl;

bool ClickTarget(const std::string& name, WizardControl& control) {
  static const struct {
    const char* name;
    WizardControl control;
  } kTargets[] = {
      {"install", WizardControl::InstallRadio},   {"uninstall", WizardControl::UninstallRadio},
      {"next1", WizardControl::SelectionNext},    {"cancel1", WizardControl::SelectionCancel},
      {"next2", WizardControl::RegistrationNext}, {"cancel2", WizardControl::RegistrationCancel},
  };
  for (const auto& t : kTargets) {
    if (name == t.name) {
      control = t.control;
      return true;
    }
  }
  return false;
}

std::string Gbk(const std::wstring& text) {
  const int n = WideCharToMultiByte(936, 0, text.data(), static_cast<int>(text.size()), nullptr, 0, nullptr, nullptr);
  std::string bytes(static_cast<std::size_t>(n), '\0');
  WideCharToMultiByte(936, 0, text.data(), static_cast<int>(text.size()), bytes.data(), n, nullptr, nullptr);
  return bytes;
}

std::string OneLine(std::string text) {
  std::string out;
  for (char c : text) {
    if (c == '\r') continue;
    if (c == '\n') {
      out += " / ";
      continue;
    }
    out += c;
  }
  return out;
}

}  // namespace

int main() {
  // The arguments as UTF-16: the ANSI ones would hold a nickname only as far as the code page can.
  int argc = 0;
  wchar_t** wide = CommandLineToArgvW(GetCommandLineW(), &argc);
  std::vector<std::string> argv;
  for (int i = 0; i < argc; ++i) argv.push_back(Gbk(wide[i]));
  if (argc < 2) {
    std::fputs("usage: zvdrive SETUP.EXE STEP...\n", stderr);
    return 2;
  }
  zv::test::WizardDriver driver;
  if (!driver.Start(argv[1])) {
    std::printf("start: no window\n");
    return 1;
  }
  std::printf("start: window shown\n");
  for (int i = 2; i < argc; ++i) {
    const std::string step = argv[i];
    const std::string::size_type colon = step.find(':');
    const std::string verb = step.substr(0, colon);
    const std::string arg = colon == std::string::npos ? "" : step.substr(colon + 1);
    WizardControl control;
    if (verb == "click" && ClickTarget(arg, control)) {
      driver.Click(control);
      std::printf("click: %s\n", arg.c_str());
    } else if (verb == "nick") {
      const std::wstring typed = wide[i] + (colon + 1);
      driver.TypeWide(typed);
      std::printf("nick: %s\n", Gbk(typed).c_str());
    } else if (verb == "gender") {
      driver.PickGender(std::atoi(arg.c_str()));
      std::printf("gender: %s\n", Gbk(driver.WideText(WizardControl::GenderCombo)).c_str());
    } else if (verb == "settle") {
      driver.Settle();
      std::printf("settle: page %d%s\n", driver.IsShown(WizardControl::SelectionPanel) ? 1 : 2,
                  driver.IsShown(WizardControl::Disclaimer) ? " (disclaimer)" : "");
    } else if (verb == "shot") {
      driver.Settle();
      Sleep(300);
      std::printf("shot: %s %s\n", arg.c_str(), zv::test::CaptureWindowToBmp(driver.window(), arg) ? "saved" : "FAILED");
    } else if (verb == "box" || verb == "boxshot") {
      zv::test::MessageBox box = driver.NextMessageBox();
      if (box.window == nullptr) {
        std::printf("box: none\n");
        return 1;
      }
      if (verb == "boxshot") {
        Sleep(1000);  // the box draws its frame and caption after it appears
        zv::test::CaptureWindowToBmp(box.window, arg);
      }
      std::printf("box: [%s] %s\n", Gbk(zv::test::WideText(box.window)).c_str(),
                  OneLine(Gbk(zv::test::WideText(GetDlgItem(box.window, 0xFFFF)))).c_str());
      zv::test::PressOk(box);
    } else if (verb == "exit") {
      const DWORD code = driver.WaitForExit();
      if (code == STILL_ACTIVE) {
        std::printf("exit: still running\n");
        return 1;
      }
      std::printf("exit: code %ld\n", static_cast<long>(static_cast<LONG>(code)));
    } else {
      std::printf("unknown step: %s\n", step.c_str());
      return 2;
    }
    std::fflush(stdout);
  }
  return 0;
}
