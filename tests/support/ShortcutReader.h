// Reads a .lnk file back through the shell's own shortcut object (IShellLinkA + IPersistFile), the way
// Explorer would, for tests of the shortcuts the wizard writes.
#pragma once

#include <string>

namespace zv::test {

struct ShortcutInfo {
  bool loaded = false;
  std::string target;
  std::string workingDirectory;
  std::string arguments;
  std::string description;
  std::string iconPath;
  int iconIndex = -1;
  int showCommand = 0;
};

// COM must be initialised on the calling thread (the function does it when it is not).
ShortcutInfo ReadShortcut(const std::string& path);
// The current user's desktop folder, without a trailing backslash.
std::string DesktopFolder();

}  // namespace zv::test
