// Owner types of the runtime's text and array blocks, and the growable builder behind every text
// operation's result.
#include "runtime/Text.h"

#include <cstddef>
#include <cstring>

#include "runtime/Heap.h"

namespace zv {

std::size_t TextArg::length() const noexcept { return std::strlen(p_); }

Text Text::Copy(const char* bytes, std::size_t length) {
  if (length == 0) return Text();
  Text t = Allocate(length);
  std::memcpy(t.p_, bytes, length);
  return t;
}

Text Text::Copy(TextArg text) { return Copy(text.c_str(), text.length()); }

Text Text::Allocate(std::size_t length) {
  char* block = static_cast<char*>(heap::Allocate(length + 1));
  block[length] = '\0';
  return Adopt(block);
}

std::size_t Text::length() const noexcept { return p_ ? std::strlen(p_) : 0; }

void Text::reset(char* block) noexcept {
  char* old = p_;
  p_ = block;
  if (old != block) heap::Free(old);
}

OwnedByteArray OwnedByteArray::Copy(const void* bytes, std::int32_t length) {
  if (length < 0) length = 0;
  auto* block = static_cast<ByteArray*>(heap::Allocate(sizeof(ByteArray) + static_cast<std::size_t>(length)));
  block->dimensionCount = 1;
  block->length = length;
  if (length > 0) std::memcpy(block->bytes(), bytes, static_cast<std::size_t>(length));
  OwnedByteArray a;
  a.p_ = block;
  return a;
}

void OwnedByteArray::reset(ByteArray* block) noexcept {
  ByteArray* old = p_;
  p_ = block;
  if (old != block) heap::Free(old);
}

TextArray TextArray::Allocate(std::int32_t count) {
  if (count < 0) count = 0;
  const std::size_t bytes = offsetof(Block, elements) + sizeof(char*) * static_cast<std::size_t>(count);
  auto* block = static_cast<Block*>(heap::AllocateZeroed(bytes));
  block->dimensionCount = 1;
  block->count = count;
  TextArray a;
  a.p_ = block;
  return a;
}

void TextArray::Set(std::int32_t i, Text text) noexcept {
  heap::Free(p_->elements[i]);
  p_->elements[i] = text.release();
}

void TextArray::reset(Block* block) noexcept {
  Block* old = p_;
  p_ = block;
  if (old == nullptr || old == block) return;
  for (std::int32_t i = 0; i < old->count; ++i) heap::Free(old->elements[i]);
  heap::Free(old);
}

TextBuilder::~TextBuilder() { heap::Free(buffer_); }

void TextBuilder::Append(const char* bytes, std::size_t length) {
  if (length == 0) return;
  if (length_ + length > capacity_) {
    std::size_t capacity = capacity_ ? capacity_ * 2 : 64;
    while (capacity < length_ + length) capacity *= 2;
    buffer_ = static_cast<char*>(buffer_ ? heap::Reallocate(buffer_, capacity) : heap::Allocate(capacity));
    capacity_ = capacity;
  }
  std::memcpy(buffer_ + length_, bytes, length);
  length_ += length;
}

Text TextBuilder::Finish() {
  Text result = Text::Copy(buffer_, length_);
  length_ = 0;
  return result;
}

}  // namespace zv
