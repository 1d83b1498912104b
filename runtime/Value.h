// The runtime's tagged value: low word, high word, TypeFlag (three 32-bit words). 64-bit numbers and
// dates use both words; texts, arrays and objects keep a pointer in them. An argument whose TypeFlag
// is 0 is omitted. OptionalArgument is how the program's own routines pass optional arguments.
#pragma once

#include <cstdint>
#include <cstring>

namespace zv {

enum class TypeFlag : std::uint32_t {
  Omitted = 0,
  Byte = 0x80000101,
  Short = 0x80000201,
  Int = 0x80000301,
  Long = 0x80000401,
  Float = 0x80000501,
  Double = 0x80000601,
  Bool = 0x80000002,
  Date = 0x80000003,
  Text = 0x80000004,
  ByteArray = 0x80000005,
  Object = 0x10030,   // AutomationObject
  Variant = 0x10031,  // COM variant
};

// Added to a type: an array of that type, or, for a COM argument, a reference to the caller's variable.
inline constexpr std::uint32_t kArrayOrReferenceBit = 0x20000000;

constexpr TypeFlag WithArrayOrReference(TypeFlag t) {
  return static_cast<TypeFlag>(static_cast<std::uint32_t>(t) | kArrayOrReferenceBit);
}
constexpr TypeFlag BaseType(TypeFlag t) {
  return static_cast<TypeFlag>(static_cast<std::uint32_t>(t) & ~kArrayOrReferenceBit);
}
constexpr bool HasArrayOrReferenceBit(TypeFlag t) {
  return (static_cast<std::uint32_t>(t) & kArrayOrReferenceBit) != 0;
}

struct Value {
  std::uint32_t low = 0;
  std::uint32_t high = 0;
  TypeFlag type = TypeFlag::Omitted;

  static Value Byte(std::uint8_t v) { return FromWords(v, 0, TypeFlag::Byte); }
  static Value Short(std::int16_t v) { return FromWords(static_cast<std::uint32_t>(v), 0, TypeFlag::Short); }
  static Value Int(std::int32_t v) { return FromWords(static_cast<std::uint32_t>(v), 0, TypeFlag::Int); }
  static Value Long(std::int64_t v) { return FromBits(static_cast<std::uint64_t>(v), TypeFlag::Long); }
  static Value Float(float v) {
    std::uint32_t w;
    std::memcpy(&w, &v, sizeof w);
    return FromWords(w, 0, TypeFlag::Float);
  }
  static Value Double(double v) { return FromDouble(v, TypeFlag::Double); }
  static Value Bool(bool v) { return FromWords(v ? 1u : 0u, 0, TypeFlag::Bool); }
  // An OLE automation date: days since 30 December 1899, the fraction being the time of day.
  static Value Date(double oleDate) { return FromDouble(oleDate, TypeFlag::Date); }
  static Value Text(const char* text) { return FromPointer(text, TypeFlag::Text); }
  // An array block (dimension count, extents, data) of the given element type, or a ByteArray.
  static Value Array(TypeFlag elementType, const void* block) {
    return FromPointer(block, elementType == TypeFlag::ByteArray ? TypeFlag::ByteArray
                                                                 : WithArrayOrReference(elementType));
  }
  static Value Pointer(const void* p, TypeFlag t) { return FromPointer(p, t); }

  bool IsOmitted() const { return type == TypeFlag::Omitted; }
  std::int32_t AsInt() const { return static_cast<std::int32_t>(low); }
  std::int64_t AsLong() const { return static_cast<std::int64_t>(Bits()); }
  float AsFloat() const {
    float f;
    std::memcpy(&f, &low, sizeof f);
    return f;
  }
  double AsDouble() const {
    std::uint64_t b = Bits();
    double d;
    std::memcpy(&d, &b, sizeof d);
    return d;
  }
  template <class T>
  T* AsPointer() const {
    return reinterpret_cast<T*>(static_cast<std::uintptr_t>(Bits()));
  }

 private:
  static Value FromWords(std::uint32_t lo, std::uint32_t hi, TypeFlag t) {
    Value v;
    v.low = lo;
    v.high = hi;
    v.type = t;
    return v;
  }
  static Value FromBits(std::uint64_t bits, TypeFlag t) {
    return FromWords(static_cast<std::uint32_t>(bits), static_cast<std::uint32_t>(bits >> 32), t);
  }
  static Value FromDouble(double d, TypeFlag t) {
    std::uint64_t b;
    std::memcpy(&b, &d, sizeof b);
    return FromBits(b, t);
  }
  static Value FromPointer(const void* p, TypeFlag t) {
    return FromBits(static_cast<std::uint64_t>(reinterpret_cast<std::uintptr_t>(p)), t);
  }
  std::uint64_t Bits() const { return (static_cast<std::uint64_t>(high) << 32) | low; }
};
static_assert(sizeof(Value) == 12, "a Value is three 32-bit words");

// An optional argument of the program's own routines: the value and a given flag (0 omitted,
// 1 given). An omitted number or bool reads as 0, an omitted text as the empty text.
template <class T>
struct OptionalArgument {
  T value{};
  std::int32_t given = 0;

  OptionalArgument() = default;
  OptionalArgument(T v) : value(v), given(1) {}  // NOLINT: implicit, so a given value reads naturally
  bool IsGiven() const { return given != 0; }
};

}  // namespace zv
