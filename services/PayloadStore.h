// The payload store: the six suite programs that the wizard carries, as read-only ByteArray constants
// in the program's own data, and the catalogue that pairs each with its target path in C:\zor\vik.
// The catalogue's order is the order of writing. Nothing here copies, changes or releases a payload.
#pragma once

#include <span>

#include "runtime/Text.h"
#include "services/FailedFiles.h"

namespace zv {

struct PayloadEntry {
  const char* path;          // absolute target path, GBK, a constant (never released)
  const ByteArray* payload;  // the stored array, handed to the writer as it stands
};

// The six entries in writing order: zvmain, zvmix, zvtune, zvlock, zvaux, zvchat.
std::span<const PayloadEntry> PayloadCatalogue();

// Writes each entry's payload to its path with WriteBytesToFile, in order: a failed write does not
// stop the others. No directory is created. When `failed` is given, the path of every write that
// failed is added to it.
void WritePayloads(std::span<const PayloadEntry> entries, FailedFiles* failed = nullptr);

// Writes the six payload files of the catalogue into C:\zor\vik (which the caller has created).
void WriteAllPayloads(FailedFiles* failed = nullptr);

}  // namespace zv
