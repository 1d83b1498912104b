// What a screen reader is told about the wizard window, asked as it asks: AccessibleObjectFromWindow
// for each control's client object, then its name, role and value. Under Wine the system's default
// objects name a window by its text and give every class but the edit box the role of a client area,
// so what is checked here is what the engine itself answers: the labels' and bands' names and roles,
// the input controls' names after their labels, the disclaimer's value; the system's own buttons and
// radio buttons keep their captions as names.
#include <oleacc.h>
#include <servprov.h>
#include <uiautomationcore.h>

#include <string>
#include <vector>

#include "tests/engine/WizardEngineFixture.h"
#include "tests/support/ImportHook.h"

namespace zv::test {
namespace {

// The wizard's texts are GBK; screen readers read UTF-16.
std::wstring Wide(const std::string& gbk) {
  std::wstring wide(gbk.size(), L'\0');
  const int length = MultiByteToWideChar(936, 0, gbk.data(), static_cast<int>(gbk.size()), wide.data(),
                                         static_cast<int>(wide.size()));
  wide.resize(length > 0 ? static_cast<std::size_t>(length) : 0);
  return wide;
}

std::string TextOf(HWND h) {
  char text[1024] = {};
  const int length = GetWindowTextA(h, text, sizeof text);
  return std::string(text, static_cast<std::size_t>(length));
}

struct Answer {
  bool found = false;
  std::wstring name;
  LONG role = 0;
  std::wstring value;
  std::wstring help;
  LONG state = 0;
  std::wstring dispatchedName;  // the name as IDispatch::Invoke gives it (a script's route)
  long automationType = 0;  // the control type UI Automation gives it through its MSAA bridge; 0: refused
  bool oneIdentity = true;  // each interface it hands out gives the same IUnknown; no proxy's service
  HWND window = nullptr;    // what IOleWindow answers
};

constexpr long kAutomationText = 50020, kAutomationEdit = 50004, kAutomationComboBox = 50003;

// UI Automation's view and COM identity of an object (under Wine the system's default objects of the
// other controls are proxies, which the bridge refuses).
void AskAsAutomation(IAccessible* object, Answer& answer) {
  using FromAccessible = HRESULT(WINAPI*)(IAccessible*, long, DWORD, IRawElementProviderSimple**);
  static const auto fromAccessible = reinterpret_cast<FromAccessible>(reinterpret_cast<void*>(
      GetProcAddress(LoadLibraryA("uiautomationcore.dll"), "UiaProviderFromIAccessible")));
  IRawElementProviderSimple* provider = nullptr;
  if (fromAccessible != nullptr && fromAccessible(object, CHILDID_SELF, 0, &provider) == S_OK) {
    VARIANT type;
    VariantInit(&type);
    provider->GetPropertyValue(30003, &type);  // UIA_ControlTypePropertyId
    answer.automationType = V_VT(&type) == VT_I4 ? V_I4(&type) : 0;
    provider->Release();
  }
  IUnknown *identity = nullptr, *via = nullptr, *itsIdentity = nullptr;
  object->QueryInterface(IID_IUnknown, reinterpret_cast<void**>(&identity));
  for (const IID* iid : {&IID_IDispatch, &IID_IAccessible, &IID_IOleWindow, &IID_IServiceProvider}) {
    if (FAILED(object->QueryInterface(*iid, reinterpret_cast<void**>(&via)))) continue;
    via->QueryInterface(IID_IUnknown, reinterpret_cast<void**>(&itsIdentity));
    answer.oneIdentity = answer.oneIdentity && itsIdentity == identity && *iid != IID_IServiceProvider;
    if (*iid == IID_IOleWindow) static_cast<IOleWindow*>(static_cast<void*>(via))->GetWindow(&answer.window);
    itsIdentity->Release();
    via->Release();
  }
  identity->Release();
}

Answer Ask(HWND h) {
  Answer answer;
  IAccessible* object = nullptr;
  if (FAILED(
          AccessibleObjectFromWindow(h, OBJID_CLIENT, IID_IAccessible, reinterpret_cast<void**>(&object))) ||
      object == nullptr) {
    return answer;
  }
  answer.found = true;
  VARIANT self;
  V_VT(&self) = VT_I4;
  V_I4(&self) = CHILDID_SELF;
  BSTR text = nullptr;
  if (SUCCEEDED(object->get_accName(self, &text)) && text != nullptr) answer.name = text;
  SysFreeString(text);
  text = nullptr;
  if (SUCCEEDED(object->get_accValue(self, &text)) && text != nullptr) answer.value = text;
  SysFreeString(text);
  text = nullptr;
  if (SUCCEEDED(object->get_accHelp(self, &text)) && text != nullptr) answer.help = text;
  SysFreeString(text);
  VARIANT role;
  VariantInit(&role);
  if (SUCCEEDED(object->get_accRole(self, &role)) && V_VT(&role) == VT_I4) answer.role = V_I4(&role);
  VariantClear(&role);
  if (SUCCEEDED(object->get_accState(self, &role)) && V_VT(&role) == VT_I4) answer.state = V_I4(&role);
  VariantClear(&role);
  DISPPARAMS arguments{&self, nullptr, 1, 0};
  VARIANT name;
  VariantInit(&name);
  if (SUCCEEDED(object->Invoke(DISPID_ACC_NAME, IID_NULL, LOCALE_USER_DEFAULT, DISPATCH_PROPERTYGET,
                               &arguments, &name, nullptr, nullptr)) &&
      V_VT(&name) == VT_BSTR && V_BSTR(&name) != nullptr) {
    answer.dispatchedName = V_BSTR(&name);
  }
  VariantClear(&name);
  AskAsAutomation(object, answer);
  object->Release();
  return answer;
}

struct Search {
  const wchar_t* className;
  std::vector<HWND> found;
};

BOOL CALLBACK CollectOfClass(HWND h, LPARAM lp) {
  auto* s = reinterpret_cast<Search*>(lp);
  wchar_t name[64] = {};
  GetClassNameW(h, name, 64);
  if (lstrcmpW(name, s->className) == 0) s->found.push_back(h);
  return TRUE;
}

std::vector<HWND> ChildrenOfClass(HWND parent, const wchar_t* className) {
  Search search{className, {}};
  EnumChildWindows(parent, CollectOfClass, reinterpret_cast<LPARAM>(&search));
  return search.found;
}

// Under Wine the system's default objects name a label by its text and give an edit box its text as
// its value, the answers the engine gives itself; Windows' may not. So that a test can tell the
// engine's own answers from the default's, the system's default object that the engine builds on
// can be made mute: while `g_muteDefaults` is set, the engine's CreateStdAccessibleObject (which it
// looks up with GetProcAddress at its first question) hands out the default object of a blank,
// hidden window instead, which has no name, no value and the role of a client area. The hook is
// in place before the first test, so that the engine's first lookup already goes through it.
bool g_muteDefaults = false;
int g_defaultsBuilt = 0;
using CreateStdAccessibleObjectFn = HRESULT(WINAPI*)(HWND, LONG, REFIID, void**);
CreateStdAccessibleObjectFn g_createDefault = nullptr;

HWND BlankWindow() {
  static HWND blank = CreateWindowExA(0, "Static", "", 0, 0, 0, 10, 10, nullptr, nullptr, nullptr, nullptr);
  return blank;
}

HRESULT WINAPI CreateMutableDefault(HWND h, LONG id, REFIID riid, void** out) {
  ++g_defaultsBuilt;
  return g_createDefault(g_muteDefaults ? BlankWindow() : h, id, riid, out);
}

FARPROC WINAPI GetProcAddressSeen(HMODULE module, LPCSTR name);
ImportHook g_lookups("GetProcAddress", reinterpret_cast<void*>(&GetProcAddressSeen));

FARPROC WINAPI GetProcAddressSeen(HMODULE module, LPCSTR name) {
  FARPROC found = g_lookups.original<decltype(&GetProcAddress)>()(module, name);
  if (found == nullptr || HIWORD(reinterpret_cast<ULONG_PTR>(name)) == 0 ||
      lstrcmpA(name, "CreateStdAccessibleObject") != 0) {
    return found;
  }
  g_createDefault = reinterpret_cast<CreateStdAccessibleObjectFn>(reinterpret_cast<void*>(found));
  return reinterpret_cast<FARPROC>(reinterpret_cast<void*>(&CreateMutableDefault));
}

using Accessibility = WizardEngine;

class AccessibilityWithMuteDefaults : public WizardEngine {
 protected:
  void SetUp() override {
    WizardEngine::SetUp();
    ASSERT_TRUE(g_lookups.ok());
    g_muteDefaults = true;
    g_defaultsBuilt = 0;
  }
  void TearDown() override {
    g_muteDefaults = false;
    WizardEngine::TearDown();
  }
};

// The labels' names and role, the input controls' names and the edit boxes' values are the engine's
// own answers: they stay when the default object beneath has none.
TEST_F(AccessibilityWithMuteDefaults, LabelsAreNamedStaticTextByTheEngineItself) {
  ShowPageTwo();
  for (ControlId id : {kTitleLabel, kFooterLabel, kSelectionPrompt, kNicknameLabel, kGenderLabel}) {
    SCOPED_TRACE(std::to_string(id));
    const Answer answer = Ask(Native(id));
    ASSERT_TRUE(answer.found);
    EXPECT_TRUE(answer.name == Wide(TextOf(Native(id))));
    EXPECT_FALSE(answer.name.empty());
    EXPECT_EQ(answer.role, ROLE_SYSTEM_STATICTEXT);
  }
  // The answers came from the engine's objects over the mute defaults.
  EXPECT_GT(g_defaultsBuilt, 0);
  IAccessible* blank = nullptr;
  ASSERT_TRUE(SUCCEEDED(
      g_createDefault(BlankWindow(), OBJID_CLIENT, IID_IAccessible, reinterpret_cast<void**>(&blank))));
  VARIANT self;
  V_VT(&self) = VT_I4;
  V_I4(&self) = CHILDID_SELF;
  BSTR name = nullptr;
  const HRESULT asked = blank->get_accName(self, &name);
  EXPECT_TRUE(FAILED(asked) || name == nullptr || SysStringLen(name) == 0);
  SysFreeString(name);
  blank->Release();
}

TEST_F(AccessibilityWithMuteDefaults, InputControlsAreNamedAndEditBoxesValuedByTheEngineItself) {
  ShowPageTwo();
  EXPECT_TRUE(Ask(Native(kNicknameEdit)).name == L"\u6635\u79f0\uff1a");  // 昵称：
  EXPECT_TRUE(Ask(Native(kGenderCombo)).name == L"\u6027\u522b\uff1a");   // 性别：
  const std::string disclaimer = TextOf(Native(kDisclaimerEdit));
  ASSERT_GT(disclaimer.size(), 20u);
  EXPECT_TRUE(Ask(Native(kDisclaimerEdit)).value == Wide(disclaimer));
  SetWindowTextA(Native(kNicknameEdit), "小明");
  EXPECT_TRUE(Ask(Native(kNicknameEdit)).value == Wide("小明"));
  EXPECT_GT(g_defaultsBuilt, 0);
}

// Every label and band, walked from the window: static text named by its caption, read-only and not
// focusable (as IDispatch tells it too); like the panels, it passes on a focus it is given.
TEST_F(Accessibility, EveryLabelAndBandIsStaticTextNamedByItsCaption) {
  ShowPageTwo();  // the second page's labels exist from its first showing on
  std::vector<HWND> labels = ChildrenOfClass(Main(), engine::kLabelClass);
  const std::vector<HWND> bands = ChildrenOfClass(Main(), engine::kTransLabelClass);
  EXPECT_EQ(labels.size(), 5u);
  EXPECT_EQ(bands.size(), 2u);
  labels.insert(labels.end(), bands.begin(), bands.end());
  const HWND focused = GetFocus();
  ASSERT_NE(focused, nullptr);
  for (HWND label : labels) {
    const std::string caption = TextOf(label);
    SCOPED_TRACE(std::to_string(GetDlgCtrlID(label)));
    ASSERT_FALSE(caption.empty());
    const Answer answer = Ask(label);
    ASSERT_TRUE(answer.found);
    EXPECT_TRUE(answer.name == Wide(caption));
    EXPECT_TRUE(answer.dispatchedName == answer.name);
    EXPECT_EQ(answer.role, ROLE_SYSTEM_STATICTEXT);
    EXPECT_EQ(answer.state & (STATE_SYSTEM_READONLY | STATE_SYSTEM_FOCUSABLE), STATE_SYSTEM_READONLY);
    EXPECT_EQ(answer.automationType, kAutomationText);
    EXPECT_TRUE(answer.oneIdentity);
    EXPECT_EQ(answer.window, label);
  }
  labels.push_back(Native(kRegistrationPanel));
  for (HWND text : labels) {
    SCOPED_TRACE(std::to_string(GetDlgCtrlID(text)));
    SetFocus(text);
    EXPECT_EQ(GetFocus(), focused);
  }
  EXPECT_EQ(Ask(Native(kRegistrationPanel)).state & (STATE_SYSTEM_READONLY | STATE_SYSTEM_FOCUSABLE),
            STATE_SYSTEM_READONLY);
  EXPECT_TRUE(Ask(Native(kNicknameLabel)).name == L"\u6635\u79f0\uff1a");  // 昵称：
  EXPECT_TRUE(Ask(Native(kTitleLabel)).name == L"Z O R V I K");
}

TEST_F(Accessibility, ALabelsNameFollowsItsCaption) {
  SetWindowTextA(Native(kSelectionPrompt), "请选择");
  EXPECT_TRUE(Ask(Native(kSelectionPrompt)).name == Wide("请选择"));
}

// The nickname edit box and the gender list take the name of the label level with them on their left.
TEST_F(Accessibility, InputControlsAreNamedAfterTheirLabels) {
  const Answer nickname = Ask(Native(kNicknameEdit));
  ASSERT_TRUE(nickname.found);
  EXPECT_TRUE(nickname.name == L"\u6635\u79f0\uff1a");  // 昵称：
  const Answer gender = Ask(Native(kGenderCombo));
  ASSERT_TRUE(gender.found);
  EXPECT_TRUE(gender.name == L"\u6027\u522b\uff1a");  // 性别：
  // UI Automation takes both, as an edit and a combo box, each object of one identity.
  EXPECT_EQ(nickname.automationType, kAutomationEdit);
  EXPECT_EQ(gender.automationType, kAutomationComboBox);
  EXPECT_TRUE(nickname.oneIdentity && gender.oneIdentity);
  // A label's new caption is the control's new name.
  SetWindowTextA(Native(kGenderLabel), "称呼：");
  EXPECT_TRUE(Ask(Native(kGenderCombo)).name == Wide("称呼："));
  // The warning under the inputs is the nickname box's help text; the disclaimer is page 2's Next's
  // while it shows, and no longer once it is gone.
  EXPECT_TRUE(nickname.help == Wide("以上信息注册后不可更改！！！"));
  EXPECT_TRUE(Ask(Native(kRegistrationNext)).help == Wide(TextOf(Native(kDisclaimerEdit))));
  EXPECT_TRUE(Ask(Native(kRegistrationNext)).name == Wide("下一步"));
  Write(kDisclaimerEdit, kPropertyVisible, 0);
  EXPECT_TRUE(Ask(Native(kRegistrationNext)).help.empty());
}

TEST_F(Accessibility, ButtonsAndRadioButtonsAreNamedByTheirCaptions) {
  for (ControlId id : {kSelectionNext, kSelectionCancel, kRegistrationNext, kRegistrationCancel,
                       kInstallRadio, kUninstallRadio}) {
    SCOPED_TRACE(std::to_string(id));
    const std::string caption = TextOf(Native(id));
    ASSERT_FALSE(caption.empty());
    EXPECT_TRUE(Ask(Native(id)).name == Wide(caption));
  }
  EXPECT_TRUE(Ask(Native(kInstallRadio)).name == L"\u5b89\u88c5");  // 安装
}

TEST_F(Accessibility, TheDisabledDisclaimerOffersItsTextAsItsValue) {
  ASSERT_FALSE(IsWindowEnabled(Native(kDisclaimerEdit)));
  const std::string text = TextOf(Native(kDisclaimerEdit));
  ASSERT_GT(text.size(), 20u);
  const Answer answer = Ask(Native(kDisclaimerEdit));
  ASSERT_TRUE(answer.found);
  EXPECT_TRUE(answer.value == Wide(text));
  // The nickname box offers what was typed, also what GBK has no character for.
  SetWindowTextW(Native(kNicknameEdit), L"\u5c0f\ud55c");  // 小한
  EXPECT_TRUE(Ask(Native(kNicknameEdit)).value == L"\u5c0f\ud55c");
}

// The system's annotation service as Windows offers it, standing in for Wine's (whose setters answer
// E_NOTIMPL): CoCreateInstance of the service hands out this object while `g_serviceStandsIn` is set,
// which records every annotation and answers S_OK, except for the property named in `g_failing`.
struct Annotation {
  HWND control;
  GUID property;
  std::wstring text;  // empty: cleared
};
std::vector<Annotation> g_annotations;
bool g_serviceStandsIn = false;
const GUID* g_failing = nullptr;

class StandInPropServices final : public IAccPropServices {
 public:
  HRESULT WINAPI QueryInterface(REFIID riid, void** out) override {
    *out = riid == IID_IUnknown || riid == IID_IAccPropServices ? this : nullptr;
    return *out != nullptr ? S_OK : E_NOINTERFACE;
  }
  ULONG WINAPI AddRef() override { return 2; }
  ULONG WINAPI Release() override { return 1; }
  HRESULT WINAPI SetHwndPropStr(HWND h, DWORD, DWORD, MSAAPROPID property, LPCWSTR text) override {
    if (g_failing != nullptr && property == *g_failing) return E_NOTIMPL;
    g_annotations.push_back({h, property, text});
    return S_OK;
  }
  HRESULT WINAPI ClearHwndProps(HWND h, DWORD, DWORD, const MSAAPROPID* properties, int count) override {
    for (int i = 0; i < count; ++i) g_annotations.push_back({h, properties[i], L""});
    return S_OK;
  }
  HRESULT WINAPI SetPropValue(const BYTE*, DWORD, MSAAPROPID, VARIANT) override { return E_NOTIMPL; }
  HRESULT WINAPI SetPropServer(const BYTE*, DWORD, const MSAAPROPID*, int, IAccPropServer*,
                               AnnoScope) override {
    return E_NOTIMPL;
  }
  HRESULT WINAPI ClearProps(const BYTE*, DWORD, const MSAAPROPID*, int) override { return E_NOTIMPL; }
  HRESULT WINAPI SetHwndProp(HWND, DWORD, DWORD, MSAAPROPID, VARIANT) override { return E_NOTIMPL; }
  HRESULT WINAPI SetHwndPropServer(HWND, DWORD, DWORD, const MSAAPROPID*, int, IAccPropServer*,
                                   AnnoScope) override {
    return E_NOTIMPL;
  }
  HRESULT WINAPI ComposeHwndIdentityString(HWND, DWORD, DWORD, BYTE**, DWORD*) override { return E_NOTIMPL; }
  HRESULT WINAPI DecomposeHwndIdentityString(const BYTE*, DWORD, HWND*, DWORD*, DWORD*) override {
    return E_NOTIMPL;
  }
  HRESULT WINAPI SetHmenuProp(HMENU, DWORD, MSAAPROPID, VARIANT) override { return E_NOTIMPL; }
  HRESULT WINAPI SetHmenuPropStr(HMENU, DWORD, MSAAPROPID, LPCWSTR) override { return E_NOTIMPL; }
  HRESULT WINAPI SetHmenuPropServer(HMENU, DWORD, const MSAAPROPID*, int, IAccPropServer*,
                                    AnnoScope) override {
    return E_NOTIMPL;
  }
  HRESULT WINAPI ClearHmenuProps(HMENU, DWORD, const MSAAPROPID*, int) override { return E_NOTIMPL; }
  HRESULT WINAPI ComposeHmenuIdentityString(HMENU, DWORD, BYTE**, DWORD*) override { return E_NOTIMPL; }
  HRESULT WINAPI DecomposeHmenuIdentityString(const BYTE*, DWORD, HMENU*, DWORD*) override {
    return E_NOTIMPL;
  }
};
StandInPropServices g_standInService;

HRESULT WINAPI CreateSeen(REFCLSID clsid, LPUNKNOWN outer, DWORD context, REFIID riid, void** out);
ImportHook g_creations("CoCreateInstance", reinterpret_cast<void*>(&CreateSeen));
HRESULT WINAPI CreateSeen(REFCLSID clsid, LPUNKNOWN outer, DWORD context, REFIID riid, void** out) {
  if (g_serviceStandsIn && clsid == CLSID_AccPropServices) return g_standInService.QueryInterface(riid, out);
  return g_creations.original<decltype(&CoCreateInstance)>()(clsid, outer, context, riid, out);
}

// The last annotation of `property` on the control; null: none.
const Annotation* LastAnnotation(HWND control, const GUID& property) {
  for (auto it = g_annotations.rbegin(); it != g_annotations.rend(); ++it) {
    if (it->control == control && it->property == property) return &*it;
  }
  return nullptr;
}

// Where the system's annotation service takes every name and help text of a control, the control keeps
// the system's own object (the one UI Automation builds its own edit and list support on), and the
// annotations follow the disclaimer and go with the window; where one of them fails, the engine's object
// answers for that control as before, with the name and help text it would have been given.
TEST_F(Accessibility, AnnotatedInputsKeepTheSystemsOwnObjects) {
  ASSERT_TRUE(g_creations.ok());
  const std::wstring warning = Wide("以上信息注册后不可更改！！！");
  const struct Scene {
    const char* name;
    const GUID* failing;
  } scenes[] = {{"every annotation taken", nullptr}, {"help texts refused", &PROPID_ACC_HELP}};
  for (const Scene& scene : scenes) {
    SCOPED_TRACE(scene.name);
    g_serviceStandsIn = true;
    g_failing = scene.failing;
    g_annotations.clear();
    if (engine::FindLoadedWindow(kWindowId) == nullptr) {
      LoadWindow(kWindowId);
      BindAsTheProgramDoes();
    }
    ShowPageTwo();  // page 2 is made, and annotated, now
    const std::wstring disclaimer = Wide(TextOf(Native(kDisclaimerEdit)));
    const struct Row {
      ControlId control;
      const GUID& property;
      std::wstring text;
    } rows[] = {{kNicknameEdit, PROPID_ACC_NAME, L"\u6635\u79f0\uff1a"},  // 昵称：
                {kNicknameEdit, PROPID_ACC_HELP, warning},
                {kGenderCombo, PROPID_ACC_NAME, L"\u6027\u522b\uff1a"},  // 性别：
                {kRegistrationNext, PROPID_ACC_HELP, disclaimer}};
    const bool taken = scene.failing == nullptr;
    for (const Row& row : rows) {
      const Annotation* last = LastAnnotation(Native(row.control), row.property);
      // A control with one refused annotation keeps none of its others.
      bool kept = true;
      for (const Row& other : rows)
        kept = kept && (taken || other.control != row.control || other.property != *scene.failing);
      EXPECT_TRUE(kept ? last != nullptr && last->text == row.text : last == nullptr || last->text.empty())
          << std::hex << row.control;
    }
    // The system's own object (a proxy that answers the service query) or the engine's.
    const Answer nickname = Ask(Native(kNicknameEdit));
    EXPECT_EQ(nickname.oneIdentity, !taken);
    EXPECT_FALSE(Ask(Native(kGenderCombo)).oneIdentity);  // its name was taken in both scenes
    if (!taken) {
      EXPECT_TRUE(nickname.name == L"\u6635\u79f0\uff1a");
      EXPECT_TRUE(nickname.help == warning);
    }
    Write(kDisclaimerEdit, kPropertyVisible, 0);
    const Annotation* help = LastAnnotation(Native(kRegistrationNext), PROPID_ACC_HELP);
    EXPECT_TRUE(help != nullptr && help->text.empty());  // cleared once the disclaimer is gone
    // A closed window leaves nothing behind in the service.
    const HWND gender = Native(kGenderCombo);
    DestroyWindow(Main());
    Pump();
    const Annotation* name = LastAnnotation(gender, PROPID_ACC_NAME);
    EXPECT_TRUE(name != nullptr && name->text.empty());
  }
  g_serviceStandsIn = false;
}

// High contrast as Windows reports it, answered through SystemParametersInfoW (Wine's answer is
// always off); the system colours are the prefix's.
bool g_highContrast = false;
BOOL WINAPI AnswerHighContrast(UINT action, UINT size, void* data, UINT flags);
ImportHook g_modeHook("SystemParametersInfoW", reinterpret_cast<void*>(&AnswerHighContrast));
BOOL WINAPI AnswerHighContrast(UINT action, UINT size, void* data, UINT flags) {
  if (action != SPI_GETHIGHCONTRAST)
    return g_modeHook.original<decltype(&SystemParametersInfoW)>()(action, size, data, flags);
  static_cast<HIGHCONTRASTW*>(data)->dwFlags = g_highContrast ? HCF_HIGHCONTRASTON : 0;
  return TRUE;
}

// Whether a pixel of `colour` lies in the rectangle (window coordinates) on the screen.
bool ShowsColour(HWND window, RECT area, COLORREF colour) {
  RECT w;
  GetWindowRect(window, &w);
  HDC screen = GetDC(nullptr);
  bool found = false;
  for (int y = area.top; y < area.bottom && !found; ++y) {
    for (int x = area.left; x < area.right && !found; ++x)
      found = GetPixel(screen, w.left + x, w.top + y) == colour;
  }
  ReleaseDC(nullptr, screen);
  return found;
}

// While the mode is on, the window and its bands draw window text on window, labels and panels button
// text on button face, and the window's outermost pixels are a line of window text (drawn by the window,
// the panel and the bands where they reach the edge); the window's size and the controls' places stay.
// A window opened with the mode already on draws so at once; a change is followed at once, both ways,
// and without the mode the template's colours are back and no edge is drawn.
TEST_F(Accessibility, HighContrastDrawsWithTheSystemsColourPairs) {
  ASSERT_TRUE(g_modeHook.ok());
  const COLORREF face = GetSysColor(COLOR_BTNFACE), buttonText = GetSysColor(COLOR_BTNTEXT);
  const COLORREF window = GetSysColor(COLOR_WINDOW), windowText = GetSysColor(COLOR_WINDOWTEXT);
  const COLORREF darkRed = RGB(128, 0, 0);
  ASSERT_NE(face, window);
  ASSERT_NE(windowText, face);
  const struct {
    const char* what;
    RECT area;
    COLORREF on, off;
  } cases[] = {{"window behind the bands", {2, 2, 3, 3}, window, darkRed},
               {"title band's text", {48, 0, 312, 30}, windowText, RGB(0, 255, 255)},
               {"prompt's text", {40, 54, 312, 86}, buttonText, RGB(0, 0, 255)},
               {"prompt's background", {41, 55, 42, 56}, face, face},
               {"top left corner, by the window", {0, 0, 1, 1}, windowText, darkRed},
               {"top edge, by the title band", {100, 0, 101, 1}, windowText, darkRed},
               {"left edge, by the panel", {0, 100, 1, 101}, windowText, face},
               {"right edge, by the panel", {359, 100, 360, 101}, windowText, face},
               {"bottom edge, by the footer band", {100, 243, 101, 244}, windowText, darkRed},
               {"inside the edge", {1, 100, 2, 101}, face, face}};
  RECT windowBefore, nextBefore;
  GetWindowRect(Main(), &windowBefore);
  GetWindowRect(Native(kSelectionNext), &nextBefore);
  const struct {
    const char* name;
    bool on;
    bool reopen;
  } scenes[] = {
      {"opened in high contrast", true, true}, {"switched off", false, false}, {"switched on", true, false}};
  for (const auto& scene : scenes) {
    g_highContrast = scene.on;
    if (scene.reopen) {
      DestroyWindow(Main());
      Pump();
      LoadWindow(kWindowId);
    } else {
      // What the system sends every top-level window when the mode or the colours change.
      SendMessageA(Main(), scene.on ? WM_SETTINGCHANGE : WM_SYSCOLORCHANGE,
                   scene.on ? SPI_SETHIGHCONTRAST : 0, 0);
    }
    UpdateWindow(Main());
    Pump();
    for (const auto& c : cases) {
      SCOPED_TRACE(std::string(c.what) + ", " + scene.name);
      EXPECT_TRUE(ShowsColour(Main(), c.area, scene.on ? c.on : c.off));
    }
    RECT windowNow, nextNow;
    GetWindowRect(Main(), &windowNow);
    GetWindowRect(Native(kSelectionNext), &nextNow);
    EXPECT_TRUE(EqualRect(&windowNow, &windowBefore) && EqualRect(&nextNow, &nextBefore)) << scene.name;
  }
}

// For scripts/screenshots: the wizard window in this process with the mode answered on and the
// system colours of the prefix's registry, until it is closed.
ZV_CHILD_SCENARIO(HighContrastWindow) {
  g_highContrast = true;
  InitRuntime();
  LoadWindowTemplates(Templates(ShippedBlock()));
  LoadWindow(kWindowId);
  RunMessageLoop();
}

// A procedure that another program part (an input method's or a tool's hook) put on the edit boxes as
// they were made, before the engine's own: it sees the characters typed.
WNDPROC g_editProcBefore = nullptr;
int g_charsSeenBefore = 0;
LRESULT CALLBACK SeeCharsFirst(HWND h, UINT message, WPARAM wp, LPARAM lp) {
  if (message == WM_CHAR) ++g_charsSeenBefore;
  return CallWindowProcW(g_editProcBefore, h, message, wp, lp);
}
LRESULT CALLBACK SubclassEditsAsMade(int code, WPARAM wp, LPARAM lp) {
  wchar_t name[16] = {};
  if (code == HCBT_CREATEWND && GetClassNameW(reinterpret_cast<HWND>(wp), name, 16) > 0 &&
      lstrcmpiW(name, L"Edit") == 0) {
    g_editProcBefore = reinterpret_cast<WNDPROC>(SetWindowLongPtrW(
        reinterpret_cast<HWND>(wp), GWLP_WNDPROC, reinterpret_cast<LONG_PTR>(&SeeCharsFirst)));
  }
  return CallNextHookEx(nullptr, code, wp, lp);
}

// Answering screen readers leaves the input controls working as before: typing reaches the edit box,
// and a procedure put on it before the engine's still sees what is typed (the engine's subclass chains
// to what was there rather than to the class's own procedure).
TEST_F(Accessibility, TheNicknameBoxStillTakesTyping) {
  const HHOOK hook = SetWindowsHookExW(WH_CBT, SubclassEditsAsMade, nullptr, GetCurrentThreadId());
  ShowPageTwo();  // the page is made now
  UnhookWindowsHookEx(hook);
  SetFocus(Native(kNicknameEdit));
  SendMessageA(Native(kNicknameEdit), WM_CHAR, 'a', 1);
  SendMessageA(Native(kNicknameEdit), WM_CHAR, 'b', 1);
  EXPECT_EQ(TextOf(Native(kNicknameEdit)), "ab");
  EXPECT_EQ(g_charsSeenBefore, 2);
  EXPECT_EQ(SendMessageA(Native(kGenderCombo), CB_GETCOUNT, 0, 0), 3);
}

}  // namespace
}  // namespace zv::test
