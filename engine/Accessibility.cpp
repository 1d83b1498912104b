// What a screen reader learns of the engine's controls. It asks a window for its object (WM_GETOBJECT)
// and otherwise builds the system's default one, which knows nothing of the engine's own classes and
// names an input control after the static text before it, which the engine's labels are not to the
// system. So a label (and a band) answers with an object of the engine's own: its caption as its name,
// the role of static text, read-only and not focusable (a panel too). The input controls keep the
// system's own objects, which UI Automation builds its text, caret, selection and list support on:
// they are named after the label level with them on their left, and given their help texts (a
// warning, a disclaimer on the button that accepts it), through the system's Dynamic Annotation.
// Where the system refuses an annotation for a control, that control answers with the engine's own
// object instead, with the same name and help text: an edit box as editable text with its text as its
// value (also when disabled), a combo box as a combo box.
//
// These objects are the program's own servers, not wrappers of the system's proxies: UI Automation
// takes an MSAA object of a program through its bridge, but refuses one that answers the system
// proxies' service query (IServiceProvider) and builds its own proxy instead, which knows neither the
// engine's labels nor the names of the inputs. So QueryInterface answers only what the object itself
// implements (IUnknown, IDispatch, IAccessible, IOleWindow with the control's window), all with one
// identity. What the engine does not answer itself (state, place, parent, children) it takes from the
// system's default object, which it keeps to itself and never hands out. The accessibility library is
// loaded at the first question, from the system directory, so that start-up does not pay for it.
#include <oleacc.h>

#include "engine/LiveWindow.h"
#include "runtime/DeclaredCalls.h"
#include "runtime/WideText.h"

namespace zv::engine {
namespace {

using CreateStdAccessibleObjectFn = HRESULT(WINAPI*)(HWND, LONG, REFIID, void**);
using LresultFromObjectFn = LRESULT(WINAPI*)(REFIID, WPARAM, LPUNKNOWN);

struct AccessibilityLibrary {
  CreateStdAccessibleObjectFn createDefault = nullptr;
  LresultFromObjectFn toResult = nullptr;
};

const AccessibilityLibrary& Library() {
  static AccessibilityLibrary library = [] {
    AccessibilityLibrary l;
    wchar_t path[MAX_PATH];
    HMODULE module = LibraryPathFor("oleacc.dll", path, MAX_PATH) ? LoadLibraryW(path) : nullptr;
    if (module != nullptr) {
      l.createDefault = reinterpret_cast<CreateStdAccessibleObjectFn>(
          reinterpret_cast<void*>(GetProcAddress(module, "CreateStdAccessibleObject")));
      l.toResult = reinterpret_cast<LresultFromObjectFn>(
          reinterpret_cast<void*>(GetProcAddress(module, "LresultFromObject")));
    }
    return l;
  }();
  return library;
}

// A window's text as a BSTR, as the window holds it (UTF-16); null for no window.
BSTR TextOf(HWND h) {
  if (h == nullptr || !IsWindow(h)) return nullptr;
  const int length = GetWindowTextLengthW(h);
  const WideText text = WideText::Allocate(static_cast<std::size_t>(length > 0 ? length : 0));
  const int got = GetWindowTextW(h, text.get(), length + 1);
  return SysAllocStringLen(text.c_str(), static_cast<UINT>(got > 0 ? got : 0));
}

// Whether the control itself is shown (its own style: a page not shown yet does not count).
bool IsShown(HWND h) {
  return h != nullptr && IsWindow(h) && (GetWindowLongW(h, GWL_STYLE) & WS_VISIBLE) != 0;
}

// IAccessible's description in the accessibility type library (registered with the system's
// oleacc.dll, which also carries it), loaded at the first question; null where there is none.
ITypeInfo* AccessibleTypeInfo() {
  static ITypeInfo* info = [] {
    ITypeLib* library = nullptr;
    if (FAILED(LoadRegTypeLib(LIBID_Accessibility, 1, 1, LOCALE_NEUTRAL, &library))) {
      wchar_t path[MAX_PATH];
      if (!LibraryPathFor("oleacc.dll", path, MAX_PATH) ||
          FAILED(LoadTypeLibEx(path, REGKIND_NONE, &library)))
        library = nullptr;
    }
    ITypeInfo* found = nullptr;
    if (library != nullptr) {
      if (FAILED(library->GetTypeInfoOfGuid(IID_IAccessible, &found))) found = nullptr;
      library->Release();
    }
    return found;  // kept for the program's life
  }();
  return info;
}

// What an engine object answers itself; the rest is the system's default object's.
struct Answers {
  HWND nameFrom = nullptr;  // the window whose text is the name
  LONG role = 0;            // 0: the default object's
  bool textValue = false;   // the control's own text is its value
  bool readOnly = false;    // static content: read-only and never focusable
  HWND helpFrom = nullptr;  // the window whose text is the help text while it is shown
};

bool IsSelf(const VARIANT& child) {
  return V_VT(&child) == VT_I4 && V_I4(&child) == CHILDID_SELF;
}

// The object of one control with answers of its own about the control itself (Answers). The rest is asked of
// the system's default object of the control (`inner_`), whose interfaces are never handed out.
class EngineAccessible final : public IAccessible, public IOleWindow {
 public:
  EngineAccessible(IAccessible* inner, HWND self, const Answers& answers)
      : inner_(inner), self_(self), answers_(answers) {}

  HRESULT STDMETHODCALLTYPE QueryInterface(REFIID riid, void** out) override {
    if (out == nullptr) return E_POINTER;
    if (riid == IID_IUnknown || riid == IID_IDispatch || riid == IID_IAccessible) {
      *out = static_cast<IAccessible*>(this);
    } else if (riid == IID_IOleWindow) {
      *out = static_cast<IOleWindow*>(this);
    } else {
      *out = nullptr;
      return E_NOINTERFACE;
    }
    AddRef();
    return S_OK;
  }
  ULONG STDMETHODCALLTYPE AddRef() override { return static_cast<ULONG>(InterlockedIncrement(&refs_)); }
  ULONG STDMETHODCALLTYPE Release() override {
    const LONG left = InterlockedDecrement(&refs_);
    if (left == 0) delete this;
    return static_cast<ULONG>(left);
  }

  // IOleWindow: the control's own window, which is how a client learns where the object lives.
  HRESULT STDMETHODCALLTYPE GetWindow(HWND* window) override {
    if (window == nullptr) return E_POINTER;
    *window = self_;
    return S_OK;
  }
  HRESULT STDMETHODCALLTYPE ContextSensitiveHelp(BOOL) override { return E_NOTIMPL; }

  // IDispatch, as the system's objects answer it: through IAccessible's description in the
  // accessibility type library, which calls this object's own IAccessible methods.
  HRESULT STDMETHODCALLTYPE GetTypeInfoCount(UINT* count) override {
    if (count == nullptr) return E_POINTER;
    *count = AccessibleTypeInfo() != nullptr ? 1 : 0;
    return S_OK;
  }
  HRESULT STDMETHODCALLTYPE GetTypeInfo(UINT index, LCID, ITypeInfo** info) override {
    if (info == nullptr) return E_POINTER;
    *info = index == 0 ? AccessibleTypeInfo() : nullptr;
    if (*info == nullptr) return index == 0 ? E_NOTIMPL : DISP_E_BADINDEX;
    (*info)->AddRef();
    return S_OK;
  }
  HRESULT STDMETHODCALLTYPE GetIDsOfNames(REFIID riid, LPOLESTR* names, UINT count, LCID,
                                          DISPID* ids) override {
    if (riid != IID_NULL) return DISP_E_UNKNOWNINTERFACE;
    ITypeInfo* info = AccessibleTypeInfo();
    return info != nullptr ? DispGetIDsOfNames(info, names, count, ids) : E_NOTIMPL;
  }
  HRESULT STDMETHODCALLTYPE Invoke(DISPID id, REFIID riid, LCID, WORD flags, DISPPARAMS* params,
                                   VARIANT* result, EXCEPINFO* exception, UINT* badArgument) override {
    if (riid != IID_NULL) return DISP_E_UNKNOWNINTERFACE;
    ITypeInfo* info = AccessibleTypeInfo();
    if (info == nullptr) return E_NOTIMPL;
    return info->Invoke(static_cast<IAccessible*>(this), id, flags, params, result, exception, badArgument);
  }

  HRESULT STDMETHODCALLTYPE get_accName(VARIANT child, BSTR* name) override {
    if (name != nullptr && answers_.nameFrom != nullptr && IsSelf(child)) {
      *name = TextOf(answers_.nameFrom);
      if (*name != nullptr) return S_OK;
    }
    return inner_->get_accName(child, name);
  }
  HRESULT STDMETHODCALLTYPE get_accRole(VARIANT child, VARIANT* role) override {
    if (role != nullptr && answers_.role != 0 && IsSelf(child)) {
      V_VT(role) = VT_I4;
      V_I4(role) = answers_.role;
      return S_OK;
    }
    return inner_->get_accRole(child, role);
  }
  HRESULT STDMETHODCALLTYPE get_accValue(VARIANT child, BSTR* value) override {
    if (value != nullptr && answers_.textValue && IsSelf(child)) {
      *value = TextOf(self_);
      if (*value != nullptr) return S_OK;
    }
    return inner_->get_accValue(child, value);
  }

  HRESULT STDMETHODCALLTYPE get_accParent(IDispatch** parent) override {
    return inner_->get_accParent(parent);
  }
  HRESULT STDMETHODCALLTYPE get_accChildCount(long* count) override {
    return inner_->get_accChildCount(count);
  }
  HRESULT STDMETHODCALLTYPE get_accChild(VARIANT child, IDispatch** out) override {
    return inner_->get_accChild(child, out);
  }
  HRESULT STDMETHODCALLTYPE get_accDescription(VARIANT child, BSTR* out) override {
    return inner_->get_accDescription(child, out);
  }
  HRESULT STDMETHODCALLTYPE get_accState(VARIANT child, VARIANT* out) override {
    const HRESULT asked = inner_->get_accState(child, out);
    if (SUCCEEDED(asked) && answers_.readOnly && IsSelf(child) && V_VT(out) == VT_I4) {
      V_I4(out) = (V_I4(out) | STATE_SYSTEM_READONLY) & ~(STATE_SYSTEM_FOCUSABLE | STATE_SYSTEM_FOCUSED);
    }
    return asked;
  }
  HRESULT STDMETHODCALLTYPE get_accHelp(VARIANT child, BSTR* out) override {
    if (out != nullptr && answers_.helpFrom != nullptr && IsSelf(child)) {
      *out = IsShown(answers_.helpFrom) ? TextOf(answers_.helpFrom) : nullptr;
      return *out != nullptr ? S_OK : S_FALSE;
    }
    return inner_->get_accHelp(child, out);
  }
  HRESULT STDMETHODCALLTYPE get_accHelpTopic(BSTR* file, VARIANT child, long* topic) override {
    return inner_->get_accHelpTopic(file, child, topic);
  }
  HRESULT STDMETHODCALLTYPE get_accKeyboardShortcut(VARIANT child, BSTR* out) override {
    return inner_->get_accKeyboardShortcut(child, out);
  }
  HRESULT STDMETHODCALLTYPE get_accFocus(VARIANT* out) override { return inner_->get_accFocus(out); }
  HRESULT STDMETHODCALLTYPE get_accSelection(VARIANT* out) override { return inner_->get_accSelection(out); }
  HRESULT STDMETHODCALLTYPE get_accDefaultAction(VARIANT child, BSTR* out) override {
    return inner_->get_accDefaultAction(child, out);
  }
  HRESULT STDMETHODCALLTYPE accSelect(long flags, VARIANT child) override {
    return inner_->accSelect(flags, child);
  }
  HRESULT STDMETHODCALLTYPE accLocation(long* x, long* y, long* width, long* height, VARIANT child) override {
    return inner_->accLocation(x, y, width, height, child);
  }
  HRESULT STDMETHODCALLTYPE accNavigate(long direction, VARIANT start, VARIANT* end) override {
    return inner_->accNavigate(direction, start, end);
  }
  HRESULT STDMETHODCALLTYPE accHitTest(long x, long y, VARIANT* child) override {
    return inner_->accHitTest(x, y, child);
  }
  HRESULT STDMETHODCALLTYPE accDoDefaultAction(VARIANT child) override {
    return inner_->accDoDefaultAction(child);
  }
  HRESULT STDMETHODCALLTYPE put_accName(VARIANT child, BSTR name) override {
    return inner_->put_accName(child, name);
  }
  HRESULT STDMETHODCALLTYPE put_accValue(VARIANT child, BSTR value) override {
    return inner_->put_accValue(child, value);
  }

 private:
  ~EngineAccessible() { inner_->Release(); }

  LONG refs_ = 1;
  IAccessible* inner_;
  HWND self_;
  Answers answers_;
};

// The label that names an input control: a label in the same parent whose box is level with the
// control's (their vertical spans overlap) and ends at or left of the control's left edge; the
// nearest such.
const LiveUnit* LabelOf(const LiveUnit& control) {
  const LiveWindow* window = FindLoadedWindowOf(control.hwnd);
  if (window == nullptr) return nullptr;
  const LiveUnit* best = nullptr;
  for (const LiveUnit& unit : window->units) {
    if (unit.kind() != tpl::KindId::Label && unit.kind() != tpl::KindId::TransLabel) continue;
    if (unit.record->parent != control.record->parent) continue;
    const bool level = unit.top < control.top + control.height && control.top < unit.top + unit.height;
    const int right = unit.left + unit.width;
    if (!level || right > control.left) continue;
    if (best == nullptr || right > best->left + best->width) best = &unit;
  }
  return best;
}

}  // namespace

bool AnswerGetObject(const LiveUnit& unit, WPARAM wp, LPARAM lp, LRESULT& result) {
  if (static_cast<LONG>(lp) != OBJID_CLIENT || unit.annotated) return false;  // annotated: the system's own
  Answers answers;
  LiveWindow* window = FindLoadedWindowOf(unit.hwnd);
  if (window != nullptr && unit.helpFrom != 0) {
    if (const LiveUnit* from = window->FindUnit(unit.helpFrom)) answers.helpFrom = from->hwnd;
  }
  switch (unit.kind()) {
    case tpl::KindId::Label:
    case tpl::KindId::TransLabel:
      answers.nameFrom = unit.hwnd;
      answers.role = ROLE_SYSTEM_STATICTEXT;
      answers.readOnly = true;
      break;
    case tpl::KindId::DrawPanel:
      answers.readOnly = true;
      break;
    case tpl::KindId::EditBox:
    case tpl::KindId::ComboBox:
      // The roles the system's objects give these classes on Windows, said here since this object
      // answers in their place.
      if (unit.kind() == tpl::KindId::EditBox) {
        answers.textValue = (GetWindowLongW(unit.hwnd, GWL_STYLE) & ES_PASSWORD) == 0;
        answers.role = ROLE_SYSTEM_TEXT;
      } else {
        answers.role = ROLE_SYSTEM_COMBOBOX;
      }
      if (const LiveUnit* label = LabelOf(unit)) answers.nameFrom = label->hwnd;
      break;
    case tpl::KindId::Button:
      if (answers.helpFrom == nullptr) return false;  // the system's own object says it all
      break;
    default:
      return false;
  }
  const AccessibilityLibrary& library = Library();
  if (library.createDefault == nullptr || library.toResult == nullptr) return false;
  IAccessible* inner = nullptr;
  if (FAILED(library.createDefault(unit.hwnd, OBJID_CLIENT, IID_IAccessible,
                                   reinterpret_cast<void**>(&inner))) ||
      inner == nullptr) {
    return false;
  }
  auto* object = new (std::nothrow) EngineAccessible(inner, unit.hwnd, answers);
  if (object == nullptr) {
    inner->Release();
    return false;
  }
  result = library.toResult(IID_IAccessible, wp, static_cast<IAccessible*>(object));
  object->Release();
  return true;
}

void ForgetAnnotations(LiveUnit& unit) {
  if (!unit.annotated) return;
  unit.annotated = false;
  IAccPropServices* services = nullptr;
  if (FAILED(CoCreateInstance(CLSID_AccPropServices, nullptr, CLSCTX_INPROC_SERVER, IID_IAccPropServices,
                              reinterpret_cast<void**>(&services)))) {
    return;
  }
  const MSAAPROPID both[] = {PROPID_ACC_NAME, PROPID_ACC_HELP};
  services->ClearHwndProps(unit.hwnd, OBJID_CLIENT, CHILDID_SELF, both, 2);
  services->Release();
}

void AnnotateControls(LiveWindow& window) {
  IAccPropServices* services = nullptr;
  for (LiveUnit& unit : window.units) {
    unit.annotated = false;
    if (unit.hwnd == nullptr) continue;
    const bool input = unit.kind() == tpl::KindId::EditBox || unit.kind() == tpl::KindId::ComboBox;
    const LiveUnit* label = input ? LabelOf(unit) : nullptr;
    const LiveUnit* help = unit.helpFrom != 0 ? window.FindUnit(unit.helpFrom) : nullptr;
    if (label == nullptr && help == nullptr) continue;  // nothing to say beyond the system's object
    // The service is made only when a control needs it, so that start-up does not pay for it.
    if (services == nullptr &&
        FAILED(CoCreateInstance(CLSID_AccPropServices, nullptr, CLSCTX_INPROC_SERVER, IID_IAccPropServices,
                                reinterpret_cast<void**>(&services)))) {
      return;  // every control keeps the engine's object
    }
    bool set = true;
    const MSAAPROPID helpId = PROPID_ACC_HELP;
    if (label != nullptr) {
      BSTR name = TextOf(label->hwnd);
      set = name != nullptr &&
            SUCCEEDED(services->SetHwndPropStr(unit.hwnd, OBJID_CLIENT, CHILDID_SELF, PROPID_ACC_NAME, name));
      SysFreeString(name);
    }
    if (set && help != nullptr) {
      if (IsShown(help->hwnd)) {
        BSTR text = TextOf(help->hwnd);
        set = text != nullptr &&
              SUCCEEDED(services->SetHwndPropStr(unit.hwnd, OBJID_CLIENT, CHILDID_SELF, helpId, text));
        SysFreeString(text);
      } else {
        set = SUCCEEDED(services->ClearHwndProps(unit.hwnd, OBJID_CLIENT, CHILDID_SELF, &helpId, 1));
      }
    }
    unit.annotated = set;
    if (!set) {
      // Half an annotation would mix with the engine's object: none at all.
      const MSAAPROPID both[] = {PROPID_ACC_NAME, PROPID_ACC_HELP};
      services->ClearHwndProps(unit.hwnd, OBJID_CLIENT, CHILDID_SELF, both, 2);
    }
  }
  if (services != nullptr) services->Release();
}

}  // namespace zv::engine

namespace zv {

void SetHelpText(WindowId windowId, ControlId control, ControlId from) {
  engine::LiveWindow* window = engine::FindLoadedWindow(windowId);
  engine::LiveUnit* unit = window != nullptr ? window->FindUnit(control) : nullptr;
  if (unit == nullptr || window->FindUnit(from) == nullptr) return;
  unit->helpFrom = from;
  if (unit->hwnd != nullptr) engine::AnnotateControls(*window);
}

}  // namespace zv
