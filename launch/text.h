// Texts of the launch sequence: zero-terminated UTF-16 strings in memory that the process
// frame provides (its private text heap), composed in one growing work area. Nothing here
// frees a text one by one at the end of a run: the text heap goes away whole.
#ifndef LAUNCH_TEXT_H_
#define LAUNCH_TEXT_H_

#include <stddef.h>
#include <stdint.h>

namespace launcher {

static_assert(sizeof(wchar_t) == 2, "texts are UTF-16");

// Memory for texts. Blocks are not zero-filled; null means none could be had.
class TextMemory {
 public:
  virtual void* Allocate(size_t bytes) = 0;
  // Null `block` allocates. On failure the old block stays as it was.
  virtual void* Reallocate(void* block, size_t bytes) = 0;
  virtual void Free(void* block) = 0;

 protected:
  ~TextMemory() = default;
};

// Number of UTF-16 units before the terminator; 0 for null.
size_t TextLength(const wchar_t* text);

// A text to be copied: UTF-16 units, or ASCII bytes that are widened as they are copied. One
// copying path serves both, which keeps the image small.
struct TextSource {
  const void* units;
  size_t length;
  bool ascii;
};

// A text value owning one block of TextMemory: its length in bytes plus 10.
class Text {
 public:
  static constexpr size_t kBlockSlack = 10;

  constexpr Text() = default;
  Text(const Text&) = delete;
  Text& operator=(const Text&) = delete;

  // Null while no text is held, also after an allocation failed.
  const wchar_t* get() const { return chars_; }

  // Copies `text` into this value's block; a null `text` frees the block. An 8-bit `text`
  // must be ASCII: the program keeps its fixed texts that way, at half the size, and widens
  // them here.
  void Assign(TextMemory& memory, const wchar_t* text);
  void Assign(TextMemory& memory, const char* text);

 private:
  friend class Composition;
  void AssignSource(TextMemory& memory, const TextSource& source);

  wchar_t* chars_ = nullptr;
};

// The block in which texts are composed: a write position and a capacity in bytes. It grows
// in one step to the needed end plus kGrowthBytes, so a run reallocates it rarely.
class TextWorkArea {
 public:
  static constexpr size_t kStartCapacity = 16;
  static constexpr size_t kGrowthBytes = 0x4000;
  static constexpr size_t kBlockSlack = 10;
  // The terminator and the width of the block past the capacity, kept free before growing.
  static constexpr size_t kReserve = 4;

  constexpr TextWorkArea() = default;
  TextWorkArea(const TextWorkArea&) = delete;
  TextWorkArea& operator=(const TextWorkArea&) = delete;

  // Takes the first block (kStartCapacity bytes) from `memory`.
  void Start(TextMemory& memory);
  // Frees the block; the area can be started again.
  void Release();

  TextMemory& memory() const { return *memory_; }
  size_t capacity() const { return capacity_; }

 private:
  friend class Composition;
  // Writes `length` units (ASCII ones widened) and a terminator at the position, which then
  // rests on the terminator. False when the block could not grow; nothing is written then.
  bool Append(const TextSource& source);
  const wchar_t* At(size_t position) const;

  TextMemory* memory_ = nullptr;
  char* block_ = nullptr;
  size_t position_ = 0;
  size_t capacity_ = 0;
};

// One text being composed in the work area. When it goes out of scope the write position
// returns to where the composition began, so compositions nest like a stack.
class Composition {
 public:
  explicit Composition(TextWorkArea& area);
  ~Composition();
  Composition(const Composition&) = delete;
  Composition& operator=(const Composition&) = delete;

  Composition& Add(const wchar_t* text);
  Composition& Add(const char* text);  // ASCII
  Composition& Add(const Text& text) { return Add(text.get()); }

  // The composed text, to hand to one call while this composition lives: the write position
  // then stands just past its terminator. Null when the work area could not grow.
  const wchar_t* Use();
  // Copies the composed text into `target` (null there when memory ran out).
  void MoveTo(Text& target);

 private:
  Composition& AddSource(const TextSource& source);

  TextWorkArea& area_;
  size_t start_;
  bool failed_ = false;
};

}  // namespace launcher

#endif  // LAUNCH_TEXT_H_
