// Directories that the program holds open, and the file operations that reach into them through the
// held handle rather than by a path from the drive.
//
// Holding a folder without delete sharing keeps it from being moved or renamed, but not from being
// turned into a mount point in place (setting a reparse point needs only a handle that may write the
// folder's attributes, and share modes do not cover it). A path from the drive is looked up afresh at
// each use and would then lead wherever the mount point sends it; a name opened relative to the held
// handle stays in the folder that was checked. So once a directory is held here, every open, rename,
// second name and listing of a name directly inside it is made relative to its handle; a name anywhere
// else is reached by its path, as before. The holder (the install folders) keeps the handle open; this
// registry only lends it, and is told when it goes.
#pragma once

#include <windows.h>

#include <cstddef>

namespace zv {

// From now on, names directly inside `path` are reached through `handle` (a directory handle opened
// with list access, which the caller keeps open until LetGoOfDirectory). The directory's identity is
// recorded for StillInPlace. False when it cannot be recorded (the registry is full, the path too long,
// or the handle's identity unreadable); the directory is then not held here.
bool HoldDirectory(const wchar_t* path, HANDLE handle);
void LetGoOfDirectory(HANDLE handle);

// Every held directory is still the folder that was held, where it was held: neither a link (a mount
// point set in place) nor moved or replaced (its path still opens the same folder, the one the handle
// holds). Checked before each phase of work on the held folders. False, with ERROR_CANT_ACCESS_FILE,
// at the first that is not; the error's subject is then `*which` (the held path), where given.
bool HeldDirectoriesInPlace(const wchar_t** which = nullptr);

namespace files {

// `path` names an entry directly inside a held directory.
bool InHeldDirectory(const wchar_t* path);

// CreateFileW's contract (access, sharing, security's descriptor and inheritance, disposition, flags
// and attributes; INVALID_HANDLE_VALUE and the thread's last error on failure; ERROR_ALREADY_EXISTS
// after an OPEN_ALWAYS or CREATE_ALWAYS that found the file), the name opened relative to its held
// directory where it is in one.
HANDLE Open(const wchar_t* path, DWORD access, DWORD share, SECURITY_ATTRIBUTES* security, DWORD disposition,
            DWORD flagsAndAttributes);

// Makes the directory `path` new, with the security given, and opens it as itself with `access` and
// `share` (held open from the moment it exists). INVALID_HANDLE_VALUE and the thread's last error
// (ERROR_ALREADY_EXISTS for a name that is taken) when it could not be made or opened.
HANDLE MakeDirectory(const wchar_t* path, DWORD access, DWORD share, SECURITY_ATTRIBUTES* security);

// GetFileAttributesW's contract: a link's own attributes; INVALID_FILE_ATTRIBUTES when it cannot be read.
DWORD Attributes(const wchar_t* path);

// Gives the file behind `handle` the name `target` (a link there is replaced, not followed), where
// `replace` allows replacing an existing file.
bool Rename(HANDLE handle, const wchar_t* target, bool replace);

// Gives the file behind `handle` the second name `name` (a hard link), never replacing a file there.
bool AddName(HANDLE handle, const wchar_t* name);

// Calls `visit(name, attributes, context)` for each entry of `directory` (not "." and ".."), until it
// answers false. False when the directory cannot be listed.
using EntryVisitor = bool (*)(const wchar_t* name, DWORD attributes, void* context);
bool ForEachEntry(const wchar_t* directory, EntryVisitor visit, void* context);

}  // namespace files
}  // namespace zv
