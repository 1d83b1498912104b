// The desktop shortcut and its path helpers. CreateDesktopShortcut builds the shortcut file's path on
// the user's desktop, removes an old shortcut of that name and writes the new one through the Windows
// Script Host shell object ("WshShell" from "wshom.ocx"). The path helpers reach the shell and the
// system through the declared commands.
#pragma once

#include <cstdint>

#include "runtime/Automation.h"
#include "runtime/Text.h"
#include "runtime/Value.h"
#include "runtime/WideText.h"

namespace zv {

// Kinds of GetSpecialFolderPath: 0 or omitted is the desktop (3).
enum SpecialFolderKind : std::int32_t {
  kFolderDocuments = 1,
  kFolderFavourites = 2,
  kFolderDesktop = 3,
  kFolderFonts = 4,
  kFolderStartMenu = 5,
  kFolderPrograms = 6,
  kFolderStartup = 7,
  kFolderAppData = 8,
  kFolderWindows = 9,
  kFolderSystem = 10,
  kFolderTemp = 11,
  kFolderInternetCache = 12,
};

// Writes the shortcut `name` (a name, or a path whose last component gives it) on the desktop, pointing
// at `targetPath`. The shortcut's path is built in UTF-16 from the system's desktop path and reaches
// the file checks and the shell object as it is. On return `name` holds the full path of the shortcut
// file in GBK, to be shown ("?" for a character GBK cannot hold), and `shortcutPath`, where given, the
// path itself. False when the target has
// no backslash, the shell object or the shortcut object cannot be had, the target cannot be set, or the
// file could not be saved. An omitted icon is the target's own (",0"), or "SHELL32.dll,4" for a target
// without extension.
bool CreateDesktopShortcut(Text& name, TextArg targetPath, OptionalArgument<TextArg> arguments = {},
                           OptionalArgument<TextArg> iconLocation = {}, OptionalArgument<std::int32_t> windowStyle = {},
                           OptionalArgument<TextArg> description = {}, OptionalArgument<TextArg> hotkey = {},
                           WideText* shortcutPath = nullptr);

// The shortcut object that the shell object's "CreateShortcut" makes for the file `path` (empty when
// none comes back). The path goes by reference: when the object writes it back, `path` holds the new
// text afterwards and its old text has been released once.
ObjectRecord CreateShortcutObject(AutomationObject* shell, WideText& path);

// The folder of `kind` as the system gives it (UTF-16), ending with "\", or empty for an unknown kind
// or a failed call.
WideText SpecialFolderPath(std::int32_t kind);
// The same in GBK ("?" for a character GBK cannot hold).
Text GetSpecialFolderPath(OptionalArgument<std::int32_t> kind = {});
// The last component of `path`; without its extension unless `keepExtension` is true.
Text GetFileNameFromPath(TextArg path, OptionalArgument<bool> keepExtension = {});
// The extension of the last component, with its dot (".exe"), or the empty text.
Text GetPathExtension(TextArg path);

}  // namespace zv
