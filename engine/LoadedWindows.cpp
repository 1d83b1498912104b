// The registry of loaded windows: every window that LoadWindow created and that is not yet destroyed,
// and the lookups from a window id, a native window or a unit id to the engine's records.
#include "engine/LiveWindow.h"

namespace zv::engine {
namespace {

std::vector<std::unique_ptr<LiveWindow>>& LoadedWindows() {
  // Made once and never destroyed, like the templates (TemplateLoader.cpp).
  static auto& windows = *new std::vector<std::unique_ptr<LiveWindow>>();
  return windows;
}

}  // namespace

LiveWindow* AddLoadedWindow(WindowId id, const LoadedTemplate* source) {
  LoadedWindows().push_back(std::make_unique<LiveWindow>());
  LiveWindow* window = LoadedWindows().back().get();
  window->windowId = id;
  window->source = source;
  return window;
}

LiveUnit* LiveWindow::FindUnit(std::uint32_t id) {
  for (LiveUnit& unit : units) {
    if (unit.record->id == id) return &unit;
  }
  return nullptr;
}

LiveUnit* LiveWindow::FindUnit(HWND h) {
  if (h == nullptr) return nullptr;
  for (LiveUnit& unit : units) {
    if (unit.hwnd == h) return &unit;
  }
  return nullptr;
}

LiveWindow* FindLoadedWindow(WindowId id) {
  for (auto& window : LoadedWindows()) {
    if (window->windowId == id && window->hwnd != nullptr) return window.get();
  }
  return nullptr;
}

LiveWindow* FindLoadedWindowOf(HWND h) {
  if (h == nullptr) return nullptr;
  HWND root = GetAncestor(h, GA_ROOT);
  for (auto& window : LoadedWindows()) {
    if (window->hwnd != nullptr && window->hwnd == root) return window.get();
  }
  return nullptr;
}

LiveUnit* FindLiveUnit(HWND h) {
  for (auto& window : LoadedWindows()) {
    if (LiveUnit* unit = window->FindUnit(h)) return unit;
  }
  return nullptr;
}

bool AnyWindowAlive(const LiveWindow* except) {
  for (auto& window : LoadedWindows()) {
    if (window.get() != except && window->hwnd != nullptr && IsWindow(window->hwnd)) return true;
  }
  return false;
}

void ForgetWindow(LiveWindow* window) {
  auto& windows = LoadedWindows();
  for (auto it = windows.begin(); it != windows.end(); ++it) {
    if (it->get() == window) {
      windows.erase(it);
      return;
    }
  }
}

}  // namespace zv::engine
