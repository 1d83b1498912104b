// The payload store's writes: each stored array goes to the file writer in one piece, uncopied, and
// the six are replaced together.
#include "services/PayloadStore.h"

#include <windows.h>

#include <vector>

#include "runtime/FileOperations.h"
#include "services/Crc32.h"
#include "services/FailureCauses.h"

namespace zv {

void WritePayloads(std::span<const PayloadEntry> entries, FailedFiles* failed) {
  // All of them or none: a suite of new and old programs side by side does not work, and a killed
  // wizard must not leave one. The caller learns which files failed, and why.
  std::vector<FileContent> files(entries.size());
  std::vector<std::uint32_t> errors(entries.size());
  for (std::size_t i = 0; i < entries.size(); ++i) files[i] = {entries[i].path, entries[i].payload};
  if (WriteFilesTogether(files, errors) || failed == nullptr) return;
  for (std::size_t i = 0; i < entries.size(); ++i) {
    if (errors[i] == 0) continue;
    SetLastError(errors[i]);
    failed->Add(entries[i].path, CauseOfLastFailure(entries[i].path));
  }
}

void WriteAllPayloads(FailedFiles* failed) { WritePayloads(PayloadCatalogue(), failed); }

bool VerifyPayloads(std::span<const PayloadEntry> entries) {
  for (const PayloadEntry& entry : entries) {
    const ByteArray* payload = entry.payload;
    if (payload == nullptr || payload->length < 0 || entry.crc32 == nullptr) return false;
    if (Crc32(payload->bytes(), static_cast<std::size_t>(payload->length)) != *entry.crc32) return false;
  }
  return true;
}

bool VerifyPayloads() {
  return VerifyPayloads(PayloadCatalogue());
}

}  // namespace zv
