// The window engine in this process, built from the shipped wizard template with counting handlers:
// creation details (fonts, the combo's list), event delivery, keyboard use and drag translation;
// and, in child processes, the fatal errors of loading and event delivery, and the ways the
// program ends.
#include "engine/WindowEngine.h"

#include "tests/engine/WizardEngineFixture.h"

namespace zv::test {
namespace {

TEST_F(WizardEngine, ComboListItemsAreOnePixelTallerThanTheSystemDefault) {
  HWND reference = CreateWindowExA(0, "COMBOBOX", "", WS_CHILD | CBS_DROPDOWNLIST, 0, 0, 88, 160, Main(),
                                   nullptr, GetModuleHandleA(nullptr), nullptr);
  ASSERT_NE(reference, nullptr);
  SendMessageA(reference, WM_SETFONT, reinterpret_cast<WPARAM>(GetStockObject(DEFAULT_GUI_FONT)), FALSE);
  const LRESULT standard = SendMessageA(reference, CB_GETITEMHEIGHT, 0, 0);
  DestroyWindow(reference);
  EXPECT_EQ(SendMessageA(Native(kGenderCombo), CB_GETITEMHEIGHT, 0, 0), standard + 1);
}

TEST_F(WizardEngine, GenderListDropsDownShowingAllThreeItems) {
  ShowPageTwo();
  Write(kDisclaimerEdit, kPropertyVisible, 0);
  const HWND combo = Native(kGenderCombo);
  SendMessageA(combo, CB_SHOWDROPDOWN, TRUE, 0);
  Pump();
  COMBOBOXINFO info{};
  info.cbSize = sizeof info;
  ASSERT_TRUE(GetComboBoxInfo(combo, &info));
  const bool dropped = SendMessageA(combo, CB_GETDROPPEDSTATE, 0, 0) != FALSE;
  RECT list;
  GetClientRect(info.hwndList, &list);
  const LRESULT item = SendMessageA(combo, CB_GETITEMHEIGHT, 0, 0);
  SendMessageA(combo, CB_SHOWDROPDOWN, FALSE, 0);
  EXPECT_TRUE(dropped);
  EXPECT_GE(list.bottom, 3 * item);
}

LOGFONTW FontOf(HWND h) {
  LOGFONTW lf{};
  GetObjectW(reinterpret_cast<HFONT>(SendMessageW(h, WM_GETFONT, 0, 0)), sizeof lf, &lf);
  return lf;
}

TEST_F(WizardEngine, ControlsUseTheTemplatesFonts) {
  const LOGFONTW title = FontOf(Native(kTitleLabel));
  EXPECT_EQ(title.lfHeight, -20);
  EXPECT_EQ(title.lfWeight, 700);
  EXPECT_EQ(title.lfCharSet, 134);
  EXPECT_EQ(title.lfPitchAndFamily, 0x31);
  EXPECT_STREQ(title.lfFaceName, L"\u6977\u4f53_GB2312");  // 楷体_GB2312
  const LOGFONTW prompt = FontOf(Native(kSelectionPrompt));
  EXPECT_EQ(prompt.lfHeight, -14);
  EXPECT_STREQ(prompt.lfFaceName, L"\u5b8b\u4f53");  // 宋体
  EXPECT_EQ(FontOf(Native(kInstallRadio)).lfHeight, -16);
  const LOGFONTW disclaimer = FontOf(Native(kDisclaimerEdit));
  EXPECT_EQ(disclaimer.lfHeight, -14);
  EXPECT_EQ(disclaimer.lfCharSet, 134);
  EXPECT_STREQ(disclaimer.lfFaceName, L"");
  const WPARAM stock = reinterpret_cast<WPARAM>(GetStockObject(DEFAULT_GUI_FONT));
  for (ControlId id : {kWindowUnit, kSelectionNext, kNicknameEdit, kGenderCombo, kGreetingLabel}) {
    EXPECT_EQ(static_cast<WPARAM>(SendMessageA(Native(id), WM_GETFONT, 0, 0)), stock) << std::hex << id;
  }
}

// The engine's windows and the system's controls it makes are Unicode windows: texts and typed
// characters reach them as UTF-16, whatever the system's code page.
TEST_F(WizardEngine, EveryWindowIsAUnicodeWindow) {
  CreateEveryPage();
  for (const engine::LiveUnit& unit : engine::FindLoadedWindow(kWindowId)->units) {
    EXPECT_TRUE(IsWindowUnicode(unit.hwnd)) << std::hex << unit.id();
  }
}

// ---- Events ----

TEST_F(WizardEngine, EachButtonCallsItsOwnHandlerWithItselfAsEventSource) {
  struct Case {
    ControlId button;
    HandlerSlot slot;
  };
  const Case cases[] = {{kSelectionNext, kSelectionNextSlot},
                        {kSelectionCancel, kSelectionCancelSlot},
                        {kRegistrationNext, kRegistrationNextSlot},
                        {kRegistrationCancel, kRegistrationCancelSlot}};
  ShowPageTwo();
  Write(kSelectionPanel, kPropertyVisible, 1);
  for (const Case& c : cases) {
    const int before[] = {g_calls[0], g_calls[1], g_calls[2], g_calls[3]};
    Click(c.button);
    for (int slot = 0; slot < static_cast<int>(kHandlerSlotCount); ++slot) {
      EXPECT_EQ(g_calls[slot], before[slot] + (slot == static_cast<int>(c.slot) ? 1 : 0))
          << std::hex << c.button << " slot " << slot;
    }
    EXPECT_EQ(g_sourceInHandler[c.slot].window, kWindowId);
    EXPECT_EQ(g_sourceInHandler[c.slot].unit, c.button);
  }
  EXPECT_EQ(CurrentEventSource().window, 0u);
  EXPECT_EQ(CurrentEventSource().unit, 0u);
}

// While the program works (an installation), no button or radio button of either page takes a click
// or a key: the system gives input to enabled windows only.
TEST_F(WizardEngine, WhileTheProgramWorksNoButtonTakesInput) {
  HoldInputWhileWorking(kWindowId);
  for (ControlId id : {kSelectionNext, kSelectionCancel, kRegistrationNext, kRegistrationCancel,
                       kInstallRadio, kUninstallRadio}) {
    EXPECT_FALSE(IsWindowEnabled(Native(id))) << std::hex << id;
  }
  EXPECT_TRUE(IsWindowEnabled(Native(kNicknameEdit)));  // not a button: nothing to click
}

TEST_F(WizardEngine, RadioClicksAndUnboundEventsCallNoHandler) {
  Click(kUninstallRadio);
  EventRecord event;
  event.window = kWindowId;
  event.unit = kSelectionPrompt;
  RaiseEvent(event);
  for (int calls : g_calls) EXPECT_EQ(calls, 0);
}

// ---- Keyboard ----

// Tab and Shift+Tab follow the shown page's reading order, not the stacking order, round the end. Of
// the two radio buttons only the checked one is a tab stop (the button class moves WS_TABSTOP with the
// check, as in any dialog); while the disclaimer shows, only the page's two buttons are.
TEST_F(WizardEngine, TabWalksEachPageInReadingOrderAndWraps) {
  enum Scene { kPageOne, kDisclaimer, kRegistration };
  const struct Case {
    const char* name;
    Scene scene;
    bool back;
    ControlId from;
    ControlId order[4];
  } cases[] = {
      {"page 1",
       kPageOne,
       false,
       kInstallRadio,
       {kSelectionCancel, kSelectionNext, kInstallRadio, kSelectionCancel}},
      {"page 1 backwards", kPageOne, true, kSelectionNext, {kSelectionCancel, kInstallRadio, kSelectionNext}},
      {"page 2 under the disclaimer",
       kDisclaimer,
       false,
       kRegistrationNext,
       {kRegistrationCancel, kRegistrationNext, kRegistrationCancel}},
      {"page 2",
       kRegistration,
       false,
       kNicknameEdit,
       {kGenderCombo, kRegistrationCancel, kRegistrationNext, kNicknameEdit}},
      {"page 2 backwards",
       kRegistration,
       true,
       kNicknameEdit,
       {kRegistrationNext, kRegistrationCancel, kGenderCombo, kNicknameEdit}},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    Write(kRegistrationPanel, kPropertyVisible, c.scene != kPageOne);
    Write(kSelectionPanel, kPropertyVisible, c.scene == kPageOne);
    Write(kDisclaimerEdit, kPropertyVisible, c.scene == kDisclaimer);
    SetFocus(Native(c.from));
    for (ControlId expected : c.order) {
      if (expected == 0) break;
      PressKey(VK_TAB, c.back);
      EXPECT_EQ(GetFocus(), Native(expected)) << std::hex << expected;
    }
  }
}

TEST_F(WizardEngine, TabReachesTheUninstallRadioOnceItIsChecked) {
  Click(kUninstallRadio);
  SetFocus(Native(kSelectionNext));
  PressKey(VK_TAB);
  EXPECT_EQ(GetFocus(), Native(kUninstallRadio));
}

TEST_F(WizardEngine, ShiftTabWalksBackwards) {
  SetFocus(Native(kSelectionNext));
  PressKey(VK_TAB, true);
  EXPECT_EQ(GetFocus(), Native(kSelectionCancel));
  PressKey(VK_TAB, true);
  EXPECT_EQ(GetFocus(), Native(kInstallRadio));
}

TEST_F(WizardEngine, TabStaysOnTheVisiblePageAndSkipsTheDisabledDisclaimer) {
  ShowPageTwo();
  Write(kDisclaimerEdit, kPropertyVisible, 0);
  SetFocus(Native(kNicknameEdit));
  const ControlId pageTwo[] = {kGenderCombo, kNicknameEdit, kRegistrationCancel, kRegistrationNext};
  for (int i = 0; i < 8; ++i) {
    PressKey(VK_TAB);
    const HWND focus = GetFocus();
    bool onPageTwo = false;
    for (ControlId id : pageTwo) onPageTwo = onPageTwo || focus == Native(id);
    EXPECT_TRUE(onPageTwo) << i;
  }
}

// The arrow keys move between the two radio buttons of the selection page, both ways and round the
// end, and check the one they reach: the only way a keyboard chooses uninstall, since the unchecked
// radio button is no tab stop. Choosing raises no handler.
TEST_F(WizardEngine, ArrowKeysMoveBetweenTheRadioButtonsAndCheckThem) {
  constexpr PropertyIndex kChecked = 18;
  SetFocus(Native(kInstallRadio));
  const struct {
    WPARAM key;
    ControlId reached;
  } steps[] = {{VK_DOWN, kUninstallRadio},
               {VK_UP, kInstallRadio},
               {VK_RIGHT, kUninstallRadio},
               {VK_DOWN, kInstallRadio},
               {VK_LEFT, kUninstallRadio}};
  for (const auto& step : steps) {
    PressKey(step.key);
    SCOPED_TRACE(step.key);
    EXPECT_EQ(GetFocus(), Native(step.reached));
    EXPECT_EQ(Read(kUninstallRadio, kChecked), step.reached == kUninstallRadio ? 1 : 0);
    EXPECT_EQ(Read(kInstallRadio, kChecked), step.reached == kInstallRadio ? 1 : 0);
  }
  for (int calls : g_calls) EXPECT_EQ(calls, 0);
}

// In an edit box the arrow keys stay the box's own: they move the caret.
TEST_F(WizardEngine, ArrowKeysInTheNicknameBoxMoveTheCaret) {
  ShowPageTwo();
  Write(kDisclaimerEdit, kPropertyVisible, 0);
  SetWindowTextA(Native(kNicknameEdit), "abc");
  SetFocus(Native(kNicknameEdit));
  SendMessageA(Native(kNicknameEdit), EM_SETSEL, 3, 3);
  PressKey(VK_LEFT);
  DWORD start = 0;
  SendMessageA(Native(kNicknameEdit), EM_GETSEL, reinterpret_cast<WPARAM>(&start), 0);
  EXPECT_EQ(start, 2u);
  EXPECT_EQ(GetFocus(), Native(kNicknameEdit));
}

// Every control of the second page that takes input is reached by Tab within one round.
TEST_F(WizardEngine, TabReachesEveryInputControlOfTheSecondPage) {
  ShowPageTwo();
  Write(kDisclaimerEdit, kPropertyVisible, 0);
  SetFocus(Native(kRegistrationNext));
  std::vector<HWND> reached;
  for (int i = 0; i < 4; ++i) {
    PressKey(VK_TAB);
    reached.push_back(GetFocus());
  }
  for (ControlId id : {kNicknameEdit, kGenderCombo, kRegistrationCancel, kRegistrationNext}) {
    EXPECT_NE(std::find(reached.begin(), reached.end(), Native(id)), reached.end()) << std::hex << id;
  }
}

TEST_F(WizardEngine, EnterOnAFocusedButtonClicksIt) {
  SetFocus(Native(kSelectionNext));
  PressKey(VK_RETURN);
  EXPECT_EQ(g_calls[kSelectionNextSlot], 1);
}

TEST_F(WizardEngine, SpaceOnAFocusedButtonClicksIt) {
  SetFocus(Native(kSelectionCancel));
  PostMessageA(Native(kSelectionCancel), WM_KEYDOWN, VK_SPACE, 1);
  PostMessageA(Native(kSelectionCancel), WM_KEYUP, VK_SPACE, 0xC0000001);
  Pump();
  EXPECT_EQ(g_calls[kSelectionCancelSlot], 1);
}

TEST_F(WizardEngine, EnterInTheNicknameEditClicksNothing) {
  ShowPageTwo();
  Write(kDisclaimerEdit, kPropertyVisible, 0);
  SetFocus(Native(kNicknameEdit));
  PressKey(VK_RETURN);
  for (int calls : g_calls) EXPECT_EQ(calls, 0);
}

// Escape clicks the Cancel of the page that is shown (as the program binds it), never the hidden one's;
// Enter clicks the focused button. Each acts once per press: a key the system repeats while it is held
// does nothing more. A control that wants the key keeps it: in the open gender list Escape and Enter
// close the list and click nothing.
TEST_F(WizardEngine, EnterAndEscapeClickOncePerPressUnlessTheFocusWantsThem) {
  const ControlId cancels[] = {kSelectionCancel, kRegistrationCancel};
  SetEscapeButtons(kWindowId, cancels, 2);
  enum Scene { kPageOne, kPageTwo, kOpenList };
  const struct Case {
    const char* name;
    Scene scene;
    ControlId focus;
    WPARAM key;
    bool repeat;
    HandlerSlot clicked;  // kHandlerSlotCount: nothing
  } cases[] = {
      {"Escape on page one", kPageOne, kInstallRadio, VK_ESCAPE, false, kSelectionCancelSlot},
      {"Escape on page two", kPageTwo, kRegistrationNext, VK_ESCAPE, false, kRegistrationCancelSlot},
      {"Enter on a button", kPageOne, kSelectionNext, VK_RETURN, false, kSelectionNextSlot},
      {"Escape held down", kPageOne, kInstallRadio, VK_ESCAPE, true, kHandlerSlotCount},
      {"Enter held down", kPageTwo, kRegistrationNext, VK_RETURN, true, kHandlerSlotCount},
      {"Escape in the open list", kOpenList, kGenderCombo, VK_ESCAPE, false, kHandlerSlotCount},
      {"Enter in the open list", kOpenList, kGenderCombo, VK_RETURN, false, kHandlerSlotCount},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    Write(kRegistrationPanel, kPropertyVisible, c.scene != kPageOne);
    Write(kSelectionPanel, kPropertyVisible, c.scene == kPageOne);
    Write(kDisclaimerEdit, kPropertyVisible, c.scene != kOpenList);
    SetFocus(Native(c.focus));
    if (c.scene == kOpenList) SendMessageW(Native(kGenderCombo), CB_SHOWDROPDOWN, TRUE, 0);
    for (int& calls : g_calls) calls = 0;
    PressKey(c.key, false, c.repeat);
    for (int slot = 0; slot < static_cast<int>(kHandlerSlotCount); ++slot) {
      EXPECT_EQ(g_calls[slot], slot == static_cast<int>(c.clicked) ? 1 : 0) << slot;
    }
    if (c.scene == kOpenList) {
      EXPECT_EQ(SendMessageW(Native(kGenderCombo), CB_GETDROPPEDSTATE, 0, 0), 0);
    }
  }
}

// ---- Drag to move ----

// The message that ProcessMessage leaves in the queue for a left press on `target`, if any.
UINT MessageAfterPress(HWND target, WPARAM* wParam) {
  MSG press{};
  press.hwnd = target;
  press.message = WM_LBUTTONDOWN;
  press.wParam = MK_LBUTTON;
  press.lParam = MAKELPARAM(2, 2);
  GetCursorPos(&press.pt);
  ProcessMessage(press);
  MSG next{};
  if (!PeekMessageA(&next, nullptr, WM_NCLBUTTONDOWN, WM_NCLBUTTONDOWN, PM_REMOVE)) return 0;
  *wParam = next.wParam;
  return next.message;
}

TEST_F(WizardEngine, PressOnALabelOrTheWindowBecomesACaptionDrag) {
  WPARAM hit = 0;
  EXPECT_EQ(MessageAfterPress(Native(kSelectionPrompt), &hit), static_cast<UINT>(WM_NCLBUTTONDOWN));
  EXPECT_EQ(hit, static_cast<WPARAM>(HTCAPTION));
  EXPECT_EQ(MessageAfterPress(Main(), &hit), static_cast<UINT>(WM_NCLBUTTONDOWN));
}

TEST_F(WizardEngine, PressOnAPanelOrATransparentLabelIsNotADrag) {
  WPARAM hit = 0;
  EXPECT_EQ(MessageAfterPress(Native(kSelectionPanel), &hit), 0u);
  EXPECT_EQ(MessageAfterPress(Native(kTitleLabel), &hit), 0u);
}

// The window shows with its first page only: the second page's panel and its controls (every edit
// box and the combo box of the wizard) are made at the first property operation on one of them,
// hidden as stored, at the place in the stacking order they would have had: below the title band,
// above the first page's panel.
BOOL CALLBACK CollectClassName(HWND h, LPARAM context) {
  char name[64] = {};
  GetClassNameA(h, name, sizeof name);
  reinterpret_cast<std::vector<std::string>*>(context)->push_back(name);
  return TRUE;
}

std::vector<std::string> DescendantClasses(HWND parent) {
  std::vector<std::string> classes;
  EnumChildWindows(parent, CollectClassName, reinterpret_cast<LPARAM>(&classes));
  return classes;
}

TEST_F(WizardEngine, TheSecondPageIsMadeAtItsFirstUseInItsPlace) {
  EXPECT_EQ(Existing(kRegistrationPanel), nullptr);
  EXPECT_EQ(Existing(kNicknameEdit), nullptr);
  const std::vector<std::string> first = DescendantClasses(Main());
  EXPECT_EQ(first.size(), 8u);  // two bands, the first page's panel and its five controls
  for (const std::string& name : first) EXPECT_TRUE(name != "Edit" && name != "ComboBox") << name;

  EXPECT_EQ(ReadText(kNicknameEdit, kEditBoxContent), "");
  const HWND panel = Existing(kRegistrationPanel);
  ASSERT_NE(panel, nullptr);
  EXPECT_FALSE(IsWindowVisible(panel));
  EXPECT_EQ(GetParent(Existing(kNicknameEdit)), panel);
  EXPECT_EQ(DescendantClasses(Main()).size(), 18u);
  EXPECT_EQ(GetWindow(panel, GW_HWNDPREV), Existing(kTitleLabel));
  EXPECT_EQ(GetWindow(panel, GW_HWNDNEXT), Existing(kSelectionPanel));
  EXPECT_TRUE(IsWindowVisible(Existing(kSelectionPanel)));
}

// ---- Fatal errors and endings, in child processes ----

tpl::Bytes Variant(void (*change)(tpl::TemplateBlock&)) {
  tpl::TemplateBlock block = DescribeWizardWindow();
  change(block);
  return tpl::EncodeTemplateBlock(block);
}

void StartWith(const tpl::Bytes& block) {
  InitRuntime();
  LoadWindowTemplates(Templates(block));
  LoadWindow(kWindowId);
  RunMessageLoop();
  EndProgram(0);
}

ZV_CHILD_SCENARIO(CorruptedTemplate) {
  tpl::Bytes block = ShippedBlock();
  block[4 + 8 + 8 + 4 + 4 + 4 + 1] ^= 0x40;  // the section length now runs past the block
  StartWith(block);
}

ZV_CHILD_SCENARIO(KindVersionTooHigh) {
  StartWith(Variant([](tpl::TemplateBlock& b) { b.windows[0].units[1].kindData[0] = 3; }));
}

ZV_CHILD_SCENARIO(HandlerOutsideCodeBase) {
  StartWith(Variant([](tpl::TemplateBlock& b) {
    for (tpl::UnitRecord& unit : b.windows[0].units) {
      for (tpl::EventBinding& e : unit.events) e.handlerOffset = tpl::HandlerOffset(kHandlerSlotCount);
    }
  }));
}

ZV_CHILD_SCENARIO(ParentThatIsNotAUnit) {
  StartWith(Variant([](tpl::TemplateBlock& b) { b.windows[0].units[2].parent = 0x16019999; }));
}

ZV_CHILD_SCENARIO(LoadUnknownWindow) {
  InitRuntime();
  LoadWindowTemplates(Templates(ShippedBlock()));
  LoadWindow(kWindowId + 1);
}

ZV_CHILD_SCENARIO(RaiseOnUnknownWindow) {
  InitRuntime();
  EventRecord event;
  event.window = kWindowId;
  event.unit = kSelectionNext;
  RaiseEvent(event);
}

ZV_CHILD_SCENARIO(RaiseOnUnknownUnit) {
  InitRuntime();
  LoadWindowTemplates(Templates(ShippedBlock()));
  LoadWindow(kWindowId);
  EventRecord event;
  event.window = kWindowId;
  event.unit = 0x16019999;
  RaiseEvent(event);
}

ZV_CHILD_SCENARIO(ParentsInALoop) {
  StartWith(Variant([](tpl::TemplateBlock& b) {
    b.windows[0].units[2].parent = b.windows[0].units[3].id;
    b.windows[0].units[3].parent = b.windows[0].units[2].id;
  }));
}

// From now on every edit box fails to be created (a hook that refuses it); the second page starts
// with one. The report's own box has none.
LRESULT CALLBACK RefuseCreation(int code, WPARAM wp, LPARAM lp) {
  char name[16] = {};
  if (code == HCBT_CREATEWND && GetClassNameA(reinterpret_cast<HWND>(wp), name, sizeof name) > 0 &&
      lstrcmpiA(name, "Edit") == 0) {
    return 1;
  }
  return CallNextHookEx(nullptr, code, wp, lp);
}

ZV_CHILD_SCENARIO(SecondPageCannotBeMade) {
  InitRuntime();
  LoadWindowTemplates(Templates(ShippedBlock()));
  LoadWindow(kWindowId);
  SetWindowsHookExA(WH_CBT, RefuseCreation, nullptr, GetCurrentThreadId());
  WriteControlInt(kWindowId, kRegistrationPanel, kPropertyVisible, 1);
  EndProgram(0);
}

TEST(WindowLoading, CorruptedTemplateIsTheTemplateDataError) {
  ChildProcess child;
  StartScenario(child, "CorruptedTemplate");
  ExpectFatalBox(child, "载入窗口模板数据段出错!");
}

TEST(WindowLoading, HandlerOffsetOutsideTheCodeBaseIsTheTemplateDataError) {
  ChildProcess child;
  StartScenario(child, "HandlerOutsideCodeBase");
  ExpectFatalBox(child, "载入窗口模板数据段出错!");
}

TEST(WindowLoading, KindVersionAboveTheHighestFailsLoadWindow) {
  ChildProcess child;
  StartScenario(child, "KindVersionTooHigh");
  ExpectFatalBox(child, "载入启动窗口失败");
}

TEST(WindowLoading, ParentThatIsNotAUnitFailsLoadWindow) {
  ChildProcess child;
  StartScenario(child, "ParentThatIsNotAUnit");
  ExpectFatalBox(child, "载入启动窗口失败");
}

TEST(WindowLoading, ParentsInALoopFailLoadWindow) {
  ChildProcess child;
  StartScenario(child, "ParentsInALoop");
  ExpectFatalBox(child, "载入启动窗口失败");
}

// A page made later that cannot be made is the same fatal error as a window that cannot be.
TEST(WindowLoading, ASecondPageThatCannotBeMadeIsTheLoadingError) {
  ChildProcess child;
  StartScenario(child, "SecondPageCannotBeMade");
  MessageBox box = WaitForMessageBox(child.id());
  ASSERT_NE(box.window, nullptr);
  EXPECT_EQ(box.text, "运行时出错!\r\n\r\n错误信息：载入启动窗口失败\r\n");
  PressOk(box);
  EXPECT_EQ(child.Wait(), 0xFFFFFFFFu);
}

TEST(WindowLoading, MissingTemplateFailsLoadWindow) {
  ChildProcess child;
  StartScenario(child, "LoadUnknownWindow");
  ExpectFatalBox(child, "载入启动窗口失败");
}

TEST(EventErrors, EventOfAWindowThatIsNotLoadedIsFatal) {
  ChildProcess child;
  StartScenario(child, "RaiseOnUnknownWindow");
  ExpectFatalBox(child, "未找到引发事件的窗口");
}

TEST(EventErrors, EventOfAnUnknownUnitIsFatal) {
  ChildProcess child;
  StartScenario(child, "RaiseOnUnknownUnit");
  MessageBox box = WaitForMessageBox(child.id());
  EXPECT_EQ(box.text, "运行时出错!\r\n\r\n错误信息：未找到引发事件的窗口组件\r\n");
  PressOk(box);
  EXPECT_EQ(child.Wait(), 0xFFFFFFFFu);
}

// The exit routine appends one line to the file named on the command line.
std::string g_exitLog;
void LoggingExitRoutine() {
  std::string content = ReadWholeFile(g_exitLog);
  WriteWholeFile(g_exitLog, content + "exit\n");
}

ZV_CHILD_SCENARIO(StartAndLogExit) {
  g_exitLog = argv[argc - 1];
  InitRuntime();
  LoadWindowTemplates(Templates(ShippedBlock()));
  SetExitRoutine(&LoggingExitRoutine);
  LoadWindow(kWindowId);
  RunMessageLoop();
  EndProgram(0);
}

ZV_CHILD_SCENARIO(FatalAndLogExit) {
  g_exitLog = argv[argc - 1];
  InitRuntime();
  LoadWindowTemplates(Templates(ShippedBlock()));
  SetExitRoutine(&LoggingExitRoutine);
  ReadControlProperty(kWindowId, kNicknameEdit, kEditBoxContent);
}

HWND WaitForWizardWindow(DWORD processId) {
  for (int i = 0; i < 300; ++i) {
    std::vector<HWND> windows = TopLevelWindows(processId, kWindowClassName);
    if (!windows.empty()) return windows.front();
    Sleep(50);
  }
  return nullptr;
}

TEST(ProgramEnd, DestroyedWindowEndsWithZeroAndRunsTheExitRoutineOnce) {
  const std::string root = MakeTestRoot("engine_end");
  const std::string log = root + "\\exit.log";
  ChildProcess child;
  StartScenario(child, "StartAndLogExit", log);
  HWND window = WaitForWizardWindow(child.id());
  ASSERT_NE(window, nullptr);
  PostMessageA(window, WM_CLOSE, 0, 0);
  EXPECT_EQ(child.Wait(), 0u);
  EXPECT_EQ(ReadWholeFile(log), "exit\n");
  RemoveTree(root);
}

TEST(ProgramEnd, FatalErrorEndsWithMinusOneAndRunsTheExitRoutineOnce) {
  const std::string root = MakeTestRoot("engine_fatal");
  const std::string log = root + "\\exit.log";
  ChildProcess child;
  StartScenario(child, "FatalAndLogExit", log);
  MessageBox box = WaitForMessageBox(child.id());
  ASSERT_NE(box.window, nullptr);
  PressOk(box);
  EXPECT_EQ(child.Wait(), 0xFFFFFFFFu);
  EXPECT_EQ(ReadWholeFile(log), "exit\n");
  RemoveTree(root);
}

}  // namespace
}  // namespace zv::test
