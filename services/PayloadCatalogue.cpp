// The catalogue of the payload store: the six embedded arrays (payload/PayloadData.S) and their paths.
#include "services/PayloadStore.h"

// Defined by the embedded data, in the ByteArray layout.
extern "C" {
extern const zv::ByteArray zv_payload_zvmain;
extern const zv::ByteArray zv_payload_zvmix;
extern const zv::ByteArray zv_payload_zvtune;
extern const zv::ByteArray zv_payload_zvlock;
extern const zv::ByteArray zv_payload_zvaux;
extern const zv::ByteArray zv_payload_zvchat;
}

namespace zv {
namespace {

// One entry per line, in writing order.
// clang-format off
constexpr PayloadEntry kCatalogue[] = {
    {"C:\\zor\\vik\\zvmain.exe", &zv_payload_zvmain},
    {"C:\\zor\\vik\\zvmix.exe", &zv_payload_zvmix},
    {"C:\\zor\\vik\\zvtune.exe", &zv_payload_zvtune},
    {"C:\\zor\\vik\\zvlock.exe", &zv_payload_zvlock},
    {"C:\\zor\\vik\\zvaux.exe", &zv_payload_zvaux},
    {"C:\\zor\\vik\\zvchat.exe", &zv_payload_zvchat},
};
// clang-format on

}  // namespace

std::span<const PayloadEntry> PayloadCatalogue() {
  return kCatalogue;
}

}  // namespace zv
