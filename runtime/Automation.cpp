// COM automation on IDispatch with late binding through the object's type information. Texts become
// UTF-16 only here, at the COM boundary (ANSI code page in, ANSI code page out).
#include "runtime/Automation.h"

#include <windows.h>
#include <ole2.h>
#include <oleauto.h>

#include <cstring>
#include <vector>

#include "runtime/DeclaredCalls.h"
#include "runtime/Handles.h"
#include "runtime/Heap.h"
#include "runtime/WideText.h"

namespace zv {
namespace {

// The status of the last call, per thread, in a TLS slot of the system's own: the compiler's
// thread_local is emulated on this target through a threading library that would add some 30 KB to
// the program. A thread that has not called yet reads the slot's initial null, which is kObjectOk.
static_assert(kObjectOk == 0, "an unset slot reads as success");
constexpr LONG kNoSlot = static_cast<LONG>(TLS_OUT_OF_INDEXES);
volatile LONG g_statusSlot = kNoSlot;

DWORD StatusSlot() {
  const LONG known = g_statusSlot;
  if (known != kNoSlot) return static_cast<DWORD>(known);
  const DWORD fresh = TlsAlloc();
  if (fresh == TLS_OUT_OF_INDEXES) return fresh;
  // Two threads asking first at the same time: one slot wins, the other is given back.
  const LONG previous = InterlockedCompareExchange(&g_statusSlot, static_cast<LONG>(fresh), kNoSlot);
  if (previous == kNoSlot) return fresh;
  TlsFree(fresh);
  return static_cast<DWORD>(previous);
}

void SetLastObjectError(std::int32_t status) {
  const DWORD slot = StatusSlot();
  if (slot != TLS_OUT_OF_INDEXES)
    TlsSetValue(slot, reinterpret_cast<void*>(static_cast<std::intptr_t>(status)));
}

// ---- Texts at the COM boundary ------------------------------------------------------------------

// A BSTR as GBK (code page 936, whatever the system's ANSI code page; "?" for what GBK cannot hold).
Text FromBstr(BSTR bstr) { return ToGbk(bstr, SysStringLen(bstr)); }

// ---- The member that a name binds to -------------------------------------------------------------

// What ITypeComp::Bind hands back, released together when it goes.
class BoundMember {
 public:
  BoundMember() = default;
  BoundMember(const BoundMember&) = delete;
  BoundMember& operator=(const BoundMember&) = delete;
  ~BoundMember() { Reset(); }

  // Binds `name` for one invoke kind; true when the bind found a description of any kind.
  bool Bind(ITypeComp* typeComp, LPOLESTR name, ULONG hash, WORD kind) {
    Reset();
    ITypeInfo* info = nullptr;
    const HRESULT hr = typeComp->Bind(name, hash, kind, &info, &kind_, &pointer_);
    info_.reset(info);
    if (FAILED(hr)) kind_ = DESCKIND_NONE;
    if (kind_ == DESCKIND_NONE) Reset();  // success without a description found nothing
    return kind_ != DESCKIND_NONE;
  }
  DESCKIND kind() const { return kind_; }
  const FUNCDESC* function() const { return kind_ == DESCKIND_FUNCDESC ? pointer_.lpfuncdesc : nullptr; }
  const VARDESC* variable() const {
    return kind_ == DESCKIND_VARDESC || kind_ == DESCKIND_IMPLICITAPPOBJ ? pointer_.lpvardesc : nullptr;
  }

 private:
  void Reset() {
    if (kind_ == DESCKIND_FUNCDESC && info_) info_->ReleaseFuncDesc(pointer_.lpfuncdesc);
    if ((kind_ == DESCKIND_VARDESC || kind_ == DESCKIND_IMPLICITAPPOBJ) && info_) {
      info_->ReleaseVarDesc(pointer_.lpvardesc);
    }
    if (kind_ == DESCKIND_TYPECOMP) ComPtr<ITypeComp>::Adopt(pointer_.lptcomp);
    kind_ = DESCKIND_NONE;
    pointer_.lpfuncdesc = nullptr;
    info_.reset();
  }

  ComPtr<ITypeInfo> info_;
  DESCKIND kind_ = DESCKIND_NONE;
  BINDPTR pointer_{};
};

// What a successful bind means for the call.
struct CallShape {
  MEMBERID member = DISPID_UNKNOWN;
  WORD flags = 0;
  SHORT parameterCount = 0;
  SHORT optionalCount = 0;  // -1: the member takes a variable number of arguments
  const ELEMDESC* parameters = nullptr;
};

bool IsObjectOrArray(VARTYPE vt) {
  return vt == VT_UNKNOWN || vt == VT_DISPATCH || vt == VT_SAFEARRAY || (vt & VT_ARRAY) != 0;
}

std::int32_t ShapeOf(const BoundMember& bound, InvokeMode mode, CallShape* shape) {
  if (const FUNCDESC* function = bound.function()) {
    shape->member = function->memid;
    shape->flags = static_cast<WORD>(function->invkind);
    shape->parameterCount = function->cParams;
    shape->optionalCount = function->cParamsOpt;
    shape->parameters = function->lprgelemdescParam;
    return kObjectOk;
  }
  if (const VARDESC* variable = bound.variable()) {
    shape->member = variable->memid;
    if (mode == InvokeMode::WriteProperty) {
      shape->flags =
          IsObjectOrArray(variable->elemdescVar.tdesc.vt) ? DISPATCH_PROPERTYPUTREF : DISPATCH_PROPERTYPUT;
      shape->parameterCount = 1;
      shape->parameters = &variable->elemdescVar;
    } else {
      shape->flags = DISPATCH_PROPERTYGET;
    }
    return kObjectOk;
  }
  return kObjectMemberNotBound;
}

// ---- Arguments -----------------------------------------------------------------------------------

// The declared type of a parameter and whether it is passed by reference (a pointer type).
struct Declared {
  VARTYPE type = VT_EMPTY;  // VT_EMPTY: no description
  bool byReference = false;
  USHORT flags = 0;
};

Declared DeclaredOf(const CallShape& shape, std::size_t index) {
  Declared d;
  if (shape.parameterCount <= 0 || shape.parameters == nullptr) return d;
  const std::size_t last = static_cast<std::size_t>(shape.parameterCount) - 1;
  const ELEMDESC& element = shape.parameters[index < last ? index : last];
  d.flags = element.paramdesc.wParamFlags;
  d.type = element.tdesc.vt;
  if (d.type == VT_PTR && element.tdesc.lptdesc != nullptr) {
    d.byReference = true;
    d.type = element.tdesc.lptdesc->vt;
  }
  return d;
}

// An argument as it is read: through the caller's variable when it is a reference.
Value Dereference(const Value& argument) {
  if (!HasArrayOrReferenceBit(argument.type)) return argument;
  const TypeFlag type = BaseType(argument.type);
  const void* p = argument.AsPointer<const void>();
  if (p == nullptr) return Value();
  switch (type) {
    case TypeFlag::Byte:
      return Value::Byte(*static_cast<const std::uint8_t*>(p));
    case TypeFlag::Short:
      return Value::Short(*static_cast<const std::int16_t*>(p));
    case TypeFlag::Int:
      return Value::Int(*static_cast<const std::int32_t*>(p));
    case TypeFlag::Long:
      return Value::Long(*static_cast<const std::int64_t*>(p));
    case TypeFlag::Float:
      return Value::Float(*static_cast<const float*>(p));
    case TypeFlag::Double:
      return Value::Double(*static_cast<const double*>(p));
    case TypeFlag::Bool:
      return Value::Bool(*static_cast<const std::int32_t*>(p) != 0);
    case TypeFlag::Date:
      return Value::Date(*static_cast<const double*>(p));
    case TypeFlag::Text:
      return Value::Text(*static_cast<const char* const*>(p));
    case TypeFlag::Object:
      return Value::Pointer(*static_cast<AutomationObject* const*>(p), TypeFlag::Object);
    case TypeFlag::Variant:
      return Value::Pointer(p, TypeFlag::Variant);
    default:
      return Value::Pointer(p, argument.type);  // not convertible
  }
}

void SetMissing(VARIANT* v) {
  V_VT(v) = VT_ERROR;
  V_ERROR(v) = DISP_E_PARAMNOTFOUND;
}

bool ObjectToVariant(const AutomationObject* record, VARTYPE declared, VARIANT* out) {
  if (record == nullptr || record->unknown == nullptr) {
    V_VT(out) = declared == VT_UNKNOWN ? VT_UNKNOWN : VT_DISPATCH;
    V_UNKNOWN(out) = nullptr;
    return true;
  }
  if (record->recordData != nullptr) {
    ComPtr<IRecordInfo> info;
    if (FAILED(ComPtr<IUnknown>::AddRefOf(record->unknown).As(IID_IRecordInfo, &info))) return false;
    void* copy = nullptr;
    if (FAILED(info->RecordCreateCopy(record->recordData, &copy))) return false;
    V_VT(out) = VT_RECORD;
    V_RECORD(out) = copy;
    V_RECORDINFO(out) = info.release();
    return true;
  }
  if (declared == VT_UNKNOWN) {
    record->unknown->AddRef();
    V_VT(out) = VT_UNKNOWN;
    V_UNKNOWN(out) = record->unknown;
    return true;
  }
  ComPtr<IDispatch> dispatch;
  if (SUCCEEDED(ComPtr<IUnknown>::AddRefOf(record->unknown).As(IID_IDispatch, &dispatch))) {
    V_VT(out) = VT_DISPATCH;
    V_DISPATCH(out) = dispatch.release();
    return true;
  }
  if (declared == VT_DISPATCH) return false;
  record->unknown->AddRef();
  V_VT(out) = VT_UNKNOWN;
  V_UNKNOWN(out) = record->unknown;
  return true;
}

// Converts one runtime value into `out` (empty on entry); false for a type that cannot be converted.
bool ToVariant(const Value& argument, VARTYPE declared, VARIANT* out) {
  const Value v = Dereference(argument);
  switch (v.type) {
    case TypeFlag::Omitted:
      break;
    case TypeFlag::Object:
      if (!ObjectToVariant(v.AsPointer<const AutomationObject>(), declared, out)) return false;
      break;
    case TypeFlag::Variant:
      if (v.AsPointer<VARIANT>() != nullptr && FAILED(VariantCopyInd(out, v.AsPointer<VARIANT>())))
        return false;
      break;
    case TypeFlag::Bool:
      V_VT(out) = VT_BOOL;
      V_BOOL(out) = v.low != 0 ? VARIANT_TRUE : VARIANT_FALSE;
      break;
    case TypeFlag::Date:
      V_VT(out) = VT_DATE;
      V_DATE(out) = v.AsDouble();
      break;
    case TypeFlag::Text: {
      UniqueBstr bstr = ToBstr(v.AsPointer<const char>());
      if (!bstr) return false;
      V_VT(out) = VT_BSTR;
      V_BSTR(out) = bstr.release();
      break;
    }
    case TypeFlag::Byte:
      V_VT(out) = VT_UI1;
      V_UI1(out) = static_cast<BYTE>(v.low);
      break;
    case TypeFlag::Short:
      V_VT(out) = VT_I2;
      V_I2(out) = static_cast<SHORT>(v.low);
      break;
    case TypeFlag::Int:
    case TypeFlag::Long:  // the low 32 bits
      V_VT(out) = VT_I4;
      V_I4(out) = static_cast<LONG>(v.low);
      break;
    case TypeFlag::Float:
      V_VT(out) = VT_R4;
      V_R4(out) = v.AsFloat();
      break;
    case TypeFlag::Double:
      V_VT(out) = VT_R8;
      V_R8(out) = v.AsDouble();
      break;
    default:
      return false;
  }
  if (V_VT(out) == VT_EMPTY) SetMissing(out);
  return true;
}

// ---- Results -------------------------------------------------------------------------------------

Value EmptyResult(TypeFlag type) {
  switch (type) {
    case TypeFlag::Object:
      return Value::Pointer(ObjectRecord::New().release(), TypeFlag::Object);
    case TypeFlag::Variant: {
      auto* v = static_cast<VARIANT*>(heap::Allocate(sizeof(VARIANT)));
      VariantInit(v);
      return Value::Pointer(v, TypeFlag::Variant);
    }
    case TypeFlag::Text:
      return Value::Text(nullptr);
    default: {
      Value v;
      v.type = type;
      return v;
    }
  }
}

// Converts the result variant to the requested type; false when it cannot be.
bool ConvertResult(VARIANT* source, TypeFlag type, Value* out) {
  if (type == TypeFlag::Variant) {
    auto* v = static_cast<VARIANT*>(heap::Allocate(sizeof(VARIANT)));
    VariantInit(v);
    if (FAILED(VariantCopy(v, source))) {
      heap::Free(v);
      return false;
    }
    *out = Value::Pointer(v, TypeFlag::Variant);
    return true;
  }
  VARTYPE target = VT_EMPTY;
  switch (type) {
    case TypeFlag::Object:
      target = VT_UNKNOWN;
      break;
    case TypeFlag::Bool:
      target = VT_BOOL;
      break;
    case TypeFlag::Date:
      target = VT_DATE;
      break;
    case TypeFlag::Text:
      target = VT_BSTR;
      break;
    case TypeFlag::Byte:
      target = VT_UI1;
      break;
    case TypeFlag::Short:
      target = VT_I2;
      break;
    case TypeFlag::Int:
    case TypeFlag::Long:
      target = VT_I4;
      break;
    case TypeFlag::Float:
      target = VT_R4;
      break;
    case TypeFlag::Double:
      target = VT_R8;
      break;
    default:
      return false;
  }
  UniqueVariant converted;
  if (FAILED(VariantChangeType(converted.get(), source, 0, target))) return false;
  switch (type) {
    case TypeFlag::Object: {
      ObjectRecord record = ObjectRecord::New();
      record->unknown = ComPtr<IUnknown>::AddRefOf(V_UNKNOWN(converted.get())).release();
      *out = Value::Pointer(record.release(), TypeFlag::Object);
      break;
    }
    case TypeFlag::Bool:
      *out = Value::Bool(V_BOOL(converted.get()) != 0);
      break;
    case TypeFlag::Date:
      *out = Value::Date(V_DATE(converted.get()));
      break;
    case TypeFlag::Text:
      *out = Value::Text(FromBstr(V_BSTR(converted.get())).release());
      break;
    case TypeFlag::Byte:
      *out = Value::Byte(V_UI1(converted.get()));
      break;
    case TypeFlag::Short:
      *out = Value::Short(V_I2(converted.get()));
      break;
    case TypeFlag::Int:
      *out = Value::Int(V_I4(converted.get()));
      break;
    case TypeFlag::Long:
      *out = Value::Long(V_I4(converted.get()));
      break;
    case TypeFlag::Float:
      *out = Value::Float(V_R4(converted.get()));
      break;
    case TypeFlag::Double:
      *out = Value::Double(V_R8(converted.get()));
      break;
    default:
      return false;
  }
  return true;
}

// Stores an output parameter's value back into the caller's variable, converted to its type the way
// a result is (ConvertResult); a variable whose value cannot be converted keeps what it held.
void WriteBack(VARIANT* source, const Value& argument) {
  void* variable = argument.AsPointer<void>();
  if (variable == nullptr) return;
  const TypeFlag type = BaseType(argument.type);
  if (type == TypeFlag::Variant) {
    UniqueVariant copy;
    if (FAILED(VariantCopyInd(copy.get(), source))) return;
    UniqueVariant old;
    *old.put() = *static_cast<VARIANT*>(variable);  // released when `old` goes
    *static_cast<VARIANT*>(variable) = copy.release();
    return;
  }
  Value converted;
  if (!ConvertResult(source, type, &converted)) return;
  switch (type) {
    case TypeFlag::Byte:
      *static_cast<std::uint8_t*>(variable) = static_cast<std::uint8_t>(converted.low);
      break;
    case TypeFlag::Short:
      *static_cast<std::int16_t*>(variable) = static_cast<std::int16_t>(converted.low);
      break;
    case TypeFlag::Int:
    case TypeFlag::Bool:
      *static_cast<std::int32_t*>(variable) = converted.AsInt();
      break;
    case TypeFlag::Long:
      *static_cast<std::int64_t*>(variable) = converted.AsLong();
      break;
    case TypeFlag::Float:
      *static_cast<float*>(variable) = converted.AsFloat();
      break;
    case TypeFlag::Double:
    case TypeFlag::Date:
      *static_cast<double*>(variable) = converted.AsDouble();
      break;
    case TypeFlag::Text: {
      char** slot = static_cast<char**>(variable);
      heap::Free(*slot);
      *slot = converted.AsPointer<char>();
      break;
    }
    case TypeFlag::Object: {
      // The caller's record takes over the converted interface; the new record goes.
      ObjectRecord record = ObjectRecord::Adopt(converted.AsPointer<AutomationObject>());
      auto** slot = static_cast<AutomationObject**>(variable);
      if (*slot == nullptr) *slot = ObjectRecord::New().release();
      ClearObject(*slot);
      (*slot)->unknown = record->unknown;
      record->unknown = nullptr;
      break;
    }
    default:
      break;
  }
}

std::int32_t StatusOfInvoke(HRESULT hr) {
  if (SUCCEEDED(hr)) return kObjectOk;
  switch (hr) {
    case DISP_E_BADPARAMCOUNT:
      return kObjectBadParamCount;
    case DISP_E_BADVARTYPE:
      return kObjectBadVarType;
    case DISP_E_EXCEPTION:
      return kObjectException;
    case DISP_E_MEMBERNOTFOUND:
      return kObjectMemberNotFound;
    case DISP_E_NONAMEDARGS:
      return kObjectNoNamedArgs;
    case DISP_E_OVERFLOW:
      return kObjectOverflow;
    case DISP_E_PARAMNOTFOUND:
      return kObjectParamNotFound;
    case DISP_E_TYPEMISMATCH:
      return kObjectTypeMismatch;
    case DISP_E_PARAMNOTOPTIONAL:
      return kObjectParamNotOptional;
    default:
      return kObjectInvokeFailed;
  }
}

// The invoke kinds tried for each mode, in order (0 ends a list).
const WORD* KindsFor(InvokeMode mode) {
  static const WORD kRead[] = {INVOKE_PROPERTYGET, INVOKE_FUNC, 0};
  static const WORD kWrite[] = {INVOKE_PROPERTYPUT, INVOKE_PROPERTYPUTREF, INVOKE_FUNC, 0};
  static const WORD kCall[] = {INVOKE_FUNC, INVOKE_PROPERTYGET, INVOKE_PROPERTYPUT, INVOKE_PROPERTYPUTREF, 0};
  switch (mode) {
    case InvokeMode::ReadProperty:
      return kRead;
    case InvokeMode::WriteProperty:
      return kWrite;
    default:
      return kCall;
  }
}

// Binds, converts, calls and converts back; the status of the call.
std::int32_t Invoke(AutomationObject* object, TextArg name, const Value* arguments, std::size_t count,
                    InvokeMode mode, TypeFlag resultType, Value* result) {
  if (object == nullptr || object->unknown == nullptr) return kObjectEmpty;
  ComPtr<IDispatch> dispatch;
  if (FAILED(ComPtr<IUnknown>::AddRefOf(object->unknown).As(IID_IDispatch, &dispatch)) || !dispatch) {
    return kObjectNoDispatch;
  }
  const LCID locale = GetUserDefaultLCID();
  ComPtr<ITypeInfo> typeInfo;
  ComPtr<ITypeComp> typeComp;
  if (FAILED(dispatch->GetTypeInfo(0, locale, typeInfo.put())) || !typeInfo) return kObjectNoTypeInfo;
  if (FAILED(typeInfo->GetTypeComp(typeComp.put())) || !typeComp) return kObjectNoTypeInfo;

  UniqueBstr wideName = ToBstr(name);
  if (!wideName) return kObjectMemberNotBound;
  const ULONG hash = LHashValOfNameSys(SYS_WIN32, locale, wideName.get());
  BoundMember bound;
  bool found = false;
  for (const WORD* kind = KindsFor(mode); *kind != 0 && !found; ++kind) {
    found = bound.Bind(typeComp.get(), wideName.get(), hash, *kind);
  }
  if (!found) return kObjectMemberNotBound;
  CallShape shape;
  if (const std::int32_t status = ShapeOf(bound, mode, &shape); status != kObjectOk) return status;

  // Trailing omitted arguments are not passed at all.
  std::size_t valueCount = count;
  while (valueCount > 0 && arguments[valueCount - 1].type == TypeFlag::Omitted) --valueCount;
  if (valueCount > static_cast<std::size_t>(shape.parameterCount < 0 ? 0 : shape.parameterCount) &&
      shape.optionalCount != -1) {
    return kObjectTooManyArguments;
  }

  // A property put hands its value to Invoke as the one named argument DISPID_PROPERTYPUT. Without a
  // value there is no argument to name, and Invoke would be told of a named argument that is not
  // there: the call is not made.
  const bool put = shape.flags == DISPATCH_PROPERTYPUT || shape.flags == DISPATCH_PROPERTYPUTREF;
  if (put && valueCount == 0) return kObjectBadParamCount;

  // values[i] owns argument i; passed[] is what Invoke sees, last argument first: either a plain copy
  // of the value or, for a by-reference parameter, a reference into it.
  std::vector<UniqueVariant> values(valueCount);
  std::vector<VARIANTARG> passed(valueCount);
  std::vector<DECIMAL> decimals(valueCount);
  for (std::size_t i = 0; i < valueCount; ++i) {
    const Declared declared = DeclaredOf(shape, i);
    VARIANT* value = values[i].get();
    if (!ToVariant(arguments[i], declared.type, value)) return kObjectArgumentNotConvertible;
    VARIANTARG& slot = passed[valueCount - 1 - i];
    if (declared.byReference && declared.type == VT_VARIANT) {
      V_VT(&slot) = VT_BYREF | VT_VARIANT;
      V_VARIANTREF(&slot) = value;
    } else if (declared.byReference && (declared.type == V_VT(value) ||
                                        SUCCEEDED(VariantChangeType(value, value, 0, declared.type)))) {
      V_VT(&slot) = static_cast<VARTYPE>(VT_BYREF | declared.type);
      // The value's data sits in the variant's value field, except a DECIMAL's, which fills the whole
      // variant (its reserved first word is where the type is). The callee may store a whole new
      // DECIMAL through the reference, reserved word included, so it gets a DECIMAL of its own, put
      // back into the variant (type and all) after the call.
      if (declared.type == VT_DECIMAL) {
        decimals[i] = V_DECIMAL(value);
        V_BYREF(&slot) = &decimals[i];
      } else {
        V_BYREF(&slot) = &V_I4(value);
      }
    } else {
      slot = *value;
    }
  }

  DISPID putId = DISPID_PROPERTYPUT;
  DISPPARAMS parameters{valueCount > 0 ? passed.data() : nullptr, nullptr, static_cast<UINT>(valueCount), 0};
  if (put) {
    parameters.rgdispidNamedArgs = &putId;
    parameters.cNamedArgs = 1;
  }
  UniqueVariant invokeResult;
  UINT argumentError = 0;
  const HRESULT hr = dispatch->Invoke(shape.member, IID_NULL, locale, shape.flags, &parameters,
                                      invokeResult.get(), nullptr, &argumentError);
  if (const std::int32_t status = StatusOfInvoke(hr); status != kObjectOk) return status;

  for (std::size_t i = 0; i < valueCount; ++i) {
    const Declared declared = DeclaredOf(shape, i);
    const VARIANTARG& slot = passed[valueCount - 1 - i];
    if (V_VT(&slot) == (VT_BYREF | VT_DECIMAL)) {
      V_DECIMAL(values[i].get()) = decimals[i];
      V_VT(values[i].get()) = VT_DECIMAL;
    }
    if (HasArrayOrReferenceBit(arguments[i].type) && (declared.flags & PARAMFLAG_FOUT) != 0 &&
        (V_VT(&slot) & VT_BYREF) != 0) {
      WriteBack(values[i].get(), arguments[i]);
    }
  }
  if (resultType != TypeFlag::Omitted && !ConvertResult(invokeResult.get(), resultType, result)) {
    return kObjectResultNotConvertible;
  }
  return kObjectOk;
}

// Loads a type library by the rule of the declared libraries (LibraryPathFor): a bare name from the
// system directory, a relative path from the program's folder, never from the current directory or
// from wherever the system's own search would look. The path loaded goes to `path`.
ComPtr<ITypeLib> LoadTypeLibrary(TextArg file, wchar_t* path, std::size_t capacity) {
  if (file.empty() || !LibraryPathFor(file.c_str(), path, capacity)) return {};
  ComPtr<ITypeLib> library;
  if (FAILED(LoadTypeLib(path, library.put()))) return {};
  return library;
}

// The type-library route: the class named in the library, created through its type information.
ComPtr<IUnknown> CreateFromTypeLibrary(TextArg className, TextArg file) {
  wchar_t path[MAX_PATH];
  ComPtr<ITypeLib> library = LoadTypeLibrary(file, path, MAX_PATH);
  if (!library) return {};
  UniqueBstr wideName = ToBstr(className);  // FindName may rewrite it to the library's spelling
  if (!wideName) return {};
  const ULONG hash = LHashValOfNameSys(SYS_WIN32, GetUserDefaultLCID(), wideName.get());
  ITypeInfo* found[1] = {nullptr};
  MEMBERID members[1] = {MEMBERID_NIL};
  USHORT foundCount = 1;
  const HRESULT hr = library->FindName(wideName.get(), hash, found, members, &foundCount);
  ComPtr<ITypeInfo> typeInfo =
      ComPtr<ITypeInfo>::Adopt(SUCCEEDED(hr) && foundCount == 1 ? found[0] : nullptr);
  ComPtr<IUnknown> instance;
  if (!typeInfo || members[0] != MEMBERID_NIL) return instance;  // a type, not a member of one
  if (FAILED(typeInfo->CreateInstance(nullptr, IID_IUnknown, reinterpret_cast<void**>(instance.put())))) {
    return {};
  }
  // A library named by a path is registered, under the full path it was loaded from (a relative
  // name would be found again from wherever the reader happens to be); a bare name is not.
  if (ContainsOutsideDoubleByte(file.c_str(), '\\')) {
    RegisterTypeLib(library.get(), path, nullptr);
  }
  return instance;
}

// The class-identifier route: a CLSID in braces, or a ProgID.
ComPtr<IUnknown> CreateFromClassId(TextArg className) {
  UniqueBstr wideName = ToBstr(className);
  if (!wideName) return {};
  CLSID clsid;
  const HRESULT parsed = className.c_str()[0] == '{' ? CLSIDFromString(wideName.get(), &clsid)
                                                     : CLSIDFromProgID(wideName.get(), &clsid);
  if (FAILED(parsed)) return {};
  constexpr DWORD kAnyServer =
      CLSCTX_INPROC_SERVER | CLSCTX_INPROC_HANDLER | CLSCTX_LOCAL_SERVER | CLSCTX_REMOTE_SERVER;
  constexpr DWORD kLocalServers = CLSCTX_INPROC_SERVER | CLSCTX_INPROC_HANDLER | CLSCTX_LOCAL_SERVER;
  ComPtr<IUnknown> instance;
  HRESULT hr =
      CoCreateInstance(clsid, nullptr, kAnyServer, IID_IUnknown, reinterpret_cast<void**>(instance.put()));
  // Systems without remote activation reject the remote-server flag.
  if (hr == E_INVALIDARG) {
    hr = CoCreateInstance(clsid, nullptr, kLocalServers, IID_IUnknown,
                          reinterpret_cast<void**>(instance.put()));
  }
  if (FAILED(hr)) return {};
  return instance;
}

}  // namespace

ObjectRecord ObjectRecord::New() {
  return Adopt(static_cast<AutomationObject*>(heap::AllocateZeroed(sizeof(AutomationObject))));
}

void ObjectRecord::reset(AutomationObject* record) noexcept {
  AutomationObject* old = p_;
  p_ = record;
  if (old == nullptr || old == record) return;
  ClearObject(old);
  heap::Free(old);
}

bool CreateAutomationObject(AutomationObject* object, TextArg className,
                            OptionalArgument<TextArg> typeLibrary) {
  if (object == nullptr) return false;
  ComPtr<IUnknown> instance;
  if (className.c_str()[0] != '{' && typeLibrary.IsGiven()) {
    instance = CreateFromTypeLibrary(className, typeLibrary.value);
  }
  if (!instance) instance = CreateFromClassId(className);
  if (!instance || FAILED(OleRun(instance.get()))) return false;
  ClearObject(object);
  object->unknown = instance.release();
  return true;
}

std::int32_t InvokeByName(AutomationObject* object, TextArg name, const Value* arguments, std::size_t count,
                          InvokeMode mode, TypeFlag resultType, Value* result) {
  if (result == nullptr) resultType = TypeFlag::Omitted;
  const std::int32_t status = Invoke(object, name, arguments, count, mode, resultType, result);
  if (status != kObjectOk && resultType != TypeFlag::Omitted) {
    *result = EmptyResult(resultType);
  }
  SetLastObjectError(status);
  return status;
}

ObjectRecord CallObjectMethod(AutomationObject* object, TextArg name, const Value* arguments,
                              std::size_t count) {
  Value result;
  InvokeByName(object, name, arguments, count, InvokeMode::CallMethod, TypeFlag::Object, &result);
  return ObjectRecord::Adopt(result.AsPointer<AutomationObject>());
}

bool SetObjectProperty(AutomationObject* object, TextArg name, const Value* arguments, std::size_t count) {
  return InvokeByName(object, name, arguments, count, InvokeMode::WriteProperty, TypeFlag::Omitted,
                      nullptr) == kObjectOk;
}

void ClearObject(AutomationObject* object) {
  if (object == nullptr) return;
  if (object->unknown != nullptr) {
    ComPtr<IUnknown> held = ComPtr<IUnknown>::Adopt(object->unknown);
    object->unknown = nullptr;
    if (object->recordData != nullptr) {
      ComPtr<IRecordInfo> info;
      if (SUCCEEDED(held.As(IID_IRecordInfo, &info))) info->RecordDestroy(object->recordData);
      object->recordData = nullptr;
    }
  } else if (object->recordData != nullptr) {
    heap::Free(object->recordData);
    object->recordData = nullptr;
  }
}

bool IsObjectEmpty(const AutomationObject* object) {
  return object == nullptr || object->unknown == nullptr;
}

std::int32_t LastObjectError() {
  const DWORD slot = StatusSlot();
  if (slot == TLS_OUT_OF_INDEXES) return kObjectOk;
  return static_cast<std::int32_t>(reinterpret_cast<std::intptr_t>(TlsGetValue(slot)));
}

UniqueBstr ToBstr(TextArg text) {
  const WideText wide = ToWide(text);
  return UniqueBstr(SysAllocStringLen(wide.c_str(), static_cast<UINT>(wide.length())));
}

}  // namespace zv
