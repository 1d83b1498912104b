#include "services/DesktopShortcut.h"

#include "runtime/Automation.h"
#include "runtime/DeclaredCalls.h"
#include "runtime/FileOperations.h"
#include "runtime/TextOperations.h"
#include "services/TextHelpers.h"

namespace zv {
namespace {

constexpr std::int32_t kFolderBufferSize = 260;

// CSIDL of the shell folders among the kinds (0: not a shell folder).
constexpr std::int32_t kShellFolderIds[] = {
    0,   // 0: replaced by 3 before use
    5,   // documents (CSIDL_PERSONAL)
    6,   // favourites
    16,  // desktop directory
    20,  // fonts
    11,  // start menu
    2,   // start menu programs
    7,   // start-up
    26,  // application data
    0, 0, 0,
    32,  // internet cache
};

Value TextValue(TextArg text) { return Value::Text(text.c_str()); }

}  // namespace

Text GetSpecialFolderPath(OptionalArgument<std::int32_t> kind) {
  Text buffer = SpaceText(kFolderBufferSize);  // the system writes a NUL-terminated path into it
  const std::int32_t k = kind.value == 0 ? kFolderDesktop : kind.value;
  bool ok = false;
  if ((k >= kFolderDocuments && k <= kFolderAppData) || k == kFolderInternetCache) {
    ok = declared::SHGetSpecialFolderPathA(nullptr, buffer.get(), kShellFolderIds[k], false) != 0;
  } else if (k == kFolderWindows || k == kFolderSystem || k == kFolderTemp) {
    const std::uint32_t length = k == kFolderWindows  ? declared::GetWindowsDirectoryA(buffer.get(), kFolderBufferSize)
                                 : k == kFolderSystem ? declared::GetSystemDirectoryA(buffer.get(), kFolderBufferSize)
                                                      : declared::GetTempPathA(kFolderBufferSize, buffer.get());
    // A length of the buffer's size or more is the size the path would need: nothing was written.
    ok = length > 0 && length < static_cast<std::uint32_t>(kFolderBufferSize);
  }
  if (!ok) return Text();
  const Text last = RightText(buffer, 1);
  if (CompareTexts(last.get(), "\\") != 0) return JoinTexts({buffer.c_str(), "\\"});
  return Text::Copy(buffer);
}

Text GetPathExtension(TextArg path) { return Text::Copy(declared::PathFindExtensionA(path.c_str())); }

Text GetFileNameFromPath(TextArg path, OptionalArgument<bool> keepExtension) {
  Text file = Text::Copy(declared::PathFindFileNameA(path.c_str()));
  if (keepExtension.value) return file;
  const Text extension = GetPathExtension(file);
  return LeftText(file, TextLength(file) - TextLength(extension));
}

ObjectRecord CreateShortcutObject(AutomationObject* shell, Text& path) {
  // The text goes by reference in a slot that owns it for the duration of the call: an object that
  // writes the argument back frees the old text itself and leaves the new one in the slot, which the
  // caller's variable then takes over. Taking it back from the slot in every case keeps exactly one
  // owner of the old text, so it is freed once whether or not the object wrote anything.
  char* slot = path.release();
  ObjectRecord shortcut =
      CallObjectMethod(shell, "CreateShortcut", {Value::Pointer(&slot, WithArrayOrReference(TypeFlag::Text))});
  path = Text::Adopt(slot);
  return shortcut;
}

bool CreateDesktopShortcut(Text& name, TextArg targetPath, OptionalArgument<TextArg> arguments,
                           OptionalArgument<TextArg> iconLocation, OptionalArgument<std::int32_t> windowStyle,
                           OptionalArgument<TextArg> description, OptionalArgument<TextArg> hotkey) {
  // The name: a directory part is always dropped; the shortcut lives on the desktop.
  if (FindText(name, "\\", {}, false) != -1) name = GetFileNameFromPath(name, false);
  const Text desktop = GetSpecialFolderPath();
  if (FindText(name, ".lnk", {}, true) != -1) {
    name = JoinTexts({desktop.c_str(), name.c_str()});
  } else {
    name = JoinTexts({desktop.c_str(), name.c_str(), ".lnk"});
  }

  // The target must be a path before anything is touched: a bad call never destroys a good shortcut.
  const TextArray segments = SplitText(targetPath, TextArg("\\"));
  if (segments.size() < 2) return false;

  // An old shortcut of the same name goes first, so that none of its properties survive.
  if (FileExists(name)) RemoveFile(name);

  TextBuilder directory;
  for (std::int32_t i = 0; i + 1 < segments.size(); ++i) {
    const TextArg segment(segments[i]);
    directory.Append(segment.c_str(), segment.length());
    directory.Append('\\');
  }
  const Text workingDirectory = directory.Finish();

  ObjectRecord object = ObjectRecord::New();
  if (!CreateAutomationObject(object.get(), "WshShell", TextArg("wshom.ocx"))) return false;

  object = CreateShortcutObject(object.get(), name);  // releases the shell object
  if (IsObjectEmpty(object.get())) return false;

  if (!SetObjectProperty(object.get(), "TargetPath", {TextValue(targetPath)})) return false;
  SetObjectProperty(object.get(), "WorkingDirectory", {TextValue(workingDirectory)});

  if (iconLocation.IsGiven()) {
    SetObjectProperty(object.get(), "IconLocation", {TextValue(iconLocation.value)});
  } else {
    const Text extension = GetPathExtension(targetPath);
    if (CompareTexts(extension.get(), "") == 0) {
      SetObjectProperty(object.get(), "IconLocation", {TextValue("SHELL32.dll,4")});
    } else {
      const Text icon = JoinTexts({targetPath.c_str(), ",0"});
      SetObjectProperty(object.get(), "IconLocation", {TextValue(icon)});
    }
  }

  SetObjectProperty(object.get(), "WindowStyle", {Value::Int(windowStyle.value)});
  SetObjectProperty(object.get(), "Description", {TextValue(description.value)});
  SetObjectProperty(object.get(), "Arguments", {TextValue(arguments.value)});
  SetObjectProperty(object.get(), "Hotkey", {TextValue(hotkey.value)});

  // "Save" returns nothing; an empty result that cannot become an object is not a failure of the call.
  ObjectRecord saved = CallObjectMethod(object.get(), "Save");
  const std::int32_t status = LastObjectError();
  const bool written = status == kObjectOk || status == kObjectResultNotConvertible;
  object = static_cast<ObjectRecord&&>(saved);
  return written;
}

}  // namespace zv
