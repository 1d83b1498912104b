// The payload store's writes: each stored array goes to the file writer in one piece, uncopied.
#include "services/PayloadStore.h"

#include "runtime/FileOperations.h"
#include "services/Crc32.h"
#include "services/FailureCauses.h"

namespace zv {

void WritePayloads(std::span<const PayloadEntry> entries, FailedFiles* failed) {
  for (const PayloadEntry& entry : entries) {
    // A payload that cannot be written (its program running, the directory missing) must not stop the
    // others; the caller learns which ones failed.
    ForgetLastError();
    if (!WriteBytesToFile(entry.path, {entry.payload}) && failed != nullptr) {
      failed->Add(entry.path, CauseOfLastFailure(entry.path));
    }
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
