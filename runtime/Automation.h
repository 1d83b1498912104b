// COM automation objects: an AutomationObject record holds one interface reference (or none: the
// object is empty); members are addressed by name, found in the object's type information, and called
// through IDispatch::Invoke with the runtime's values converted to variants and back. Nothing is shown
// and nothing ends the program: every call of CallObjectMethod and SetObjectProperty leaves its status
// in LastObjectError for the calling thread. COM must be initialised on the thread (InitRuntime does).
//
// Arguments are runtime Values. A Value whose type carries kArrayOrReferenceBit is a reference to the
// caller's variable and holds its address: a Text variable (one char* slot), an AutomationObject*
// variable, a VARIANT, or the number itself. A COM variant argument (TypeFlag::Variant) holds the
// address of a VARIANT. An omitted argument (TypeFlag::Omitted) at the end is not passed at all;
// between given ones it is passed as the standard missing-argument marker.
#pragma once

#include <cstddef>
#include <cstdint>
#include <initializer_list>

#include "runtime/Handles.h"
#include "runtime/Text.h"
#include "runtime/Value.h"

struct IUnknown;

namespace zv {

// The record behind an AutomationObject value: two pointer-sized fields, in this order.
struct AutomationObject {
  IUnknown* unknown = nullptr;  // a reference held by the record; null: the object is empty
  void* recordData = nullptr;   // a COM record's data (`unknown` is then its IRecordInfo), else null
};

// Status codes of LastObjectError.
enum ObjectStatus : std::int32_t {
  kObjectOk = 0,
  kObjectEmpty = -1,             // the object holds no interface
  kObjectNoDispatch = -2,        // QueryInterface(IID_IDispatch) failed
  kObjectMemberNotBound = -3,    // the name binds to nothing, or to neither a function nor a variable
  kObjectNoTypeInfo = -4,        // no type information or no ITypeComp
  kObjectTooManyArguments = -5,  // more values than the member accepts
  kObjectArgumentNotConvertible = -7,
  kObjectResultNotConvertible = -8,
  kObjectBadParamCount = -9,      // DISP_E_BADPARAMCOUNT
  kObjectBadVarType = -10,        // DISP_E_BADVARTYPE
  kObjectException = -11,         // DISP_E_EXCEPTION
  kObjectMemberNotFound = -12,    // DISP_E_MEMBERNOTFOUND
  kObjectNoNamedArgs = -13,       // DISP_E_NONAMEDARGS
  kObjectOverflow = -14,          // DISP_E_OVERFLOW
  kObjectParamNotFound = -15,     // DISP_E_PARAMNOTFOUND
  kObjectTypeMismatch = -16,      // DISP_E_TYPEMISMATCH
  kObjectParamNotOptional = -17,  // DISP_E_PARAMNOTOPTIONAL
  kObjectInvokeFailed = -18,      // any other failure of Invoke
};

enum class InvokeMode : std::int32_t {
  ReadProperty = 1,   // property get, then method
  WriteProperty = 2,  // property put, put-by-reference, then method
  CallMethod = 3,     // method, property get, put, put-by-reference
};

// Owns an AutomationObject record on the runtime heap: ClearObject and free when it goes.
class ObjectRecord {
 public:
  ObjectRecord() noexcept = default;
  ObjectRecord(const ObjectRecord&) = delete;
  ObjectRecord& operator=(const ObjectRecord&) = delete;
  ObjectRecord(ObjectRecord&& other) noexcept : p_(other.release()) {}
  ObjectRecord& operator=(ObjectRecord&& other) noexcept {
    reset(other.release());
    return *this;
  }
  ~ObjectRecord() { reset(); }

  // A new empty record (both fields null).
  static ObjectRecord New();
  // Takes over a record from the runtime heap, e.g. the object result of InvokeByName.
  static ObjectRecord Adopt(AutomationObject* record) noexcept {
    ObjectRecord r;
    r.p_ = record;
    return r;
  }

  AutomationObject* get() const noexcept { return p_; }
  AutomationObject* operator->() const noexcept { return p_; }
  AutomationObject* release() noexcept {
    AutomationObject* p = p_;
    p_ = nullptr;
    return p;
  }
  void reset(AutomationObject* record = nullptr) noexcept;

 private:
  AutomationObject* p_ = nullptr;
};

// Creates an instance of `className` into `object`: through the type library `typeLibrary` when one is
// given and the name is not a CLSID in braces ("WshShell" in "wshom.ocx"), else as a ProgID or CLSID.
// The new instance is started (OleRun); only then is the object's old interface released. On failure
// the object keeps what it held. A type library named without a path comes from the system directory,
// a relative path from the program's folder (never the current directory); one named by a path is
// registered under the full path it was loaded from.
bool CreateAutomationObject(AutomationObject* object, TextArg className,
                            OptionalArgument<TextArg> typeLibrary = {});

// Calls member `name` (mode CallMethod) and returns its result as a new record owned by the caller:
// empty when the member returns nothing or the call fails.
ObjectRecord CallObjectMethod(AutomationObject* object, TextArg name, const Value* arguments,
                              std::size_t count);
inline ObjectRecord CallObjectMethod(AutomationObject* object, TextArg name,
                                     std::initializer_list<Value> arguments = {}) {
  return CallObjectMethod(object, name, arguments.begin(), arguments.size());
}

// Sets property `name` (mode WriteProperty): the value last, any index arguments before it. True
// exactly when LastObjectError is 0 afterwards.
bool SetObjectProperty(AutomationObject* object, TextArg name, const Value* arguments, std::size_t count);
inline bool SetObjectProperty(AutomationObject* object, TextArg name,
                              std::initializer_list<Value> arguments) {
  return SetObjectProperty(object, name, arguments.begin(), arguments.size());
}

// Releases what the object holds (destroying record data through its IRecordInfo, or freeing record
// data that has no interface); the record itself stays the caller's.
void ClearObject(AutomationObject* object);
// True exactly when the object holds no interface.
bool IsObjectEmpty(const AutomationObject* object);

// The status of the calling thread's last CallObjectMethod or SetObjectProperty (0 before any).
std::int32_t LastObjectError();

// The engine behind both: binds `name` for `mode`, converts the arguments, calls Invoke, writes output
// parameters back through reference arguments and converts the result to `resultType` (Omitted: no
// result). A new Text, record or VARIANT in `result` belongs to the caller; on failure `result` is the
// empty value of `resultType`. Returns the status, which is also stored in LastObjectError.
std::int32_t InvokeByName(AutomationObject* object, TextArg name, const Value* arguments, std::size_t count,
                          InvokeMode mode, TypeFlag resultType, Value* result);

// A GBK text as a BSTR for a COM call (an empty BSTR for an empty text; null only when out of memory).
UniqueBstr ToBstr(TextArg text);

}  // namespace zv
