// Test helpers for looking into the shipped wizard template block: its bytes, little-endian words,
// and where the first window's unit list sits (the block's lead texts are empty).
#pragma once

#include <cstddef>
#include <cstdint>

#include "app/WizardWindow.h"
#include "engine/TemplateCodec.h"

namespace zv::tpl::test {

inline std::uint32_t U32At(const Bytes& b, std::size_t at) {
  return b[at] | b[at + 1] << 8 | b[at + 2] << 16 | static_cast<std::uint32_t>(b[at + 3]) << 24;
}

inline Bytes Shipped() {
  return Bytes(wizard::WizardTemplateData(), wizard::WizardTemplateData() + wizard::WizardTemplateSize());
}

// Where the first window's fields sit in a block whose lead texts are empty.
constexpr std::size_t kUnitCountAt = 4 + 8 + 8 + 4 + 4;
constexpr std::size_t kSectionLengthAt = kUnitCountAt + 4;
constexpr std::size_t kIdsAt = kSectionLengthAt + 4;

struct Layout {
  std::uint32_t unitCount;
  std::size_t offsetsAt;
  std::size_t recordsAt;
};
inline Layout LayoutOf(const Bytes& b) {
  const std::uint32_t n = U32At(b, kUnitCountAt);
  return Layout{n, kIdsAt + 4 * n, kIdsAt + 8 * n};
}

}  // namespace zv::tpl::test
