// File and configuration (INI) operations, synchronous, on the wide (UTF-16) Win32 calls: a GBK path
// is converted once, with code page 936 named (runtime/WideText.h), so that it reaches the same file
// whatever the system's ANSI code page. Failures are reported only by the result (false, or the
// empty/default text); nothing is shown and no directory is ever created implicitly. Callers pass the
// empty text, never null.
#pragma once

#include <cstddef>
#include <cstdint>
#include <initializer_list>
#include <span>

#include "runtime/Text.h"
#include "runtime/Value.h"

namespace zv {

// CreateDirectoryW, one level, default security. False for an existing directory or a missing parent.
bool MakeDirectory(TextArg path);
// Deletes the file named (no wildcards, no directories, no retry); a link there is removed itself,
// never what it leads to. The wide form takes a path that was built in UTF-16 and may hold characters
// that GBK cannot (the desktop of a user named 김철수); null is no path.
bool RemoveFile(const wchar_t* path);
bool RemoveFile(TextArg path);
// FindFirstFileW found something: so a directory counts, and a wildcard matches anything.
bool FileExists(const wchar_t* path);
bool FileExists(TextArg path);
// Writes the arrays' bytes one after another as the whole content of `path` (0 or negative lengths are
// skipped, the dimension count is ignored). Creates the file or replaces an existing one; the new file
// takes the folder's access list and gets the archive flag and no other attribute, as an overwrite
// would leave it; no arrays gives an empty file. Nobody else can open the file while it is written. A
// new file and a replacement are flushed to disk, and again with the name after the move, before they
// count as done; a write that fails or is killed leaves no file cut short under the name.
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
// place by renames alone, one right after the other (every open and check they need is made first),
// each old file kept aside under "zvw<random>.<its name>.old" until every new one is in place and, with
// its name, flushed to disk; only then are the old files deleted. Where any cannot be written, none is
// put in place; where one cannot be put in place, those already put in place are put back. An old
// file that cannot be put back stays under its kept name and its new file in its place (no name that
// was there goes missing), and is reported. True when all are in place; otherwise `errors[i]` holds
// the system's error for each file that could not be written, put in place or put back (0 for the
// others), and no other scratch file is left. What a killed writer left beside the targets is tidied
// first (RemoveLeftScratchFiles). The disk needs room for the new files beside the old ones.
bool WriteFilesTogether(std::span<const FileContent> files, std::span<std::uint32_t> errors);
// Tidies what a killed writer left in `directory`, where nobody holds it open: an old file kept aside
// goes back under its own name where that name is missing and is deleted where it is there; other
// scratch files are removed.
void RemoveLeftScratchFiles(TextArg directory);
// INI files are read and written as bytes (GBK, whatever the system's code page), by the rules of the
// system's profile calls: a line "[name]" (up to its last "]") starts a section, a line "key=value"
// (up to its first "=") is a key, any other line (a comment, say) belongs to its section and is kept;
// lines end at CR or LF; sections and keys are matched without regard to ASCII case, double-byte
// characters byte for byte; blanks (tab, line ends, ^Z, space) around names and values do not count;
// only the first section of a name is looked at, and the first key of a name in it. Values are bytes,
// never converted. A UTF-8 byte-order mark at the start is passed over. Files larger than 16 MB are not
// read (as missing) nor written (a failure).
//
// The value of `key` in `section` of the INI file, or the default (omitted: empty). File, section and
// key are trimmed of leading bytes 1..32; if any is then empty, nothing is read and the result is
// empty. A value in matching quotes (" or ') is given without them; a key without "=" has no value.
// The value, or the default (without trailing spaces, unquoted, as the profile reader gave it), is cut
// to at most 10,239 bytes, never inside a double-byte character. Empty results are null. A link in the
// file's place is read through, as the profile reader read it.
Text ReadIniValue(TextArg file, TextArg section, TextArg key, OptionalArgument<TextArg> defaultValue = {});
// Sets `key` in `section` to `value`: an existing key's value is replaced in place (the first key of
// that name in the first such section); a new key goes on a line of its own after the section's last
// line that is not blank; a new section goes at the end of the file ("[section]", CR LF, "key=value",
// CR LF; a last line without its line end gets one first); a new file holds just that. Leading blanks
// of a new section's or key's name and of the value are not written. An omitted value deletes the key's
// line, an omitted key the section's lines (its header to the next section); deleting what is not
// there changes nothing, and makes no file. A given empty text is written as empty. Every other byte
// of the file stays as it was. The new content is written to a copy that then takes the file's place,
// and the copy and its move are flushed to disk before the write counts as done; a write that fails
// leaves the old file whole. A link in the file's place (symbolic, or a second name of a file), or a
// file whose identity cannot be read, is not written (ERROR_CANT_ACCESS_FILE) and stays as it is, as
// does what it leads to. False for that, a section, key or value that holds a line break, an empty
// (blank) section or key, a missing folder, or any failed read or write.
bool WriteIniValue(TextArg file, TextArg section, OptionalArgument<TextArg> key = {},
                   OptionalArgument<TextArg> value = {});

}  // namespace zv
