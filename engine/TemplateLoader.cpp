// Start-up: the program's template block parsed into per-window unit lists, and every stored handler
// offset turned into a routine once. The code base is the program's table of handler routines; an
// offset is the byte offset of an entry in it, so it must land exactly on an entry.
#include "engine/LiveWindow.h"
#include "engine/WindowEngine.h"
#include "runtime/Fatal.h"

namespace zv {
namespace engine {
namespace {

std::vector<LoadedTemplate>& Templates() {
  // Made once and never destroyed: the program ends through ExitProcess, so no destructor of a
  // static could run but during the process's own teardown, where it has nothing left to do.
  static auto& templates = *new std::vector<LoadedTemplate>();
  return templates;
}

bool Bind(const ProgramTemplates& program, std::uint32_t offset, EventHandler& handler) {
  handler = nullptr;
  if (offset == tpl::kNoHandler) return true;
  if (offset % sizeof(EventHandler) != 0 || offset / sizeof(EventHandler) >= program.handlerCount)
    return false;
  const auto* entry =
      reinterpret_cast<const EventHandler*>(reinterpret_cast<const std::uint8_t*>(program.codeBase) + offset);
  handler = *entry;
  return true;
}

// Out of line, like the template decoder's window sections (TemplateCodec.cpp).
[[gnu::noinline]] bool LoadAll(const ProgramTemplates& program, std::vector<LoadedTemplate>& out) {
  tpl::TemplateBlock block;
  if (!tpl::DecodeTemplateBlock(program.block, program.blockSize, block)) return false;
  out = std::vector<LoadedTemplate>(block.windows.size());
  for (std::size_t w = 0; w < block.windows.size(); ++w) {
    LoadedTemplate& loaded = out[w];
    loaded.window = static_cast<tpl::WindowTemplate&&>(block.windows[w]);
    loaded.events = std::vector<std::vector<BoundEvent>>(loaded.window.units.size());
    for (std::size_t u = 0; u < loaded.window.units.size(); ++u) {
      for (const tpl::EventBinding& binding : loaded.window.units[u].events) {
        BoundEvent bound;
        bound.eventIndex = binding.eventIndex;
        if (!Bind(program, binding.handlerOffset, bound.handler)) return false;
        loaded.events[u].push_back(bound);
      }
    }
  }
  return true;
}

}  // namespace

const LoadedTemplate* FindTemplate(WindowId window) {
  for (const LoadedTemplate& loaded : Templates()) {
    if (loaded.window.windowId == window) return &loaded;
  }
  return nullptr;
}

}  // namespace engine

void LoadWindowTemplates(const ProgramTemplates& program) {
  std::vector<engine::LoadedTemplate> loaded;
  if (!engine::LoadAll(program, loaded)) ReportRuntimeError(kErrorNone, "载入窗口模板数据段出错!");
  engine::Templates() = static_cast<std::vector<engine::LoadedTemplate>&&>(loaded);
}

}  // namespace zv
