// Reading the stored window template (format in TemplateFormat.h). Every length, count and offset is
// checked against the bytes it claims, so any input either decodes or is refused; nothing is read out
// of bounds. Kind data stays raw in the unit records until a unit is created (DecodeKindData), which is
// where a version above the kind's highest is refused. Platform-neutral.
#pragma once

#include <cstddef>
#include <cstdint>
#include <variant>

#include "engine/TemplateFormat.h"

namespace zv::tpl {

// Parses a whole template block. False (and `out` unspecified) when it cannot be parsed.
bool DecodeTemplateBlock(const std::uint8_t* data, std::size_t size, TemplateBlock& out);

using KindData = std::variant<WindowData, EditBoxData, LabelData, TransLabelData, ButtonData, RadioBoxData,
                              ComboBoxData, DrawPanelData>;

enum class KindDataStatus {
  Ok,
  UnknownKind,     // no kind with this KindId
  VersionTooHigh,  // a version above the highest this engine knows for the kind
  Malformed,       // the fields do not fit the bytes, or bytes are left over
};

// Decodes a unit's kind data for its kind. Unless the result is Ok, `out` is unspecified.
KindDataStatus DecodeKindData(KindId kind, const Bytes& bytes, KindData& out);

}  // namespace zv::tpl
