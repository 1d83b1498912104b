// The payload store's writes: each stored array goes to the file writer in one piece, uncopied.
#include "services/PayloadStore.h"

#include "runtime/FileOperations.h"

namespace zv {

void WritePayloads(std::span<const PayloadEntry> entries) {
  for (const PayloadEntry& entry : entries) {
    // The result is ignored on purpose: a payload that cannot be written (its program running, the
    // directory missing) must not stop the others.
    (void)WriteBytesToFile(entry.path, {entry.payload});
  }
}

void WriteAllPayloads() {
  WritePayloads(PayloadCatalogue());
}

}  // namespace zv
