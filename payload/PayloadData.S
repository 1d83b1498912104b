// The six payload files, embedded as read-only ByteArray constants: a 32-bit dimension count (1), a
// 32-bit byte length, then the file's bytes, nothing in between. The catalogue hands each symbol to
// the file writer as it stands, so nothing is copied at run time and the data is there from the
// moment the image is loaded.
//
// The build passes each file's path as a quoted string (ZV_PAYLOAD_ZVMAIN, ...): the stand-ins built
// in payload/, or the files of the folder named by ZV_PAYLOAD_DIR. Each length is the file's own.

#define ZV_CONCAT2(a, b) a##b
#define ZV_CONCAT(a, b) ZV_CONCAT2(a, b)
// C symbols of the target carry the user label prefix (an underscore on i386 Windows).
#define ZV_SYMBOL(name) ZV_CONCAT(__USER_LABEL_PREFIX__, name)

// One ByteArray: header, then the file's bytes; 4-byte aligned so the header words are aligned.
.macro zv_byte_array symbol, path
  .globl \symbol
  .p2align 2
\symbol:
  .long 1
  .long 2f - 1f
1:
  .incbin "\path"
2:
.endm

  .section .rdata, "dr"
  zv_byte_array ZV_SYMBOL(zv_payload_zvmain), ZV_PAYLOAD_ZVMAIN
  zv_byte_array ZV_SYMBOL(zv_payload_zvmix), ZV_PAYLOAD_ZVMIX
  zv_byte_array ZV_SYMBOL(zv_payload_zvtune), ZV_PAYLOAD_ZVTUNE
  zv_byte_array ZV_SYMBOL(zv_payload_zvlock), ZV_PAYLOAD_ZVLOCK
  zv_byte_array ZV_SYMBOL(zv_payload_zvaux), ZV_PAYLOAD_ZVAUX
  zv_byte_array ZV_SYMBOL(zv_payload_zvchat), ZV_PAYLOAD_ZVCHAT
