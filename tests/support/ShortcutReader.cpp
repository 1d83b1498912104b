#include "tests/support/ShortcutReader.h"

#include <windows.h>
#include <objbase.h>
#include <shlobj.h>
#include <shobjidl.h>

#include "tests/support/WinTestSupport.h"

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
        // The show command as the file holds it (the header's ShowCommand, a 32-bit value at byte
        // 60): this system's shell link object reports 1 after loading whatever the file says.
        const std::string bytes = ReadWholeFile(path);
        if (bytes.size() >= 64) {
          info.showCommand = static_cast<unsigned char>(bytes[60]) | static_cast<unsigned char>(bytes[61]) << 8 |
                             static_cast<unsigned char>(bytes[62]) << 16 | static_cast<unsigned char>(bytes[63]) << 24;
        }
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
