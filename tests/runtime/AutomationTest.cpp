// COM automation against the real shell object of the Windows Script Host: creation by type library,
// ProgID and CLSID, binding and calling members by name, argument and result conversion, and the
// status codes. Shortcuts written through it are read back with the shell's own link object.
#include <gtest/gtest.h>

#include <ole2.h>
#include <shlobj.h>

#include <string>
#include <vector>

#include "runtime/Automation.h"
#include "runtime/Heap.h"
#include "runtime/Lifecycle.h"
#include "tests/support/StackDispatch.h"
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
class ExchangeObject : public test::StackDispatch {
 public:
  ExchangeObject() { typeInfo_ = BuildTypeInfo(); }
  void WithholdTypeInfo() { withholdTypeInfo_ = true; }
  void AnswerInvoke(HRESULT answer) { invokeAnswer_ = answer; }

  HRESULT STDMETHODCALLTYPE GetTypeInfo(UINT index, LCID locale, ITypeInfo** info) override {
    if (withholdTypeInfo_) {
      *info = nullptr;
      return TYPE_E_ELEMENTNOTFOUND;
    }
    return StackDispatch::GetTypeInfo(index, locale, info);
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

  bool withholdTypeInfo_ = false;
  HRESULT invokeAnswer_ = S_OK;
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

// An automation object of the test's own whose dispatch type information, built at run time, holds
// every shape of member that the conversions meet. Its Invoke keeps what arrived, as the object saw
// it, and answers with what the test chose:
//   Receive([in] VARIANT value)           keeps the argument as it arrived
//   Give() -> VARIANT                      answers with the chosen variant
//   Peek([in] long* number)                an [in]-only reference; it writes 99 through it anyway
//   Swap([in, out] VARIANT* value)         keeps the argument, answers through it with the chosen one
//   Tally([in] DECIMAL* amount)            keeps the amount that the reference points at
//   Accrue([in, out] DECIMAL* amount)      keeps the amount, stores a new DECIMAL (amount + 1.25) through it
//   Mode                                   a property that can only be put, a long
//   Level (variable, long), Partner (variable, IDispatch)
class ProbeObject : public test::StackDispatch {
 public:
  enum Member : MEMBERID { kReceive = 1, kGive, kPeek, kSwap, kTally, kMode, kLevel, kPartner, kAccrue };

  ProbeObject() {
    VariantInit(&arrived_);
    VariantInit(&answer_);
    typeInfo_ = BuildTypeInfo();
  }
  ~ProbeObject() {
    VariantClear(&arrived_);
    VariantClear(&answer_);
  }
  // What Give and Swap answer with (the probe keeps its own copy).
  void Answer(const VARIANT& answer) {
    VariantClear(&answer_);
    VariantCopy(&answer_, const_cast<VARIANT*>(&answer));
  }

  // What the last Invoke saw.
  int calls = 0;
  MEMBERID member = DISPID_UNKNOWN;
  WORD flags = 0;
  UINT argumentCount = 0;
  UINT namedCount = 0;
  DISPID firstNamed = 0;
  VARTYPE arrivedType = VT_EMPTY;          // the argument's type as passed (with VT_BYREF when it was)
  VARIANT& arrived() { return arrived_; }  // its value, references resolved
  LONG peeked = 0;
  double tallied = 0;

  HRESULT STDMETHODCALLTYPE Invoke(DISPID memberId, REFIID, LCID, WORD invokeFlags, DISPPARAMS* parameters,
                                   VARIANT* result, EXCEPINFO*, UINT*) override {
    ++calls;
    member = memberId;
    flags = invokeFlags;
    argumentCount = parameters->cArgs;
    namedCount = parameters->cNamedArgs;
    firstNamed = parameters->cNamedArgs > 0 ? parameters->rgdispidNamedArgs[0] : 0;
    VariantClear(&arrived_);
    arrivedType = VT_EMPTY;
    if (parameters->cArgs == 0) {
      // Give, and reading a variable, answer with the chosen variant; nothing else goes without one.
      if (memberId != kGive && (invokeFlags & DISPATCH_PROPERTYGET) == 0) return DISP_E_BADPARAMCOUNT;
      return result != nullptr ? VariantCopy(result, &answer_) : S_OK;
    }
    VARIANTARG& argument = parameters->rgvarg[parameters->cArgs - 1];  // the first argument
    arrivedType = V_VT(&argument);
    switch (memberId) {
      case kPeek:
        if (V_VT(&argument) != (VT_BYREF | VT_I4)) return DISP_E_TYPEMISMATCH;
        peeked = *V_I4REF(&argument);
        *V_I4REF(&argument) = 99;
        return S_OK;
      case kTally:
        if (V_VT(&argument) != (VT_BYREF | VT_DECIMAL)) return DISP_E_TYPEMISMATCH;
        return VarR8FromDec(V_DECIMALREF(&argument), &tallied);
      case kAccrue: {
        if (V_VT(&argument) != (VT_BYREF | VT_DECIMAL)) return DISP_E_TYPEMISMATCH;
        if (FAILED(VarR8FromDec(V_DECIMALREF(&argument), &tallied))) return E_FAIL;
        DECIMAL next = {};  // a whole DECIMAL, its reserved word zero, as a callee builds one
        if (FAILED(VarDecFromR8(tallied + 1.25, &next))) return E_FAIL;
        *V_DECIMALREF(&argument) = next;
        return S_OK;
      }
      case kSwap:
        if (V_VT(&argument) != (VT_BYREF | VT_VARIANT)) return DISP_E_TYPEMISMATCH;
        VariantCopyInd(&arrived_, &argument);
        VariantClear(V_VARIANTREF(&argument));
        return VariantCopy(V_VARIANTREF(&argument), &answer_);
      default:
        return VariantCopyInd(&arrived_, &argument);
    }
  }

 private:
  static ITypeInfo* BuildTypeInfo() {
    ICreateTypeLib2* library = nullptr;
    if (FAILED(CreateTypeLib2(SYS_WIN32, const_cast<LPOLESTR>(L"zvprobe.tlb"), &library))) return nullptr;
    ICreateTypeInfo* creator = nullptr;
    ITypeInfo* info = nullptr;
    if (SUCCEEDED(library->CreateTypeInfo(const_cast<LPOLESTR>(L"IZvProbe"), TKIND_DISPATCH, &creator))) {
      if (AddMembers(creator) && SUCCEEDED(creator->LayOut())) {
        creator->QueryInterface(IID_ITypeInfo, reinterpret_cast<void**>(&info));
      }
      creator->Release();
    }
    library->Release();
    return info;
  }

  // One function: its id, kind, parameter (VT_EMPTY: none; pointee set: a reference to that type)
  // with its flags, result type and names.
  static bool AddFunction(ICreateTypeInfo* creator, UINT index, MEMBERID id, INVOKEKIND kind, VARTYPE type,
                          VARTYPE pointee, USHORT parameterFlags, VARTYPE resultType, const wchar_t* name) {
    TYPEDESC pointed = {};
    pointed.vt = pointee;
    ELEMDESC parameter = {};
    parameter.tdesc.vt = type;
    if (type == VT_PTR) parameter.tdesc.lptdesc = &pointed;
    parameter.paramdesc.wParamFlags = parameterFlags;
    FUNCDESC function = {};
    function.memid = id;
    function.funckind = FUNC_DISPATCH;
    function.invkind = kind;
    function.callconv = CC_STDCALL;
    function.cParams = type == VT_EMPTY ? 0 : 1;
    function.lprgelemdescParam = type == VT_EMPTY ? nullptr : &parameter;
    function.elemdescFunc.tdesc.vt = resultType;
    LPOLESTR names[] = {const_cast<LPOLESTR>(name), const_cast<LPOLESTR>(L"value")};
    // A property put names only the property: its value has no name of its own.
    const UINT nameCount = type == VT_EMPTY || kind == INVOKE_PROPERTYPUT ? 1 : 2;
    return SUCCEEDED(creator->AddFuncDesc(index, &function)) &&
           SUCCEEDED(creator->SetFuncAndParamNames(index, names, nameCount));
  }
  static bool AddVariable(ICreateTypeInfo* creator, UINT index, MEMBERID id, VARTYPE type,
                          const wchar_t* name) {
    VARDESC variable = {};
    variable.memid = id;
    variable.varkind = VAR_DISPATCH;
    variable.elemdescVar.tdesc.vt = type;
    return SUCCEEDED(creator->AddVarDesc(index, &variable)) &&
           SUCCEEDED(creator->SetVarName(index, const_cast<LPOLESTR>(name)));
  }
  static bool AddMembers(ICreateTypeInfo* creator) {
    constexpr USHORT in = PARAMFLAG_FIN;
    constexpr USHORT inOut = PARAMFLAG_FIN | PARAMFLAG_FOUT;
    return AddFunction(creator, 0, kReceive, INVOKE_FUNC, VT_VARIANT, VT_EMPTY, in, VT_VOID, L"Receive") &&
           AddFunction(creator, 1, kGive, INVOKE_FUNC, VT_EMPTY, VT_EMPTY, 0, VT_VARIANT, L"Give") &&
           AddFunction(creator, 2, kPeek, INVOKE_FUNC, VT_PTR, VT_I4, in, VT_VOID, L"Peek") &&
           AddFunction(creator, 3, kSwap, INVOKE_FUNC, VT_PTR, VT_VARIANT, inOut, VT_VOID, L"Swap") &&
           AddFunction(creator, 4, kTally, INVOKE_FUNC, VT_PTR, VT_DECIMAL, in, VT_VOID, L"Tally") &&
           AddFunction(creator, 5, kMode, INVOKE_PROPERTYPUT, VT_I4, VT_EMPTY, in, VT_VOID, L"Mode") &&
           AddFunction(creator, 6, kAccrue, INVOKE_FUNC, VT_PTR, VT_DECIMAL, inOut, VT_VOID, L"Accrue") &&
           AddVariable(creator, 0, kLevel, VT_I4, L"Level") &&
           AddVariable(creator, 1, kPartner, VT_DISPATCH, L"Partner");
  }

  VARIANT arrived_;
  VARIANT answer_;
};

// A probe, ready, in a record as CreateAutomationObject leaves one; released with the fixture.
class ProbeTest : public testing::Test {
 protected:
  void SetUp() override {
    InitRuntime();
    ASSERT_TRUE(probe_.ready()) << "the probe's type information could not be built";
    object_ = probe_.Record();
  }
  void TearDown() override { ClearObject(&object_); }
  // Calls `name` with the arguments in mode CallMethod, asking for `resultType`; the status.
  std::int32_t Call(const char* name, std::initializer_list<Value> arguments,
                    TypeFlag resultType = TypeFlag::Omitted, Value* result = nullptr) {
    return InvokeByName(&object_, name, arguments.begin(), arguments.size(), InvokeMode::CallMethod,
                        resultType, result);
  }

  ProbeObject probe_;
  AutomationObject object_;
};

TEST_F(ProbeTest, EveryArgumentTypeArrivesAsItsVariant) {
  ProbeObject other;
  ASSERT_TRUE(other.ready());
  AutomationObject otherRecord = other.Record();
  VARIANT variant;
  VariantInit(&variant);
  V_VT(&variant) = VT_I2;
  V_I2(&variant) = -12;
  const struct {
    Value argument;
    VARTYPE type;
    double number;  // the value as a double, where it is a number
  } cases[] = {
      {Value::Byte(200), VT_UI1, 200},
      {Value::Short(-300), VT_I2, -300},
      {Value::Int(-70000), VT_I4, -70000},
      {Value::Long((std::int64_t{5} << 32) | 7), VT_I4, 7},  // the low 32 bits
      {Value::Float(2.5f), VT_R4, 2.5},
      {Value::Double(-1.25), VT_R8, -1.25},
      {Value::Date(36526.5), VT_DATE, 36526.5},
      {Value::Pointer(&variant, TypeFlag::Variant), VT_I2, -12},
  };
  for (const auto& c : cases) {
    ASSERT_EQ(Call("Receive", {c.argument}), kObjectOk)
        << std::hex << static_cast<std::uint32_t>(c.argument.type);
    EXPECT_EQ(probe_.arrivedType, c.type) << std::hex << static_cast<std::uint32_t>(c.argument.type);
    VARIANT asDouble;
    VariantInit(&asDouble);
    ASSERT_EQ(VariantChangeType(&asDouble, &probe_.arrived(), 0, VT_R8), S_OK);
    EXPECT_EQ(V_R8(&asDouble), c.number) << std::hex << static_cast<std::uint32_t>(c.argument.type);
  }

  // A boolean: true is -1 (VARIANT_TRUE) for any nonzero value, false is 0.
  Value five = Value::Bool(true);
  five.low = 5;
  ASSERT_EQ(Call("Receive", {five}), kObjectOk);
  EXPECT_EQ(probe_.arrivedType, VT_BOOL);
  EXPECT_EQ(V_BOOL(&probe_.arrived()), VARIANT_TRUE);
  EXPECT_EQ(V_BOOL(&probe_.arrived()), -1);
  ASSERT_EQ(Call("Receive", {Value::Bool(false)}), kObjectOk);
  EXPECT_EQ(V_BOOL(&probe_.arrived()), 0);

  // A text crosses in the ANSI code page.
  ASSERT_EQ(Call("Receive", {Value::Text("小明")}), kObjectOk);
  ASSERT_EQ(probe_.arrivedType, VT_BSTR);
  EXPECT_STREQ(V_BSTR(&probe_.arrived()), L"\u5c0f\u660e");

  // An object arrives as its IDispatch.
  ASSERT_EQ(Call("Receive", {Value::Pointer(&otherRecord, TypeFlag::Object)}), kObjectOk);
  ASSERT_EQ(probe_.arrivedType, VT_DISPATCH);
  EXPECT_EQ(V_DISPATCH(&probe_.arrived()), static_cast<IDispatch*>(&other));
  VariantClear(&probe_.arrived());  // gives the probe's reference back

  ClearObject(&otherRecord);
  VariantClear(&variant);
}

TEST_F(ProbeTest, ArgumentsByReferenceAreReadThroughTheVariable) {
  std::uint8_t byte = 201;
  std::int16_t shortValue = -301;
  std::int32_t intValue = -70001;
  std::int64_t longValue = 8;
  float floatValue = 3.5f;
  double doubleValue = -2.25;
  std::int32_t boolValue = 7;
  Text text = Text::Copy("值");
  const struct {
    Value argument;
    VARTYPE type;
    double number;
  } cases[] = {
      {Value::Pointer(&byte, WithArrayOrReference(TypeFlag::Byte)), VT_UI1, 201},
      {Value::Pointer(&shortValue, WithArrayOrReference(TypeFlag::Short)), VT_I2, -301},
      {Value::Pointer(&intValue, WithArrayOrReference(TypeFlag::Int)), VT_I4, -70001},
      {Value::Pointer(&longValue, WithArrayOrReference(TypeFlag::Long)), VT_I4, 8},
      {Value::Pointer(&floatValue, WithArrayOrReference(TypeFlag::Float)), VT_R4, 3.5},
      {Value::Pointer(&doubleValue, WithArrayOrReference(TypeFlag::Double)), VT_R8, -2.25},
      {Value::Pointer(&doubleValue, WithArrayOrReference(TypeFlag::Date)), VT_DATE, -2.25},
      {Value::Pointer(&boolValue, WithArrayOrReference(TypeFlag::Bool)), VT_BOOL, -1},
  };
  for (const auto& c : cases) {
    ASSERT_EQ(Call("Receive", {c.argument}), kObjectOk)
        << std::hex << static_cast<std::uint32_t>(c.argument.type);
    EXPECT_EQ(probe_.arrivedType, c.type) << std::hex << static_cast<std::uint32_t>(c.argument.type);
    VARIANT asDouble;
    VariantInit(&asDouble);
    ASSERT_EQ(VariantChangeType(&asDouble, &probe_.arrived(), 0, VT_R8), S_OK);
    EXPECT_EQ(V_R8(&asDouble), c.number) << std::hex << static_cast<std::uint32_t>(c.argument.type);
  }
  ASSERT_EQ(Call("Receive", {TextReference(&text)}), kObjectOk);
  ASSERT_EQ(probe_.arrivedType, VT_BSTR);
  EXPECT_STREQ(V_BSTR(&probe_.arrived()), L"\u503c");
}

TEST_F(ProbeTest, EveryResultTypeIsConvertedFromTheVariant) {
  VARIANT answer;
  VariantInit(&answer);
  Value result;

  V_VT(&answer) = VT_BOOL;
  V_BOOL(&answer) = VARIANT_TRUE;
  probe_.Answer(answer);
  ASSERT_EQ(Call("Give", {}, TypeFlag::Bool, &result), kObjectOk);
  EXPECT_EQ(result.type, TypeFlag::Bool);
  EXPECT_EQ(result.AsInt(), 1);  // the runtime's true
  ASSERT_EQ(Call("Give", {}, TypeFlag::Int, &result), kObjectOk);
  EXPECT_EQ(result.AsInt(), -1);  // as a number, true is -1

  V_VT(&answer) = VT_I4;
  V_I4(&answer) = -5;
  probe_.Answer(answer);
  ASSERT_EQ(Call("Give", {}, TypeFlag::Long, &result), kObjectOk);
  EXPECT_EQ(result.type, TypeFlag::Long);
  EXPECT_EQ(result.AsLong(), -5);
  ASSERT_EQ(Call("Give", {}, TypeFlag::Short, &result), kObjectOk);
  EXPECT_EQ(result.type, TypeFlag::Short);
  EXPECT_EQ(static_cast<std::int16_t>(result.low), -5);
  ASSERT_EQ(Call("Give", {}, TypeFlag::Double, &result), kObjectOk);
  EXPECT_EQ(result.AsDouble(), -5.0);
  ASSERT_EQ(Call("Give", {}, TypeFlag::Text, &result), kObjectOk);
  EXPECT_STREQ(Text::Adopt(result.AsPointer<char>()).c_str(), "-5");

  V_I4(&answer) = 250;
  probe_.Answer(answer);
  ASSERT_EQ(Call("Give", {}, TypeFlag::Byte, &result), kObjectOk);
  EXPECT_EQ(result.type, TypeFlag::Byte);
  EXPECT_EQ(result.low, 250u);
  ASSERT_EQ(Call("Give", {}, TypeFlag::Float, &result), kObjectOk);
  EXPECT_EQ(result.AsFloat(), 250.0f);

  V_VT(&answer) = VT_DATE;
  V_DATE(&answer) = 36526.25;
  probe_.Answer(answer);
  ASSERT_EQ(Call("Give", {}, TypeFlag::Date, &result), kObjectOk);
  EXPECT_EQ(result.type, TypeFlag::Date);
  EXPECT_EQ(result.AsDouble(), 36526.25);

  V_VT(&answer) = VT_BSTR;
  V_BSTR(&answer) = SysAllocString(L"\u5c0f\u660e");
  probe_.Answer(answer);
  VariantClear(&answer);
  ASSERT_EQ(Call("Give", {}, TypeFlag::Text, &result), kObjectOk);
  EXPECT_STREQ(Text::Adopt(result.AsPointer<char>()).c_str(), "小明");
  ASSERT_EQ(Call("Give", {}, TypeFlag::Variant, &result), kObjectOk);
  auto* copy = result.AsPointer<VARIANT>();
  ASSERT_EQ(V_VT(copy), VT_BSTR);
  EXPECT_STREQ(V_BSTR(copy), L"\u5c0f\u660e");
  VariantClear(copy);
  heap::Free(copy);

  ProbeObject other;
  ASSERT_TRUE(other.ready());
  V_VT(&answer) = VT_DISPATCH;
  V_DISPATCH(&answer) = &other;
  probe_.Answer(answer);  // the probe holds a reference of its own
  ASSERT_EQ(Call("Give", {}, TypeFlag::Object, &result), kObjectOk);
  ObjectRecord record = ObjectRecord::Adopt(result.AsPointer<AutomationObject>());
  ASSERT_NE(record.get(), nullptr);
  EXPECT_EQ(record->unknown, static_cast<IUnknown*>(&other));
  VariantInit(&answer);
  probe_.Answer(answer);
}

TEST_F(ProbeTest, OutputParametersOfEveryTypeAreWrittenBack) {
  VARIANT answer;
  VariantInit(&answer);
  V_VT(&answer) = VT_I4;
  V_I4(&answer) = -6;
  probe_.Answer(answer);

  std::int16_t shortValue = 1;
  ASSERT_EQ(Call("Swap", {Value::Pointer(&shortValue, WithArrayOrReference(TypeFlag::Short))}), kObjectOk);
  EXPECT_EQ(V_I2(&probe_.arrived()), 1);  // what went in
  EXPECT_EQ(shortValue, -6);              // what came back
  std::int64_t longValue = 1;
  ASSERT_EQ(Call("Swap", {Value::Pointer(&longValue, WithArrayOrReference(TypeFlag::Long))}), kObjectOk);
  EXPECT_EQ(longValue, -6);
  double doubleValue = 1;
  ASSERT_EQ(Call("Swap", {Value::Pointer(&doubleValue, WithArrayOrReference(TypeFlag::Double))}), kObjectOk);
  EXPECT_EQ(doubleValue, -6.0);
  float floatValue = 1;
  ASSERT_EQ(Call("Swap", {Value::Pointer(&floatValue, WithArrayOrReference(TypeFlag::Float))}), kObjectOk);
  EXPECT_EQ(floatValue, -6.0f);
  Text text = Text::Copy("旧");
  ASSERT_EQ(Call("Swap", {TextReference(&text)}), kObjectOk);
  EXPECT_STREQ(V_BSTR(&probe_.arrived()), L"\u65e7");
  EXPECT_STREQ(text.c_str(), "-6");

  V_VT(&answer) = VT_BOOL;
  V_BOOL(&answer) = VARIANT_TRUE;
  probe_.Answer(answer);
  std::int32_t boolValue = 0;
  ASSERT_EQ(Call("Swap", {Value::Pointer(&boolValue, WithArrayOrReference(TypeFlag::Bool))}), kObjectOk);
  EXPECT_EQ(V_BOOL(&probe_.arrived()), VARIANT_FALSE);
  EXPECT_EQ(boolValue, 1);  // the runtime's true
  std::uint8_t byte = 0;
  V_VT(&answer) = VT_I4;
  V_I4(&answer) = 255;
  probe_.Answer(answer);
  ASSERT_EQ(Call("Swap", {Value::Pointer(&byte, WithArrayOrReference(TypeFlag::Byte))}), kObjectOk);
  EXPECT_EQ(byte, 255);
  V_VT(&answer) = VT_DATE;
  V_DATE(&answer) = 2.5;
  probe_.Answer(answer);
  double date = 0;
  ASSERT_EQ(Call("Swap", {Value::Pointer(&date, WithArrayOrReference(TypeFlag::Date))}), kObjectOk);
  EXPECT_EQ(date, 2.5);
}

TEST_F(ProbeTest, AnInOnlyReferenceIsNotWrittenBack) {
  std::int32_t number = 41;
  ASSERT_EQ(Call("Peek", {Value::Pointer(&number, WithArrayOrReference(TypeFlag::Int))}), kObjectOk);
  EXPECT_EQ(probe_.peeked, 41);  // it arrived by reference
  EXPECT_EQ(number, 41);         // and the probe's write through it stayed with the probe
}

TEST_F(ProbeTest, AReferenceToADecimalPointsAtTheWholeDecimal) {
  ASSERT_EQ(Call("Tally", {Value::Double(12.5)}), kObjectOk);
  EXPECT_EQ(probe_.arrivedType, VT_BYREF | VT_DECIMAL);
  EXPECT_EQ(probe_.tallied, 12.5);
  ASSERT_EQ(Call("Tally", {Value::Int(-70000)}), kObjectOk);
  EXPECT_EQ(probe_.tallied, -70000.0);
}

TEST_F(ProbeTest, ADecimalTheCalleeWritesThroughTheReferenceComesBack) {
  double amount = 10.5;
  ASSERT_EQ(Call("Accrue", {Value::Pointer(&amount, WithArrayOrReference(TypeFlag::Double))}), kObjectOk);
  EXPECT_EQ(probe_.arrivedType, VT_BYREF | VT_DECIMAL);
  EXPECT_EQ(probe_.tallied, 10.5);
  EXPECT_EQ(amount, 11.75);
  std::int32_t whole = -3;
  ASSERT_EQ(Call("Accrue", {Value::Pointer(&whole, WithArrayOrReference(TypeFlag::Int))}), kObjectOk);
  EXPECT_EQ(probe_.tallied, -3.0);
  EXPECT_EQ(whole, -2);  // -1.75, rounded as the conversion to a whole number rounds
}

TEST_F(ProbeTest, AVariableIsPutByValueAndAnObjectVariableByReference) {
  EXPECT_TRUE(SetObjectProperty(&object_, "Level", {Value::Int(5)}));
  EXPECT_EQ(probe_.member, ProbeObject::kLevel);
  EXPECT_EQ(probe_.flags, DISPATCH_PROPERTYPUT);
  EXPECT_EQ(probe_.argumentCount, 1u);
  EXPECT_EQ(probe_.namedCount, 1u);
  EXPECT_EQ(probe_.firstNamed, DISPID_PROPERTYPUT);
  EXPECT_EQ(probe_.arrivedType, VT_I4);
  EXPECT_EQ(V_I4(&probe_.arrived()), 5);

  ProbeObject partner;
  ASSERT_TRUE(partner.ready());
  AutomationObject partnerRecord = partner.Record();
  EXPECT_TRUE(SetObjectProperty(&object_, "Partner", {Value::Pointer(&partnerRecord, TypeFlag::Object)}));
  EXPECT_EQ(probe_.member, ProbeObject::kPartner);
  EXPECT_EQ(probe_.flags, DISPATCH_PROPERTYPUTREF);
  EXPECT_EQ(probe_.namedCount, 1u);
  EXPECT_EQ(probe_.firstNamed, DISPID_PROPERTYPUT);
  ASSERT_EQ(probe_.arrivedType, VT_DISPATCH);
  EXPECT_EQ(V_DISPATCH(&probe_.arrived()), static_cast<IDispatch*>(&partner));
  VariantClear(&probe_.arrived());
  ClearObject(&partnerRecord);

  // Read in the other modes, a variable is a property get without arguments.
  Value level;
  ASSERT_EQ(Call("Level", {}, TypeFlag::Omitted, &level), kObjectOk);
  EXPECT_EQ(probe_.flags, DISPATCH_PROPERTYGET);
  EXPECT_EQ(probe_.namedCount, 0u);
}

TEST_F(ProbeTest, APropertyPutWithoutAValueIsAStatusAndNoCall) {
  EXPECT_FALSE(SetObjectProperty(&object_, "Level", {}));
  EXPECT_EQ(LastObjectError(), kObjectBadParamCount);
  EXPECT_FALSE(SetObjectProperty(&object_, "Mode", {Value(), Value()}));  // omitted at the end: none
  EXPECT_EQ(LastObjectError(), kObjectBadParamCount);
  ObjectRecord none = CallObjectMethod(&object_, "Mode");  // bound as a put: the only kind it has
  EXPECT_EQ(LastObjectError(), kObjectBadParamCount);
  EXPECT_EQ(probe_.calls, 0) << "Invoke was called with a named argument and no arguments";

  EXPECT_TRUE(SetObjectProperty(&object_, "Mode", {Value::Int(3)}));
  EXPECT_EQ(probe_.calls, 1);
  EXPECT_EQ(probe_.flags, DISPATCH_PROPERTYPUT);
  EXPECT_EQ(V_I4(&probe_.arrived()), 3);
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

namespace zv {
namespace {

// ---- Type libraries of the test's own -------------------------------------------------------------

// Writes a type library file with its own identity (a fresh LIBID, version 1.0) holding one class
// named `className` whose CLSID is `clsid`: creating that class through the library creates that
// object. The library's identity, or GUID_NULL when it could not be written.
GUID WriteTypeLibrary(const std::string& path, const wchar_t* className, const char* clsid) {
  GUID libraryId = GUID_NULL;
  GUID classId = GUID_NULL;
  wchar_t wideClsid[64] = {};
  MultiByteToWideChar(CP_ACP, 0, clsid, -1, wideClsid, 64);
  wchar_t widePath[MAX_PATH] = {};
  MultiByteToWideChar(CP_ACP, 0, path.c_str(), -1, widePath, MAX_PATH);
  if (FAILED(CoCreateGuid(&libraryId)) || FAILED(CLSIDFromString(wideClsid, &classId))) return GUID_NULL;
  ICreateTypeLib2* library = nullptr;
  if (FAILED(CreateTypeLib2(SYS_WIN32, widePath, &library))) return GUID_NULL;
  bool ok = SUCCEEDED(library->SetGuid(libraryId)) && SUCCEEDED(library->SetVersion(1, 0)) &&
            SUCCEEDED(library->SetLcid(LOCALE_NEUTRAL)) &&
            SUCCEEDED(library->SetName(const_cast<LPOLESTR>(L"ZvProbeLibrary")));
  ICreateTypeInfo* creator = nullptr;
  ok = ok && SUCCEEDED(library->CreateTypeInfo(const_cast<LPOLESTR>(className), TKIND_COCLASS, &creator));
  if (creator != nullptr) {
    ok = ok && SUCCEEDED(creator->SetGuid(classId)) &&
         SUCCEEDED(creator->SetTypeFlags(TYPEFLAG_FCANCREATE)) && SUCCEEDED(creator->LayOut());
    creator->Release();
  }
  ok = ok && SUCCEEDED(library->SaveAllChanges());
  library->Release();
  return ok ? libraryId : GUID_NULL;
}

// The path under which a type library is registered for 32-bit programs ("" when it is not).
std::string RegisteredPath(const GUID& libraryId) {
  wchar_t wide[64] = {};
  StringFromGUID2(libraryId, wide, 64);
  char id[64] = {};
  WideCharToMultiByte(CP_ACP, 0, wide, -1, id, sizeof id, nullptr, nullptr);
  const std::string key = std::string("TypeLib\\") + id + "\\1.0\\0\\win32";
  char value[MAX_PATH] = {};
  LONG size = sizeof value;
  if (RegQueryValueA(HKEY_CLASSES_ROOT, key.c_str(), value, &size) != ERROR_SUCCESS) return "";
  return value;
}

void Unregister(const GUID& libraryId) {
  UnRegisterTypeLib(libraryId, 1, 0, LOCALE_NEUTRAL, SYS_WIN32);
  wchar_t wide[64] = {};
  StringFromGUID2(libraryId, wide, 64);
  char id[64] = {};
  WideCharToMultiByte(CP_ACP, 0, wide, -1, id, sizeof id, nullptr, nullptr);
  RegDeleteTreeA(HKEY_CLASSES_ROOT, (std::string("TypeLib\\") + id).c_str());
}

// The object holds an interface with IDispatch (the shell object does; a shell link does not).
bool HasDispatch(const AutomationObject* object) {
  if (object->unknown == nullptr) return false;
  IDispatch* dispatch = nullptr;
  if (FAILED(object->unknown->QueryInterface(IID_IDispatch, reinterpret_cast<void**>(&dispatch))))
    return false;
  dispatch->Release();
  return true;
}

class TypeLibraryTest : public testing::Test {
 protected:
  void SetUp() override {
    InitRuntime();
    root_ = test::MakeTestRoot(testing::UnitTest::GetInstance()->current_test_info()->name());
    char system[MAX_PATH] = {};
    GetSystemDirectoryA(system, MAX_PATH);
    system_ = system;
  }
  void TearDown() override {
    for (const GUID& id : registered_) Unregister(id);
    for (const std::string& file : systemFiles_) DeleteFileA(file.c_str());
    test::RemoveTree(root_);
  }
  // A library with the shell object's class under `className`, at `path`; unregistered afterwards.
  GUID ShellLibrary(const std::string& path, const wchar_t* className = L"ZvProbeShell",
                    const char* clsid = kShellClsid) {
    const GUID id = WriteTypeLibrary(path, className, clsid);
    EXPECT_NE(id, GUID_NULL) << "could not write " << path;
    registered_.push_back(id);
    return id;
  }
  // The same in the system directory, under `name`; removed afterwards.
  GUID SystemShellLibrary(const std::string& name) {
    systemFiles_.push_back(system_ + "\\" + name);
    return ShellLibrary(system_ + "\\" + name);
  }

  std::string root_;
  std::string system_;
  std::vector<GUID> registered_;
  std::vector<std::string> systemFiles_;
};

TEST_F(TypeLibraryTest, OnlyALibraryNamedByAPathIsRegistered) {
  // By its full path: created through it, and registered under that path.
  const std::string full = root_ + "\\zvprobe.tlb";
  const GUID byPath = ShellLibrary(full);
  ObjectRecord object = ObjectRecord::New();
  ASSERT_TRUE(CreateAutomationObject(object.get(), "ZvProbeShell", TextArg(full.c_str())));
  EXPECT_TRUE(HasDispatch(object.get()));
  EXPECT_EQ(RegisteredPath(byPath), full);

  // By a bare name, from the system directory: created, not registered.
  const std::string bare = "zvprobe" + std::to_string(GetCurrentProcessId()) + ".tlb";
  const GUID byName = SystemShellLibrary(bare);
  ObjectRecord second = ObjectRecord::New();
  ASSERT_TRUE(CreateAutomationObject(second.get(), "ZvProbeShell", TextArg(bare.c_str())));
  EXPECT_EQ(RegisteredPath(byName), "");

  // A bare name holding "誠" (D5 5C in GBK): still a bare name, so the same.
  const std::string doubleByte = "zv誠" + std::to_string(GetCurrentProcessId()) + ".tlb";
  const GUID byDoubleByteName = SystemShellLibrary(doubleByte);
  ObjectRecord third = ObjectRecord::New();
  ASSERT_TRUE(CreateAutomationObject(third.get(), "ZvProbeShell", TextArg(doubleByte.c_str())));
  EXPECT_EQ(RegisteredPath(byDoubleByteName), "");
}

TEST_F(TypeLibraryTest, AClassNameInBracesNeverLoadsATypeLibrary) {
  // The library names a class after the shell object's CLSID but makes a shell link (which has no
  // IDispatch): were the library loaded, the wrong object would come of it, and the library would be
  // registered.
  const std::string full = root_ + "\\zvbraces.tlb";
  const GUID id = ShellLibrary(full, L"{72C24DD5-D70A-438B-8A42-98424B88AFB8}", kShellLinkClsid);
  ObjectRecord object = ObjectRecord::New();
  ASSERT_TRUE(CreateAutomationObject(object.get(), kShellClsid, TextArg(full.c_str())));
  EXPECT_TRUE(HasDispatch(object.get())) << "the object came from the type library";
  EXPECT_EQ(RegisteredPath(id), "");
}

// Creates the probe's class from the type library named by the last argument after making the
// second-last the current directory; exit code 0 when it was created, 1 when not.
ZV_CHILD_SCENARIO(CreateFromRelativeLibrary) {
  InitRuntime();
  SetCurrentDirectoryA(argv[argc - 2]);
  ObjectRecord object = ObjectRecord::New();
  ExitProcess(CreateAutomationObject(object.get(), "ZvProbeShell", TextArg(argv[argc - 1])) ? 0 : 1);
}

TEST_F(TypeLibraryTest, ARelativePathIsTakenFromTheProgramsFolderNeverTheCurrentOne) {
  const std::string program = root_ + "\\prog";
  const std::string current = root_ + "\\current";
  for (const std::string& folder : {program, current, program + "\\sub", current + "\\sub"})
    ASSERT_TRUE(CreateDirectoryA(folder.c_str(), nullptr));
  ASSERT_TRUE(CopyFileA(test::OwnProgramPath().c_str(), (program + "\\zvtlb.exe").c_str(), FALSE));
  const std::string command = "\"" + program + "\\zvtlb.exe\" --zv-child=CreateFromRelativeLibrary \"" +
                              current + "\" \"sub\\zvprobe.tlb\"";

  // Only in the current directory: not found.
  const GUID inCurrent = ShellLibrary(current + "\\sub\\zvprobe.tlb");
  test::ChildProcess first;
  ASSERT_TRUE(first.Start(command, program));
  EXPECT_EQ(first.Wait(), 1u);
  EXPECT_EQ(RegisteredPath(inCurrent), "");

  // Beside the program: found, and registered under its full path.
  const GUID inProgram = ShellLibrary(program + "\\sub\\zvprobe.tlb");
  test::ChildProcess second;
  ASSERT_TRUE(second.Start(command, program));
  EXPECT_EQ(second.Wait(), 0u);
  EXPECT_EQ(RegisteredPath(inProgram), program + "\\sub\\zvprobe.tlb");
  EXPECT_EQ(RegisteredPath(inCurrent), "");
}

}  // namespace
}  // namespace zv
