// The six payload files, embedded as read-only ByteArray constants: a 32-bit dimension count (1), a
// 32-bit byte length, then the file's bytes, nothing in between. The catalogue hands each symbol to
// the file writer as it stands, so nothing is copied at run time and the data is there from the
// moment the image is loaded.
//
// The build passes each file's path as a quoted string (ZV_PAYLOAD_ZVMAIN, ...): the stand-ins built
// in payload/, or the files of the folder named by ZV_PAYLOAD_DIR. Each length is the file's own.
// Before each array lies its CRC-32 (<symbol>_crc32), computed by the build from the same file
// (make-checksums.py writes PayloadChecksums.inc), which the program checks before it writes.
//
// The arrays go into read-only data under a name of their own, .rdata$payload: the shipped
// program's linker script puts them at the start of its read-only section, which starts on a page
// boundary of the file, so that a loader can map the megabytes of the suite from the file as they
// are first read (at installation). Wine reads a section whose file offset is not page-aligned
// into memory in whole when the program starts.

#include "PayloadChecksums.inc"

#define ZV_CONCAT2(a, b) a##b
#define ZV_CONCAT(a, b) ZV_CONCAT2(a, b)
// C symbols of the target carry the user label prefix (an underscore on i386 Windows).
#define ZV_SYMBOL(name) ZV_CONCAT(__USER_LABEL_PREFIX__, name)

// One ByteArray: header, then the file's bytes; 4-byte aligned so the header words are aligned.
// The 32-bit checksum right before it is a symbol of its own and not part of the array.
.macro zv_byte_array symbol, path, crc
  .globl \symbol\()_crc32
  .p2align 2
\symbol\()_crc32:
  .long \crc
  .globl \symbol
\symbol:
  .long 1
  .long 2f - 1f
1:
  .incbin "\path"
2:
.endm

  .section .rdata$payload, "dr"
  zv_byte_array ZV_SYMBOL(zv_payload_zvmain), ZV_PAYLOAD_ZVMAIN, ZV_PAYLOAD_ZVMAIN_CRC32
  zv_byte_array ZV_SYMBOL(zv_payload_zvmix), ZV_PAYLOAD_ZVMIX, ZV_PAYLOAD_ZVMIX_CRC32
  zv_byte_array ZV_SYMBOL(zv_payload_zvtune), ZV_PAYLOAD_ZVTUNE, ZV_PAYLOAD_ZVTUNE_CRC32
  zv_byte_array ZV_SYMBOL(zv_payload_zvlock), ZV_PAYLOAD_ZVLOCK, ZV_PAYLOAD_ZVLOCK_CRC32
  zv_byte_array ZV_SYMBOL(zv_payload_zvaux), ZV_PAYLOAD_ZVAUX, ZV_PAYLOAD_ZVAUX_CRC32
  zv_byte_array ZV_SYMBOL(zv_payload_zvchat), ZV_PAYLOAD_ZVCHAT, ZV_PAYLOAD_ZVCHAT_CRC32
