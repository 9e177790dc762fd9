#include "launch/text.h"

namespace launcher {

namespace {

void CopyUnits(wchar_t* to, const wchar_t* from, size_t length) {
  for (size_t i = 0; i < length; ++i) to[i] = from[i];
  to[length] = 0;
}

}  // namespace

size_t TextLength(const wchar_t* text) {
  size_t length = 0;
  if (text != nullptr) {
    while (text[length] != 0) ++length;
  }
  return length;
}

void Text::Assign(TextMemory& memory, const wchar_t* text) {
  if (text == nullptr) {
    if (chars_ != nullptr) memory.Free(chars_);
    chars_ = nullptr;
    return;
  }
  AssignUnits(memory, text, TextLength(text));
}

void Text::AssignUnits(TextMemory& memory, const wchar_t* text, size_t length) {
  void* block = memory.Reallocate(chars_, length * sizeof(wchar_t) + kBlockSlack);
  if (block == nullptr) {
    // A value that cannot hold the whole text holds none rather than a stale one.
    if (chars_ != nullptr) memory.Free(chars_);
    chars_ = nullptr;
    return;
  }
  chars_ = static_cast<wchar_t*>(block);
  CopyUnits(chars_, text, length);
}

void TextWorkArea::Start(TextMemory& memory) {
  memory_ = &memory;
  position_ = 0;
  capacity_ = kStartCapacity;
  block_ = static_cast<char*>(memory.Allocate(kStartCapacity));
  if (block_ == nullptr) capacity_ = 0;
}

void TextWorkArea::Release() {
  if (block_ != nullptr) memory_->Free(block_);
  block_ = nullptr;
  position_ = 0;
  capacity_ = 0;
}

bool TextWorkArea::Append(const wchar_t* text, size_t length) {
  if (memory_ == nullptr) return false;
  const size_t end = position_ + length * sizeof(wchar_t);
  if (block_ == nullptr || end + kReserve >= capacity_) {
    const size_t capacity = end + kGrowthBytes;
    void* block = memory_->Reallocate(block_, capacity + kBlockSlack);
    if (block == nullptr) return false;
    block_ = static_cast<char*>(block);
    capacity_ = capacity;
  }
  CopyUnits(reinterpret_cast<wchar_t*>(block_ + position_), text, length);
  position_ = end;
  return true;
}

const wchar_t* TextWorkArea::At(size_t position) const {
  return reinterpret_cast<const wchar_t*>(block_ + position);
}

Composition::Composition(TextWorkArea& area) : area_(area), start_(area.position_) {}

Composition::~Composition() { area_.position_ = start_; }

Composition& Composition::Add(const wchar_t* text) {
  if (!failed_ && !area_.Append(text == nullptr ? L"" : text, TextLength(text))) failed_ = true;
  return *this;
}

const wchar_t* Composition::Use() {
  // A composition that added nothing is the empty text, which still needs its terminator.
  if (area_.position_ == start_) Add(L"");
  if (failed_) return nullptr;
  area_.position_ += sizeof(wchar_t);
  return area_.At(start_);
}

void Composition::MoveTo(Text& target) {
  const wchar_t* text = Use();
  if (text == nullptr) {
    target.Assign(area_.memory(), nullptr);
    return;
  }
  const size_t units = (area_.position_ - start_) / sizeof(wchar_t) - 1;
  target.AssignUnits(area_.memory(), text, units);
}

}  // namespace launcher
