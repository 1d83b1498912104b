#include "tests/support/ShortcutReader.h"

#include <windows.h>
#include <objbase.h>
#include <shlobj.h>
#include <shobjidl.h>

namespace zv::test {

ShortcutInfo ReadShortcut(const std::string& path) {
  ShortcutInfo info;
  const HRESULT init = CoInitialize(nullptr);
  IShellLinkA* link = nullptr;
  if (SUCCEEDED(CoCreateInstance(CLSID_ShellLink, nullptr, CLSCTX_INPROC_SERVER, IID_IShellLinkA,
                                 reinterpret_cast<void**>(&link)))) {
    IPersistFile* file = nullptr;
    if (SUCCEEDED(link->QueryInterface(IID_IPersistFile, reinterpret_cast<void**>(&file)))) {
      wchar_t wide[MAX_PATH] = {};
      MultiByteToWideChar(CP_ACP, 0, path.c_str(), -1, wide, MAX_PATH);
      if (SUCCEEDED(file->Load(wide, STGM_READ))) {
        info.loaded = true;
        char buffer[1024] = {};
        link->GetPath(buffer, sizeof buffer, nullptr, SLGP_RAWPATH);
        info.target = buffer;
        buffer[0] = '\0';
        link->GetWorkingDirectory(buffer, sizeof buffer);
        info.workingDirectory = buffer;
        buffer[0] = '\0';
        link->GetArguments(buffer, sizeof buffer);
        info.arguments = buffer;
        buffer[0] = '\0';
        link->GetDescription(buffer, sizeof buffer);
        info.description = buffer;
        buffer[0] = '\0';
        link->GetIconLocation(buffer, sizeof buffer, &info.iconIndex);
        info.iconPath = buffer;
        link->GetShowCmd(&info.showCommand);
      }
      file->Release();
    }
    link->Release();
  }
  if (SUCCEEDED(init)) CoUninitialize();
  return info;
}

std::string DesktopFolder() {
  char path[MAX_PATH] = {};
  SHGetSpecialFolderPathA(nullptr, path, CSIDL_DESKTOPDIRECTORY, FALSE);
  return path;
}

}  // namespace zv::test
