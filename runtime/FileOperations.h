// File and configuration (INI) operations: thin synchronous wrappers over the ANSI Win32 calls.
// Failures are reported only by the result (false, or the empty/default text); nothing is shown and no
// directory is ever created implicitly. Callers pass the empty text, never null.
#pragma once

#include <cstddef>
#include <cstdint>
#include <initializer_list>
#include <span>

#include "runtime/Text.h"
#include "runtime/Value.h"

namespace zv {

// CreateDirectoryA, one level, default security. False for an existing directory or a missing parent.
bool MakeDirectory(TextArg path);
// Deletes the file named (no wildcards, no directories, no retry); a link there is removed itself,
// never what it leads to.
bool RemoveFile(TextArg path);
// FindFirstFileA found something: so a directory counts, and a wildcard matches anything.
bool FileExists(TextArg path);
// Writes the arrays' bytes one after another as the whole content of `path` (0 or negative lengths are
// skipped, the dimension count is ignored). Creates the file or replaces an existing one; the new file
// takes the folder's access list and gets the archive flag and no other attribute, as an overwrite
// would leave it; no arrays gives an empty file. Nobody else can open the file while it is written.
// Where a replacement is refused for want of rights, or the target stays busy for about a second, the
// target is overwritten in place instead; any other failure (a full disk) leaves the old file as it
// was. A link in the file's place is replaced, never written through. False for the empty path, a
// missing directory, a target held open by another process, a read-only, hidden or system target, or
// any failed write; the old file is then as it was, except after a failed overwrite in place.
// Scratch files that a killed writer left in the folder are removed first.
bool WriteBytesToFile(TextArg path, const ByteArray* const* data, std::size_t count);
inline bool WriteBytesToFile(TextArg path, std::initializer_list<const ByteArray*> data) {
  return WriteBytesToFile(path, data.begin(), data.size());
}
// One file's new content, for WriteFilesTogether.
struct FileContent {
  const char* path;
  const ByteArray* data;
};
// Replaces several files as one (the suite's programs): each file's new content is first written to a
// scratch file beside its target and flushed; only when all of them are whole on disk are they put in
// place, one right after the other, each old file kept aside until every new one is in place. Where
// any cannot be written, none is put in place; where one cannot be put in place, those already put in
// place are put back where the system allows it. True when all are in place; otherwise `errors[i]`
// holds the system's error for each file that could not be written or put in place (0 for the
// others), and no scratch file is left. Scratch files that a killed writer left beside the targets are
// removed first. The disk needs room for the new files beside the old ones.
bool WriteFilesTogether(std::span<const FileContent> files, std::span<std::uint32_t> errors);
// Removes the scratch files that a killed writer left in `directory`, those that nobody holds open.
void RemoveLeftScratchFiles(TextArg directory);
// The value of `key` in `section` of the INI file, or the default (omitted: empty). File, section and
// key are trimmed of leading bytes 1..32; if any is then empty, no call is made. Empty results are null.
Text ReadIniValue(TextArg file, TextArg section, TextArg key, OptionalArgument<TextArg> defaultValue = {});
// WritePrivateProfileStringA, on a copy of the file that then takes its place: a link in the file's
// place is replaced, never written through. An omitted key deletes the section, an omitted value
// deletes the key; a given empty text is written as empty.
bool WriteIniValue(TextArg file, TextArg section, OptionalArgument<TextArg> key = {},
                   OptionalArgument<TextArg> value = {});

}  // namespace zv
