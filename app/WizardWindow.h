// The wizard window's template: its readable description (WizardWindow.cpp), encoded at compile time
// into the stored block that the program carries among its constants. Platform-neutral, so the
// native codec tests and the fuzzer's seed read the very template that the program ships.
#pragma once

#include <cstddef>
#include <cstdint>

#include "engine/TemplateFormat.h"

namespace zv::wizard {

// The description as data (a fresh copy; tests change it to make broken variants).
tpl::TemplateBlock DescribeWizardWindow();

// The stored block: the description encoded, in the program's constant data.
const std::uint8_t* WizardTemplateData();
std::size_t WizardTemplateSize();

}  // namespace zv::wizard
