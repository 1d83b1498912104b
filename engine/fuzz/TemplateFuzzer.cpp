// libFuzzer target for the template decoder: any input either decodes or is refused, without reading
// out of bounds; what decodes re-encodes to bytes that decode to the same template, and so does every
// unit's kind data that decodes.
#include <cstddef>
#include <cstdint>

#include "engine/TemplateCodec.h"

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  zv::tpl::TemplateBlock block;
  if (!zv::tpl::DecodeTemplateBlock(data, size, block)) return 0;
  for (const zv::tpl::WindowTemplate& window : block.windows) {
    for (const zv::tpl::UnitRecord& unit : window.units) {
      zv::tpl::KindData kind;
      if (zv::tpl::DecodeKindData(unit.kind, unit.kindData, kind) == zv::tpl::KindDataStatus::Ok) {
        const zv::tpl::Bytes bytes =
            std::visit([](const auto& d) { return zv::tpl::EncodeKindData(d); }, kind);
        zv::tpl::KindData again;
        if (zv::tpl::DecodeKindData(unit.kind, bytes, again) != zv::tpl::KindDataStatus::Ok ||
            !(again == kind)) {
          __builtin_trap();
        }
      }
    }
  }
  const zv::tpl::Bytes encoded = zv::tpl::EncodeTemplateBlock(block);
  zv::tpl::TemplateBlock again;
  if (!zv::tpl::DecodeTemplateBlock(encoded.data(), encoded.size(), again) || !(again == block))
    __builtin_trap();
  return 0;
}
