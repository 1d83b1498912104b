// The wizard window loaded in this process by the engine, from the shipped template with counting
// handlers in the handler table; shared by the engine tests and the property contract tests.
#pragma once

#include <gtest/gtest.h>

#include <string>

#include "app/WizardControls.h"
#include "app/WizardWindow.h"
#include "engine/LiveWindow.h"
#include "engine/WindowEngine.h"
#include "runtime/ControlProperties.h"
#include "runtime/Lifecycle.h"
#include "tests/support/WinTestSupport.h"

namespace zv::test {

using namespace wizard;

inline int g_calls[kHandlerSlotCount];
inline EventSource g_sourceInHandler[kHandlerSlotCount];

template <int Slot>
void CountingHandler() {
  ++g_calls[Slot];
  g_sourceInHandler[Slot] = CurrentEventSource();
}

inline const EventHandler kTestHandlers[kHandlerSlotCount] = {&CountingHandler<0>, &CountingHandler<1>,
                                                              &CountingHandler<2>, &CountingHandler<3>};

inline ProgramTemplates Templates(const tpl::Bytes& block) {
  ProgramTemplates t;
  t.block = block.data();
  t.blockSize = block.size();
  t.codeBase = kTestHandlers;
  t.handlerCount = kHandlerSlotCount;
  return t;
}

inline const tpl::Bytes& ShippedBlock() {
  static const tpl::Bytes block(WizardTemplateData(), WizardTemplateData() + WizardTemplateSize());
  return block;
}

// The engine's class of the window, for the helpers that take a narrow class name.
inline constexpr char kWindowClassName[] = "ZorvikWindow";

// Messages through the engine as its loop takes them: in their wide form.
inline void Pump() {
  MSG msg;
  for (int round = 0; round < 3; ++round) {
    while (PeekMessageW(&msg, nullptr, 0, 0, PM_REMOVE)) ProcessMessage(msg);
    Sleep(10);
  }
}

class WizardEngine : public ::testing::Test {
 protected:
  static void SetUpTestSuite() {
    InitRuntime();
    LoadWindowTemplates(Templates(ShippedBlock()));
  }

  void SetUp() override {
    for (int i = 0; i < static_cast<int>(kHandlerSlotCount); ++i) {
      g_calls[i] = 0;
      g_sourceInHandler[i] = EventSource{};
    }
    LoadWindow(kWindowId);
    BindAsTheProgramDoes();
    Pump();
  }

  // The focus and help bindings, as the program makes them (app/Program.cpp).
  static void BindAsTheProgramDoes() {
    const ControlId nextButtons[] = {kSelectionNext, kRegistrationNext};
    SetForwardButtons(kWindowId, nextButtons, 2);
    SetHelpText(kWindowId, kRegistrationNext, kDisclaimerEdit);
    SetHelpText(kWindowId, kNicknameEdit, kWarningLabel);
  }

  void TearDown() override {
    if (engine::LiveWindow* window = engine::FindLoadedWindow(kWindowId)) DestroyWindow(window->hwnd);
    Pump();
  }

  // The control's native window as it is now: null for a control of a page not created yet.
  static HWND Existing(ControlId id) {
    engine::LiveWindow* window = engine::FindLoadedWindow(kWindowId);
    if (window == nullptr) return nullptr;
    engine::LiveUnit* unit = window->FindUnit(id);
    return unit != nullptr ? unit->hwnd : nullptr;
  }
  // The control's native window, its page created first if it was not yet, as a property operation
  // on it would.
  static HWND Native(ControlId id) {
    engine::LiveWindow* window = engine::FindLoadedWindow(kWindowId);
    if (window == nullptr) return nullptr;
    engine::LiveUnit* unit = window->FindUnit(id);
    if (unit == nullptr || !engine::EnsureCreated(*window, *unit)) return nullptr;
    return unit->hwnd;
  }
  // Every page created, for the checks that walk every control.
  static void CreateEveryPage() {
    engine::LiveWindow* window = engine::FindLoadedWindow(kWindowId);
    ASSERT_NE(window, nullptr);
    for (engine::LiveUnit& unit : window->units) ASSERT_TRUE(engine::EnsureCreated(*window, unit));
  }
  static HWND Main() { return Native(kWindowUnit); }

  static std::int32_t Read(ControlId id, PropertyIndex index) { return ReadControlInt(kWindowId, id, index); }
  static void Write(ControlId id, PropertyIndex index, std::int32_t value) {
    WriteControlInt(kWindowId, id, index, value);
  }
  static std::string ReadText(ControlId id, PropertyIndex index) {
    Text t = ReadControlText(kWindowId, id, index);
    return t.c_str();
  }

  static void ShowPageTwo() {
    Write(kRegistrationPanel, kPropertyVisible, 1);
    Write(kSelectionPanel, kPropertyVisible, 0);
    Pump();
  }

  static void Click(ControlId id) {
    SendMessageA(Native(id), BM_CLICK, 0, 0);
    Pump();
  }

  // Characters as an input method delivers them: UTF-16 code units posted one by one as WM_CHAR.
  static void Type(ControlId id, const wchar_t* units) {
    for (const wchar_t* u = units; *u != L'\0'; ++u) PostMessageW(Native(id), WM_CHAR, *u, 1);
    Pump();
  }

  // `repeat`: as the system repeats a key that is held down (bit 30: it was down before).
  static void PressKey(WPARAM key, bool shift = false, bool repeat = false) {
    BYTE keys[256];
    GetKeyboardState(keys);
    keys[VK_SHIFT] = shift ? 0x80 : 0;
    SetKeyboardState(keys);
    PostMessageA(GetFocus() != nullptr ? GetFocus() : Main(), WM_KEYDOWN, key, repeat ? 0x40000001 : 1);
    Pump();
    keys[VK_SHIFT] = 0;
    SetKeyboardState(keys);
  }
};

// Reads the fatal report box of a child process and checks that it ended with -1 without ever
// showing the wizard window.
inline void ExpectFatalBox(ChildProcess& child, const std::string& message) {
  MessageBox box = WaitForMessageBox(child.id());
  ASSERT_NE(box.window, nullptr) << "no box for " << message;
  EXPECT_EQ(box.caption, "错误");
  EXPECT_EQ(box.text, "运行时出错!\r\n\r\n错误信息：" + message + "\r\n");
  EXPECT_TRUE(TopLevelWindows(child.id(), kWindowClassName).empty()) << "the window was shown";
  PressOk(box);
  EXPECT_EQ(child.Wait(), 0xFFFFFFFFu);
}

inline void StartScenario(ChildProcess& child, const char* name, const std::string& arguments = "") {
  ASSERT_TRUE(child.StartScenario(name, arguments));
}

}  // namespace zv::test
