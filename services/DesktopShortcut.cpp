#include "services/DesktopShortcut.h"

#include <oleauto.h>

#include <cwchar>

#include "runtime/Automation.h"
#include "runtime/DeclaredCalls.h"
#include "runtime/FileOperations.h"
#include "runtime/Handles.h"
#include "runtime/TextOperations.h"
#include "runtime/WideText.h"
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

WideText SpecialFolderPath(std::int32_t kind) {
  wchar_t buffer[kFolderBufferSize] = {};  // the system writes a NUL-terminated path into it
  const std::int32_t k = kind == 0 ? kFolderDesktop : kind;
  bool ok = false;
  if ((k >= kFolderDocuments && k <= kFolderAppData) || k == kFolderInternetCache) {
    ok = declared::SHGetSpecialFolderPathW(nullptr, buffer, kShellFolderIds[k], false) != 0;
  } else if (k == kFolderWindows || k == kFolderSystem || k == kFolderTemp) {
    const std::uint32_t length = k == kFolderWindows  ? declared::GetWindowsDirectoryW(buffer, kFolderBufferSize)
                                 : k == kFolderSystem ? declared::GetSystemDirectoryW(buffer, kFolderBufferSize)
                                                      : declared::GetTempPathW(kFolderBufferSize, buffer);
    // A length of the buffer's size or more is the size the path would need: nothing was written.
    ok = length > 0 && length < static_cast<std::uint32_t>(kFolderBufferSize);
  }
  if (!ok) return WideText();
  buffer[kFolderBufferSize - 1] = L'\0';
  std::size_t length = std::wcslen(buffer);
  if (length > 0 && buffer[length - 1] != L'\\' && length + 1 < kFolderBufferSize) buffer[length++] = L'\\';
  return WideText::Copy(buffer, length);
}

Text GetSpecialFolderPath(OptionalArgument<std::int32_t> kind) {
  return ToGbk(SpecialFolderPath(kind.value).c_str());
}

Text GetPathExtension(TextArg path) {
  const WideText wide = ToWide(path);
  return ToGbk(declared::PathFindExtensionW(wide.c_str()));
}

Text GetFileNameFromPath(TextArg path, OptionalArgument<bool> keepExtension) {
  const WideText wide = ToWide(path);
  Text file = ToGbk(declared::PathFindFileNameW(wide.c_str()));
  if (keepExtension.value) return file;
  const Text extension = GetPathExtension(file);
  return LeftText(file, TextLength(file) - TextLength(extension));
}

ObjectRecord CreateShortcutObject(AutomationObject* shell, WideText& path) {
  // The path goes by reference in a variant that owns it for the duration of the call: an object that
  // writes the argument back replaces the variant's text, which then becomes the caller's path; the
  // variant frees whichever text it holds at the end, so each is freed once. The path never passes
  // through GBK: the desktop of a user whose name GBK cannot hold is reached as it is.
  UniqueVariant slot;
  V_VT(slot.get()) = VT_BSTR;
  V_BSTR(slot.get()) = SysAllocStringLen(path.c_str(), static_cast<UINT>(path.length()));
  if (V_BSTR(slot.get()) == nullptr) return ObjectRecord::New();
  ObjectRecord shortcut = CallObjectMethod(shell, "CreateShortcut",
                                           {Value::Pointer(slot.get(), WithArrayOrReference(TypeFlag::Variant))});
  if (V_VT(slot.get()) == VT_BSTR && V_BSTR(slot.get()) != nullptr) {
    const BSTR now = V_BSTR(slot.get());
    path = WideText::Copy(now, SysStringLen(now));
  }
  return shortcut;
}

bool CreateDesktopShortcut(Text& name, TextArg targetPath, OptionalArgument<TextArg> arguments,
                           OptionalArgument<TextArg> iconLocation, OptionalArgument<std::int32_t> windowStyle,
                           OptionalArgument<TextArg> description, OptionalArgument<TextArg> hotkey,
                           WideText* shortcutPath) {
  // The name: a directory part is always dropped; the shortcut lives on the desktop. The path is
  // built in UTF-16 from the system's own desktop path, which GBK may not be able to hold (小明 on an
  // English system, Jörg, 김철수); `name` gets it as GBK only to be shown.
  if (FindText(name, "\\", {}, false) != -1) name = GetFileNameFromPath(name, false);
  const WideText desktop = SpecialFolderPath(kFolderDesktop);
  const WideText file = ToWide(FindText(name, ".lnk", {}, true) != -1 ? Text::Copy(name)
                                                                      : JoinTexts({name.c_str(), ".lnk"}));
  WideText path = WideText::Allocate(desktop.length() + file.length());
  std::wmemcpy(path.get(), desktop.c_str(), desktop.length());
  std::wmemcpy(path.get() + desktop.length(), file.c_str(), file.length());
  const auto report = [&]() {
    name = ToGbk(path.c_str());
    if (shortcutPath != nullptr) *shortcutPath = WideText::Copy(path.c_str());
  };
  report();

  // The target must be a path before anything is touched: a bad call never destroys a good shortcut.
  const TextArray segments = SplitText(targetPath, TextArg("\\"));
  if (segments.size() < 2) return false;

  // An old shortcut of the same name goes first, so that none of its properties survive.
  if (FileExists(path.c_str())) RemoveFile(path.c_str());

  TextBuilder directory;
  for (std::int32_t i = 0; i + 1 < segments.size(); ++i) {
    const TextArg segment(segments[i]);
    directory.Append(segment.c_str(), segment.length());
    directory.Append('\\');
  }
  const Text workingDirectory = directory.Finish();

  ObjectRecord object = ObjectRecord::New();
  if (!CreateAutomationObject(object.get(), "WshShell", TextArg("wshom.ocx"))) return false;

  object = CreateShortcutObject(object.get(), path);  // releases the shell object
  report();
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
