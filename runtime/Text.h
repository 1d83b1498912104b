// Text values: NUL-terminated GBK bytes in a runtime-heap block. A null Text reads as the empty text
// everywhere, and an operation whose result is empty may return null. Every Text that an operation
// returns is a new block owned by the caller; the owner types below release it when they go.
// ByteArray and TextArray are the runtime's one-dimensional array blocks, laid out exactly as stored.
#pragma once

#include <cstddef>
#include <cstdint>

namespace zv {

// Read-only view of a text argument: never null (a null pointer reads as "").
class TextArg {
 public:
  TextArg() noexcept = default;
  TextArg(const char* text) noexcept : p_(text ? text : "") {}  // NOLINT: implicit by design
  const char* c_str() const noexcept { return p_; }
  std::size_t length() const noexcept;
  bool empty() const noexcept { return *p_ == '\0'; }

 private:
  const char* p_ = "";
};

// Owns one runtime-heap text block (or a pointer into constant data, which is never freed).
class Text {
 public:
  Text() noexcept = default;
  Text(const Text&) = delete;
  Text& operator=(const Text&) = delete;
  Text(Text&& other) noexcept : p_(other.release()) {}
  Text& operator=(Text&& other) noexcept {
    reset(other.release());
    return *this;
  }
  ~Text() { reset(); }

  // Takes ownership of a block from heap::Allocate (or a constant, which Free ignores).
  static Text Adopt(char* block) noexcept {
    Text t;
    t.p_ = block;
    return t;
  }
  // A new copy of `length` bytes; null when `length` is 0.
  static Text Copy(const char* bytes, std::size_t length);
  // A new copy of a NUL-terminated text; null when it is empty.
  static Text Copy(TextArg text);
  // A new block of `length` bytes plus the NUL, never null (used where an empty result must be a
  // real block). The bytes are uninitialised; the NUL is set.
  static Text Allocate(std::size_t length);

  const char* c_str() const noexcept { return p_ ? p_ : ""; }
  char* get() const noexcept { return p_; }
  bool IsNull() const noexcept { return p_ == nullptr; }
  std::size_t length() const noexcept;
  bool empty() const noexcept { return p_ == nullptr || *p_ == '\0'; }
  operator TextArg() const noexcept { return TextArg(p_); }  // NOLINT: implicit by design

  char* release() noexcept {
    char* p = p_;
    p_ = nullptr;
    return p;
  }
  void reset(char* block = nullptr) noexcept;

 private:
  char* p_ = nullptr;
};

// A ByteArray block: dimension count (always 1), byte length, then exactly that many bytes.
struct ByteArray {
  std::int32_t dimensionCount;
  std::int32_t length;
  const unsigned char* bytes() const noexcept {
    return reinterpret_cast<const unsigned char*>(this + 1);
  }
  unsigned char* bytes() noexcept { return reinterpret_cast<unsigned char*>(this + 1); }
};
static_assert(sizeof(ByteArray) == 8, "the header is two 32-bit words");

// Owns a ByteArray block from the runtime heap.
class OwnedByteArray {
 public:
  OwnedByteArray() noexcept = default;
  OwnedByteArray(const OwnedByteArray&) = delete;
  OwnedByteArray& operator=(const OwnedByteArray&) = delete;
  OwnedByteArray(OwnedByteArray&& other) noexcept : p_(other.release()) {}
  OwnedByteArray& operator=(OwnedByteArray&& other) noexcept {
    reset(other.release());
    return *this;
  }
  ~OwnedByteArray() { reset(); }

  // A new block holding a copy of `length` bytes.
  static OwnedByteArray Copy(const void* bytes, std::int32_t length);

  ByteArray* get() const noexcept { return p_; }
  ByteArray* operator->() const noexcept { return p_; }
  ByteArray* release() noexcept {
    ByteArray* p = p_;
    p_ = nullptr;
    return p;
  }
  void reset(ByteArray* block = nullptr) noexcept;

 private:
  ByteArray* p_ = nullptr;
};

// Owns a TextArray block: dimension count (1), element count, then that many Text pointers, each
// owned by the block and possibly null (an empty piece).
class TextArray {
 public:
  struct Block {
    std::int32_t dimensionCount;
    std::int32_t count;
    char* elements[1];  // `count` of them; the block is sized for exactly that many
  };

  TextArray() noexcept = default;
  TextArray(const TextArray&) = delete;
  TextArray& operator=(const TextArray&) = delete;
  TextArray(TextArray&& other) noexcept : p_(other.release()) {}
  TextArray& operator=(TextArray&& other) noexcept {
    reset(other.release());
    return *this;
  }
  ~TextArray() { reset(); }

  // A block with `count` null elements, sized for exactly that many.
  static TextArray Allocate(std::int32_t count);

  std::int32_t size() const noexcept { return p_ ? p_->count : 0; }
  // The element as stored: may be null, which reads as the empty text.
  const char* operator[](std::int32_t i) const noexcept { return p_->elements[i]; }
  // Stores `text` as element i, taking ownership.
  void Set(std::int32_t i, Text text) noexcept;
  Block* get() const noexcept { return p_; }
  Block* release() noexcept {
    Block* p = p_;
    p_ = nullptr;
    return p;
  }
  void reset(Block* block = nullptr) noexcept;

 private:
  Block* p_ = nullptr;
};

// Appends bytes into a growable runtime-heap buffer, then hands the result over as one exactly
// sized Text block (null when nothing was appended).
class TextBuilder {
 public:
  TextBuilder() noexcept = default;
  TextBuilder(const TextBuilder&) = delete;
  TextBuilder& operator=(const TextBuilder&) = delete;
  ~TextBuilder();

  void Append(const char* bytes, std::size_t length);
  void Append(char byte) { Append(&byte, 1); }
  std::size_t length() const noexcept { return length_; }
  Text Finish();

 private:
  char* buffer_ = nullptr;
  std::size_t length_ = 0;
  std::size_t capacity_ = 0;
};

}  // namespace zv
