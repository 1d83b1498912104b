// The payload store: the six suite programs that the wizard carries, as read-only ByteArray constants
// in the program's own data, and the catalogue that pairs each with its target path in C:\zor\vik.
// The catalogue's order is the order of writing. Nothing here copies, changes or releases a payload.
// Each entry also carries the CRC-32 of its payload, computed by the build from the embedded file, so
// that a damaged copy of the program is noticed before it writes anything.
#pragma once

#include <cstdint>
#include <span>

#include "runtime/Text.h"
#include "services/FailedFiles.h"

namespace zv {

struct PayloadEntry {
  const char* path;          // absolute target path, GBK, a constant (never released)
  const ByteArray* payload;  // the stored array, handed to the writer as it stands
  // CRC-32 of the payload's bytes as the build computed it, a constant beside the array; an entry
  // without one (null) never passes the check.
  const std::uint32_t* crc32 = nullptr;
};

// The six entries in writing order: zvmain, zvmix, zvtune, zvlock, zvaux, zvchat.
std::span<const PayloadEntry> PayloadCatalogue();

// Writes the entries' payloads to their paths together (WriteFilesTogether): all of them are put in
// place, or none is and the old files stay as they were. No directory is created. When `failed` is
// given, the path of every file that could not be written or put in place is added to it, with the
// cause of its failure.
void WritePayloads(std::span<const PayloadEntry> entries, FailedFiles* failed = nullptr);

// Writes the six payload files of the catalogue into C:\zor\vik (which the caller has created).
void WriteAllPayloads(FailedFiles* failed = nullptr);

// True when every entry's payload still has the CRC-32 that the build recorded for it. Reads each
// payload once, in place; writes nothing.
bool VerifyPayloads(std::span<const PayloadEntry> entries);
// The same for the six payloads of the catalogue: false means the program file is damaged.
bool VerifyPayloads();

}  // namespace zv
