// COM automation against the real shell object of the Windows Script Host: creation by type library,
// ProgID and CLSID, binding and calling members by name, argument and result conversion, and the
// status codes. Shortcuts written through it are read back with the shell's own link object.
#include <gtest/gtest.h>

#include <ole2.h>
#include <shlobj.h>

#include <string>

#include "runtime/Automation.h"
#include "runtime/Lifecycle.h"
#include "tests/support/WinTestSupport.h"

namespace zv {
namespace {

constexpr char kShellClsid[] = "{72C24DD5-D70A-438B-8A42-98424B88AFB8}";
constexpr char kShellLinkClsid[] = "{00021401-0000-0000-C000-000000000046}";

Value TextReference(Text* variable) {
  return Value::Pointer(variable, WithArrayOrReference(TypeFlag::Text));
}

// What a shortcut file holds, read with the shell's link object.
struct ShortcutContent {
  std::string target;
  std::string workingDirectory;
};
ShortcutContent ReadShortcut(const std::string& path) {
  ShortcutContent content;
  IShellLinkA* link = nullptr;
  if (FAILED(CoCreateInstance(CLSID_ShellLink, nullptr, CLSCTX_INPROC_SERVER, IID_IShellLinkA,
                              reinterpret_cast<void**>(&link)))) {
    return content;
  }
  IPersistFile* file = nullptr;
  wchar_t widePath[MAX_PATH];
  MultiByteToWideChar(CP_ACP, 0, path.c_str(), -1, widePath, MAX_PATH);
  if (SUCCEEDED(link->QueryInterface(IID_IPersistFile, reinterpret_cast<void**>(&file))) &&
      SUCCEEDED(file->Load(widePath, STGM_READ))) {
    char buffer[MAX_PATH] = {};
    link->GetPath(buffer, MAX_PATH, nullptr, SLGP_RAWPATH);
    content.target = buffer;
    link->GetWorkingDirectory(buffer, MAX_PATH);
    content.workingDirectory = buffer;
  }
  if (file != nullptr) file->Release();
  link->Release();
  return content;
}

class AutomationTest : public testing::Test {
 protected:
  void SetUp() override {
    InitRuntime();
    root_ = test::MakeTestRoot(testing::UnitTest::GetInstance()->current_test_info()->name());
  }
  void TearDown() override { test::RemoveTree(root_); }

  ObjectRecord NewShell() {
    ObjectRecord shell = ObjectRecord::New();
    EXPECT_TRUE(CreateAutomationObject(shell.get(), "WshShell", TextArg("wshom.ocx")));
    return shell;
  }
  ObjectRecord NewShortcut(const std::string& path) {
    ObjectRecord shell = NewShell();
    Text name = Text::Copy(path.c_str());
    ObjectRecord shortcut = CallObjectMethod(shell.get(), "CreateShortcut", {TextReference(&name)});
    EXPECT_FALSE(IsObjectEmpty(shortcut.get()));
    return shortcut;
  }

  std::string root_;
};

TEST_F(AutomationTest, ShellFromItsTypeLibraryWritesAShortcut) {
  const std::string target = root_ + "\\zvmain.exe";
  test::WriteWholeFile(target, "MZ");
  const std::string link = root_ + "\\Zorvik.lnk";

  ObjectRecord shell = ObjectRecord::New();
  ASSERT_TRUE(CreateAutomationObject(shell.get(), "WshShell", TextArg("wshom.ocx")));
  EXPECT_FALSE(IsObjectEmpty(shell.get()));
  Text name = Text::Copy(link.c_str());
  ObjectRecord shortcut = CallObjectMethod(shell.get(), "CreateShortcut", {TextReference(&name)});
  EXPECT_EQ(LastObjectError(), kObjectOk);
  ASSERT_FALSE(IsObjectEmpty(shortcut.get()));
  EXPECT_TRUE(SetObjectProperty(shortcut.get(), "TargetPath", {Value::Text(target.c_str())}));
  EXPECT_TRUE(SetObjectProperty(shortcut.get(), "WorkingDirectory", {Value::Text((root_ + "\\").c_str())}));
  EXPECT_TRUE(SetObjectProperty(shortcut.get(), "WindowStyle", {Value::Int(7)}));
  ObjectRecord saved = CallObjectMethod(shortcut.get(), "Save");  // performed; it returns nothing
  ASSERT_NE(saved.get(), nullptr);
  EXPECT_TRUE(IsObjectEmpty(saved.get()));

  ASSERT_TRUE(test::PathExists(link));
  const ShortcutContent content = ReadShortcut(link);
  EXPECT_EQ(content.target, target);
  EXPECT_EQ(content.workingDirectory, root_ + "\\");
  // The show command is not compared: Wine's link object reads every stored value back as 1.
}

TEST_F(AutomationTest, ProgIdAndClsidRoutes) {
  ObjectRecord object = ObjectRecord::New();
  EXPECT_TRUE(CreateAutomationObject(object.get(), "WScript.Shell"));
  EXPECT_FALSE(IsObjectEmpty(object.get()));
  ObjectRecord byClsid = ObjectRecord::New();
  EXPECT_TRUE(CreateAutomationObject(byClsid.get(), kShellClsid, TextArg("wshom.ocx")));
  EXPECT_FALSE(IsObjectEmpty(byClsid.get()));
}

TEST_F(AutomationTest, ClassNameOfATypeLibraryIsNoProgId) {
  ObjectRecord object = ObjectRecord::New();
  EXPECT_FALSE(CreateAutomationObject(object.get(), "WshShell"));
  EXPECT_FALSE(CreateAutomationObject(object.get(), "Zv.NoSuchClass", TextArg("wshom.ocx")));
  EXPECT_TRUE(IsObjectEmpty(object.get()));
}

TEST_F(AutomationTest, FailedCreationKeepsTheOldInterface) {
  ObjectRecord shell = NewShell();
  IUnknown* old = shell->unknown;
  EXPECT_FALSE(CreateAutomationObject(shell.get(), "Zv.NoSuchClass"));
  EXPECT_EQ(shell->unknown, old);
  Text name = Text::Copy((root_ + "\\a.lnk").c_str());
  EXPECT_FALSE(IsObjectEmpty(CallObjectMethod(shell.get(), "CreateShortcut", {TextReference(&name)}).get()));
}

TEST_F(AutomationTest, SuccessfulCreationReleasesTheOldInterface) {
  // A shortcut object counts its references (the shell object is one shared instance).
  ObjectRecord variable = NewShortcut(root_ + "\\a.lnk");
  IUnknown* old = variable->unknown;
  const ULONG before = old->AddRef();
  ASSERT_TRUE(CreateAutomationObject(variable.get(), "WScript.Shell"));
  EXPECT_NE(variable->unknown, old);
  EXPECT_EQ(old->AddRef(), before);  // the variable's reference is gone, ours remain
  old->Release();
  old->Release();
}

TEST_F(AutomationTest, ClearObjectEmptiesTheRecord) {
  ObjectRecord shell = NewShell();
  ClearObject(shell.get());
  EXPECT_TRUE(IsObjectEmpty(shell.get()));
  EXPECT_EQ(shell->recordData, nullptr);
}

TEST_F(AutomationTest, EmptyObjectIsStatusMinusOne) {
  ObjectRecord empty = ObjectRecord::New();
  EXPECT_FALSE(SetObjectProperty(empty.get(), "TargetPath", {Value::Text("x")}));
  EXPECT_EQ(LastObjectError(), kObjectEmpty);
  LastObjectError();
  ObjectRecord result = CallObjectMethod(empty.get(), "Save");
  EXPECT_EQ(LastObjectError(), kObjectEmpty);
  ASSERT_NE(result.get(), nullptr);
  EXPECT_TRUE(IsObjectEmpty(result.get()));
}

TEST_F(AutomationTest, ObjectWithoutDispatchIsStatusMinusTwo) {
  ObjectRecord link = ObjectRecord::New();
  ASSERT_TRUE(CreateAutomationObject(link.get(), kShellLinkClsid));
  EXPECT_FALSE(SetObjectProperty(link.get(), "TargetPath", {Value::Text("x")}));
  EXPECT_EQ(LastObjectError(), kObjectNoDispatch);
}

TEST_F(AutomationTest, UnknownMemberIsStatusMinusThree) {
  ObjectRecord shell = NewShell();
  ObjectRecord result = CallObjectMethod(shell.get(), "ZvNoSuchMember");
  EXPECT_EQ(LastObjectError(), kObjectMemberNotBound);
  EXPECT_TRUE(IsObjectEmpty(result.get()));
  EXPECT_FALSE(SetObjectProperty(shell.get(), "ZvNoSuchMember", {Value::Int(1)}));
  EXPECT_EQ(LastObjectError(), kObjectMemberNotBound);
}

TEST_F(AutomationTest, ReadOnlyPropertyCannotBeBoundForWriting) {
  ObjectRecord shortcut = NewShortcut(root_ + "\\a.lnk");
  EXPECT_FALSE(SetObjectProperty(shortcut.get(), "FullName", {Value::Text("x")}));
  EXPECT_EQ(LastObjectError(), kObjectMemberNotBound);
}

TEST_F(AutomationTest, WritingBindsAMethodWhenNoPropertyHasTheName) {
  const std::string link = root_ + "\\saved.lnk";
  ObjectRecord shortcut = NewShortcut(link);
  SetObjectProperty(shortcut.get(), "TargetPath", {Value::Text("C:\\windows\\notepad.exe")});
  EXPECT_TRUE(SetObjectProperty(shortcut.get(), "Save", {}));
  EXPECT_TRUE(test::PathExists(link));
}

TEST_F(AutomationTest, ReadingBindsAMethodWhenNoPropertyHasTheName) {
  SetEnvironmentVariableA("ZV_AUTOMATION_TEST", "abc");
  ObjectRecord shell = NewShell();
  const Value argument = Value::Text("%ZV_AUTOMATION_TEST%");
  Value result;
  ASSERT_EQ(InvokeByName(shell.get(), "ExpandEnvironmentStrings", &argument, 1, InvokeMode::ReadProperty,
                         TypeFlag::Text, &result),
            kObjectOk);
  Text expanded = Text::Adopt(result.AsPointer<char>());
  EXPECT_STREQ(expanded.c_str(), "abc");
}

TEST_F(AutomationTest, OneValueMoreThanThePropertyTakesIsStatusMinusFive) {
  ObjectRecord shortcut = NewShortcut(root_ + "\\a.lnk");
  EXPECT_FALSE(SetObjectProperty(shortcut.get(), "TargetPath", {Value::Text("a"), Value::Text("b")}));
  EXPECT_EQ(LastObjectError(), kObjectTooManyArguments);
}

TEST_F(AutomationTest, TrailingOmittedArgumentIsNotPassed) {
  ObjectRecord shortcut = NewShortcut(root_ + "\\a.lnk");
  EXPECT_TRUE(SetObjectProperty(shortcut.get(), "TargetPath", {Value::Text("C:\\a.exe"), Value(), Value()}));
  EXPECT_EQ(LastObjectError(), kObjectOk);
}

TEST_F(AutomationTest, ArgumentThatCannotBeConvertedIsStatusMinusSeven) {
  ObjectRecord shell = NewShell();
  static const unsigned char block[] = {1, 0, 0, 0, 1, 0, 0, 0, 'a'};
  CallObjectMethod(shell.get(), "ExpandEnvironmentStrings", {Value::Array(TypeFlag::ByteArray, block)});
  EXPECT_EQ(LastObjectError(), kObjectArgumentNotConvertible);
}

TEST_F(AutomationTest, TextsCrossTheComBoundaryInTheAnsiCodePage) {
  SetEnvironmentVariableA("ZV_AUTOMATION_TEST", "小明的配置");
  ObjectRecord shell = NewShell();
  const Value argument = Value::Text("%ZV_AUTOMATION_TEST%\\值");
  Value result;
  ASSERT_EQ(InvokeByName(shell.get(), "ExpandEnvironmentStrings", &argument, 1, InvokeMode::CallMethod,
                         TypeFlag::Text, &result),
            kObjectOk);
  Text expanded = Text::Adopt(result.AsPointer<char>());
  EXPECT_STREQ(expanded.c_str(), "小明的配置\\值");
}

TEST_F(AutomationTest, ResultThatCannotBeConvertedIsStatusMinusEightAndEmpty) {
  ObjectRecord shell = NewShell();
  const Value argument = Value::Text("not a number");
  Value result = Value::Int(99);
  EXPECT_EQ(InvokeByName(shell.get(), "ExpandEnvironmentStrings", &argument, 1, InvokeMode::CallMethod,
                         TypeFlag::Int, &result),
            kObjectResultNotConvertible);
  EXPECT_EQ(LastObjectError(), kObjectResultNotConvertible);
  EXPECT_EQ(result.type, TypeFlag::Int);
  EXPECT_EQ(result.AsInt(), 0);
}

TEST_F(AutomationTest, MissingRequiredArgumentIsReportedByInvoke) {
  ObjectRecord shell = NewShell();
  CallObjectMethod(shell.get(), "CreateShortcut");
  EXPECT_EQ(LastObjectError(), kObjectBadParamCount);
}

// An automation object of the test's own: its type information, built at run time, declares one
// method Exchange([in, out] BSTR* text, [in, out] long* number). Invoke checks that both arrive by
// reference, then replaces the text and doubles the number, as an output parameter would. A test can
// have it withhold its type information, or have Invoke answer with a given failure.
class ExchangeObject : public IDispatch {
 public:
  ExchangeObject() { typeInfo_ = BuildTypeInfo(); }
  ~ExchangeObject() {
    if (typeInfo_ != nullptr) typeInfo_->Release();
  }
  bool ready() const { return typeInfo_ != nullptr; }
  // A record holding this object, as CreateAutomationObject leaves one.
  AutomationObject Record() {
    AutomationObject object;
    object.unknown = this;
    AddRef();
    return object;
  }
  void WithholdTypeInfo() { withholdTypeInfo_ = true; }
  void AnswerInvoke(HRESULT answer) { invokeAnswer_ = answer; }

  HRESULT STDMETHODCALLTYPE QueryInterface(REFIID iid, void** out) override {
    if (iid != IID_IUnknown && iid != IID_IDispatch) {
      *out = nullptr;
      return E_NOINTERFACE;
    }
    *out = static_cast<IDispatch*>(this);
    AddRef();
    return S_OK;
  }
  ULONG STDMETHODCALLTYPE AddRef() override { return ++references_; }
  ULONG STDMETHODCALLTYPE Release() override { return --references_; }  // lives on the test's stack
  HRESULT STDMETHODCALLTYPE GetTypeInfoCount(UINT* count) override {
    *count = 1;
    return S_OK;
  }
  HRESULT STDMETHODCALLTYPE GetTypeInfo(UINT, LCID, ITypeInfo** info) override {
    if (withholdTypeInfo_) {
      *info = nullptr;
      return TYPE_E_ELEMENTNOTFOUND;
    }
    typeInfo_->AddRef();
    *info = typeInfo_;
    return S_OK;
  }
  HRESULT STDMETHODCALLTYPE GetIDsOfNames(REFIID, LPOLESTR*, UINT, LCID, DISPID*) override {
    return E_NOTIMPL;
  }
  HRESULT STDMETHODCALLTYPE Invoke(DISPID member, REFIID, LCID, WORD flags, DISPPARAMS* parameters, VARIANT*,
                                   EXCEPINFO*, UINT*) override {
    if (FAILED(invokeAnswer_)) return invokeAnswer_;
    if (member != 1 || flags != DISPATCH_METHOD || parameters->cArgs != 2) return DISP_E_BADPARAMCOUNT;
    VARIANTARG& text = parameters->rgvarg[1];  // the last argument comes first
    VARIANTARG& number = parameters->rgvarg[0];
    if (V_VT(&text) != (VT_BYREF | VT_BSTR) || V_VT(&number) != (VT_BYREF | VT_I4))
      return DISP_E_TYPEMISMATCH;
    SysFreeString(*V_BSTRREF(&text));
    *V_BSTRREF(&text) = SysAllocString(L"\u65b0\u503c");  // "新值"
    *V_I4REF(&number) *= 2;
    return S_OK;
  }

 private:
  static ITypeInfo* BuildTypeInfo() {
    ICreateTypeLib2* library = nullptr;
    if (FAILED(CreateTypeLib2(SYS_WIN32, const_cast<LPOLESTR>(L"zvexchange.tlb"), &library))) return nullptr;
    ICreateTypeInfo* creator = nullptr;
    ITypeInfo* info = nullptr;
    if (SUCCEEDED(library->CreateTypeInfo(const_cast<LPOLESTR>(L"IZvExchange"), TKIND_INTERFACE, &creator))) {
      TYPEDESC pointees[2] = {};
      pointees[0].vt = VT_BSTR;
      pointees[1].vt = VT_I4;
      ELEMDESC parameters[2] = {};
      for (int i = 0; i < 2; ++i) {
        parameters[i].tdesc.vt = VT_PTR;
        parameters[i].tdesc.lptdesc = &pointees[i];
        parameters[i].paramdesc.wParamFlags = PARAMFLAG_FIN | PARAMFLAG_FOUT;
      }
      FUNCDESC function = {};
      function.memid = 1;
      function.funckind = FUNC_PUREVIRTUAL;
      function.invkind = INVOKE_FUNC;
      function.callconv = CC_STDCALL;
      function.cParams = 2;
      function.lprgelemdescParam = parameters;
      function.elemdescFunc.tdesc.vt = VT_HRESULT;
      LPOLESTR names[] = {const_cast<LPOLESTR>(L"Exchange"), const_cast<LPOLESTR>(L"text"),
                          const_cast<LPOLESTR>(L"number")};
      if (SUCCEEDED(creator->AddFuncDesc(0, &function)) &&
          SUCCEEDED(creator->SetFuncAndParamNames(0, names, 3)) && SUCCEEDED(creator->LayOut())) {
        creator->QueryInterface(IID_ITypeInfo, reinterpret_cast<void**>(&info));
      }
      creator->Release();
    }
    library->Release();
    return info;
  }

  ITypeInfo* typeInfo_ = nullptr;
  bool withholdTypeInfo_ = false;
  HRESULT invokeAnswer_ = S_OK;
  ULONG references_ = 1;
};

// Calls Exchange on the object with two variables by reference; the status.
std::int32_t CallExchange(ExchangeObject& exchange) {
  AutomationObject object = exchange.Record();
  Text text = Text::Copy("x");
  std::int32_t number = 1;
  const Value references[] = {TextReference(&text),
                              Value::Pointer(&number, WithArrayOrReference(TypeFlag::Int))};
  Value result = Value::Int(7);
  const std::int32_t status =
      InvokeByName(&object, "Exchange", references, 2, InvokeMode::CallMethod, TypeFlag::Int, &result);
  EXPECT_EQ(status, LastObjectError());
  if (status != kObjectOk) {
    EXPECT_EQ(result.AsInt(), 0) << "a failed call leaves the empty result";
  }
  EXPECT_STREQ(text.c_str(), "x");  // nothing is written back from a failed call
  ClearObject(&object);
  return status;
}

TEST_F(AutomationTest, ObjectWithoutTypeInformationIsStatusMinusFour) {
  ExchangeObject exchange;
  ASSERT_TRUE(exchange.ready());
  exchange.WithholdTypeInfo();
  EXPECT_EQ(CallExchange(exchange), kObjectNoTypeInfo);
}

TEST_F(AutomationTest, EachFailureOfInvokeHasItsOwnStatus) {
  const struct {
    HRESULT answer;
    std::int32_t status;
  } cases[] = {
      {DISP_E_BADPARAMCOUNT, kObjectBadParamCount}, {DISP_E_BADVARTYPE, kObjectBadVarType},
      {DISP_E_EXCEPTION, kObjectException},         {DISP_E_MEMBERNOTFOUND, kObjectMemberNotFound},
      {DISP_E_NONAMEDARGS, kObjectNoNamedArgs},     {DISP_E_OVERFLOW, kObjectOverflow},
      {DISP_E_PARAMNOTFOUND, kObjectParamNotFound}, {DISP_E_TYPEMISMATCH, kObjectTypeMismatch},
      {DISP_E_PARAMNOTOPTIONAL, kObjectParamNotOptional}, {E_FAIL, kObjectInvokeFailed},
      {DISP_E_UNKNOWNNAME, kObjectInvokeFailed},    {E_OUTOFMEMORY, kObjectInvokeFailed},
  };
  for (const auto& c : cases) {
    ExchangeObject exchange;
    ASSERT_TRUE(exchange.ready());
    exchange.AnswerInvoke(c.answer);
    EXPECT_EQ(CallExchange(exchange), c.status) << std::hex << "Invoke answered 0x" << c.answer;
  }
}

TEST_F(AutomationTest, OutputParametersAreWrittenBackThroughReferences) {
  ExchangeObject exchange;
  ASSERT_TRUE(exchange.ready());
  AutomationObject object = exchange.Record();
  Text text = Text::Copy("旧值");
  std::int32_t number = 21;
  const Value references[] = {TextReference(&text),
                              Value::Pointer(&number, WithArrayOrReference(TypeFlag::Int))};
  EXPECT_EQ(
      InvokeByName(&object, "Exchange", references, 2, InvokeMode::CallMethod, TypeFlag::Omitted, nullptr),
      kObjectOk);
  EXPECT_STREQ(text.c_str(), "新值");
  EXPECT_EQ(number, 42);

  // Passed by value, the caller's variables are read only.
  const Value values[] = {Value::Text(text.c_str()), Value::Int(number)};
  EXPECT_EQ(InvokeByName(&object, "Exchange", values, 2, InvokeMode::CallMethod, TypeFlag::Omitted, nullptr),
            kObjectOk);
  EXPECT_STREQ(text.c_str(), "新值");
  EXPECT_EQ(number, 42);
  ClearObject(&object);
}

DWORD WINAPI ReadStatusOnAnotherThread(void* out) {
  auto* statuses = static_cast<std::int32_t*>(out);
  statuses[0] = LastObjectError();
  ObjectRecord empty = ObjectRecord::New();
  SetObjectProperty(empty.get(), "x", {Value::Int(1)});
  statuses[1] = LastObjectError();
  return 0;
}

TEST_F(AutomationTest, StatusIsKeptPerThread) {
  ObjectRecord shell = NewShell();
  CallObjectMethod(shell.get(), "ZvNoSuchMember");
  std::int32_t statuses[2] = {99, 99};
  HANDLE thread = CreateThread(nullptr, 0, ReadStatusOnAnotherThread, statuses, 0, nullptr);
  WaitForSingleObject(thread, 10000);
  CloseHandle(thread);
  EXPECT_EQ(statuses[0], kObjectOk);
  EXPECT_EQ(statuses[1], kObjectEmpty);
  EXPECT_EQ(LastObjectError(), kObjectMemberNotBound);
}

// Shows the shell's pop-up with the seconds and title omitted between the text and the type; ends
// with the button that closed it (IDOK 1), or 100 minus the status when the call failed.
ZV_CHILD_SCENARIO(PopupWithOmittedTitle) {
  InitRuntime();
  ObjectRecord shell = ObjectRecord::New();
  if (!CreateAutomationObject(shell.get(), "WshShell", TextArg("wshom.ocx"))) ExitProcess(90);
  const Value arguments[] = {Value::Text("zv popup"), Value(), Value(), Value::Int(0)};
  Value button;
  const std::int32_t status =
      InvokeByName(shell.get(), "Popup", arguments, 4, InvokeMode::CallMethod, TypeFlag::Int, &button);
  ExitProcess(status == kObjectOk ? static_cast<UINT>(button.AsInt()) : static_cast<UINT>(100 - status));
}

TEST(AutomationArguments, OmittedArgumentBetweenGivenOnesIsTheMissingMarker) {
  test::ChildProcess child;
  ASSERT_TRUE(child.StartScenario("PopupWithOmittedTitle"));
  test::MessageBox box = test::WaitForMessageBox(child.id());
  ASSERT_NE(box.window, nullptr);
  EXPECT_EQ(box.text, "zv popup");
  EXPECT_EQ(box.caption, "Windows Script Host");  // the title's default: it was passed as missing
  test::PressOk(box);
  EXPECT_EQ(child.Wait(), static_cast<DWORD>(IDOK));
}

// Creates the shell from the type library named without a path; exit code 0 when that worked.
ZV_CHILD_SCENARIO(CreateShellFromBareLibraryName) {
  InitRuntime();
  ObjectRecord shell = ObjectRecord::New();
  ExitProcess(CreateAutomationObject(shell.get(), "WshShell", TextArg("wshom.ocx")) ? 0 : 1);
}

TEST(AutomationTypeLibrary, BareNameIsNotTakenFromTheProgramFolder) {
  const std::string root = test::MakeTestRoot("planted_typelib");
  const std::string program = root + "\\zvsetup.exe";
  ASSERT_TRUE(CopyFileA(test::OwnProgramPath().c_str(), program.c_str(), FALSE));
  test::WriteWholeFile(root + "\\wshom.ocx", "not a type library");
  test::ChildProcess child;
  ASSERT_TRUE(child.Start("\"" + program + "\" --zv-child=CreateShellFromBareLibraryName", root));
  EXPECT_EQ(child.Wait(), 0u);
  test::RemoveTree(root);
}

}  // namespace
}  // namespace zv
