#include "launch/text.h"

namespace launcher {

namespace {

template <typename Unit>
size_t LengthOf(const Unit* text) {
  size_t length = 0;
  if (text != nullptr) {
    while (text[length] != 0) ++length;
  }
  return length;
}

TextSource SourceOf(const wchar_t* text) { return {text, LengthOf(text), false}; }
TextSource SourceOf(const char* text) { return {text, LengthOf(text), true}; }

void CopyUnits(wchar_t* to, const TextSource& from) {
  const auto* narrow = static_cast<const unsigned char*>(from.units);
  const auto* wide = static_cast<const wchar_t*>(from.units);
  for (size_t i = 0; i < from.length; ++i) to[i] = from.ascii ? narrow[i] : wide[i];
  to[from.length] = 0;
}

}  // namespace

size_t TextLength(const wchar_t* text) { return LengthOf(text); }

void Text::Assign(TextMemory& memory, const wchar_t* text) {
  if (text == nullptr) {
    if (chars_ != nullptr) memory.Free(chars_);
    chars_ = nullptr;
    return;
  }
  AssignSource(memory, SourceOf(text));
}

void Text::Assign(TextMemory& memory, const char* text) {
  if (text == nullptr) {
    Assign(memory, static_cast<const wchar_t*>(nullptr));
    return;
  }
  AssignSource(memory, SourceOf(text));
}

void Text::AssignSource(TextMemory& memory, const TextSource& source) {
  void* block = memory.Reallocate(chars_, source.length * sizeof(wchar_t) + kBlockSlack);
  if (block == nullptr) {
    // A value that cannot hold the whole text holds none rather than a stale one.
    if (chars_ != nullptr) memory.Free(chars_);
    chars_ = nullptr;
    return;
  }
  chars_ = static_cast<wchar_t*>(block);
  CopyUnits(chars_, source);
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

bool TextWorkArea::Append(const TextSource& source) {
  if (memory_ == nullptr) return false;
  const size_t end = position_ + source.length * sizeof(wchar_t);
  if (block_ == nullptr || end + kReserve >= capacity_) {
    const size_t capacity = end + kGrowthBytes;
    void* block = memory_->Reallocate(block_, capacity + kBlockSlack);
    if (block == nullptr) return false;
    block_ = static_cast<char*>(block);
    capacity_ = capacity;
  }
  CopyUnits(reinterpret_cast<wchar_t*>(block_ + position_), source);
  position_ = end;
  return true;
}

const wchar_t* TextWorkArea::At(size_t position) const {
  return reinterpret_cast<const wchar_t*>(block_ + position);
}

Composition::Composition(TextWorkArea& area) : area_(area), start_(area.position_) {}

Composition::~Composition() { area_.position_ = start_; }

Composition& Composition::Add(const wchar_t* text) { return AddSource(SourceOf(text)); }

Composition& Composition::Add(const char* text) { return AddSource(SourceOf(text)); }

Composition& Composition::AddSource(const TextSource& source) {
  // A null text adds nothing; its length is 0, so nothing is read from it.
  if (!failed_ && !area_.Append(source)) failed_ = true;
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
    target.Assign(area_.memory(), static_cast<const wchar_t*>(nullptr));
    return;
  }
  const size_t units = (area_.position_ - start_) / sizeof(wchar_t) - 1;
  target.AssignSource(area_.memory(), {text, units, false});
}

}  // namespace launcher
