// The catalogue of the payload store: the six embedded arrays (payload/PayloadData.S) and their paths.
#include "services/PayloadStore.h"

// Defined by the embedded data: each array in the ByteArray layout, and its CRC-32 as the build
// computed it from the same file.
extern "C" {
extern const zv::ByteArray zv_payload_zvmain;
extern const zv::ByteArray zv_payload_zvmix;
extern const zv::ByteArray zv_payload_zvtune;
extern const zv::ByteArray zv_payload_zvlock;
extern const zv::ByteArray zv_payload_zvaux;
extern const zv::ByteArray zv_payload_zvchat;
extern const std::uint32_t zv_payload_zvmain_crc32;
extern const std::uint32_t zv_payload_zvmix_crc32;
extern const std::uint32_t zv_payload_zvtune_crc32;
extern const std::uint32_t zv_payload_zvlock_crc32;
extern const std::uint32_t zv_payload_zvaux_crc32;
extern const std::uint32_t zv_payload_zvchat_crc32;
}

namespace zv {
namespace {

// One entry per line, in writing order.
// clang-format off
constexpr PayloadEntry kCatalogue[] = {
    {"C:\\zor\\vik\\zvmain.exe", &zv_payload_zvmain, &zv_payload_zvmain_crc32},
    {"C:\\zor\\vik\\zvmix.exe", &zv_payload_zvmix, &zv_payload_zvmix_crc32},
    {"C:\\zor\\vik\\zvtune.exe", &zv_payload_zvtune, &zv_payload_zvtune_crc32},
    {"C:\\zor\\vik\\zvlock.exe", &zv_payload_zvlock, &zv_payload_zvlock_crc32},
    {"C:\\zor\\vik\\zvaux.exe", &zv_payload_zvaux, &zv_payload_zvaux_crc32},
    {"C:\\zor\\vik\\zvchat.exe", &zv_payload_zvchat, &zv_payload_zvchat_crc32},
};
// clang-format on

}  // namespace

std::span<const PayloadEntry> PayloadCatalogue() {
  return kCatalogue;
}

}  // namespace zv
