#include "launch/text.h"

#include <gtest/gtest.h>

#include <string>

#include "fake_platform.h"

namespace launcher_test {
namespace {

using launcher::Composition;
using launcher::Text;
using launcher::TextWorkArea;

// The area starts at 16 bytes and grows, in one step to the new end plus 16384 bytes, only
// when the new end reaches its capacity minus 4.
TEST(TextWorkArea, GrowsOnlyWhenTheEndNearsTheCapacity) {
  TrackingTextMemory memory;
  TextWorkArea area;
  area.Start(memory);
  const struct {
    size_t units;  // of one composed text, two bytes each
    size_t capacity;
  } steps[] = {{5, 16}, {6, 12 + 16384}, {8194, 12 + 16384}, {8196, 16392 + 16384}};
  for (const auto& step : steps) {
    const std::wstring text(step.units, L'x');
    Composition composition(area);
    EXPECT_STREQ(composition.Add(text.c_str()).Use(), text.c_str());
    EXPECT_EQ(area.capacity(), step.capacity) << step.units;
  }
  EXPECT_EQ(memory.requests, (std::vector<size_t>{16, 12 + 16384 + 10, 16392 + 16384 + 10}));
  area.Release();
}

// Compositions nest: an inner one ends where the outer text stopped, which stays intact.
TEST(TextWorkArea, NestedCompositionsLeaveOuterTextsIntact) {
  TrackingTextMemory memory;
  TextWorkArea area;
  area.Start(memory);
  Composition outer(area);
  const wchar_t* message = outer.Add(L"Unable to ").Add(L"go").Use();
  Text copy;
  Composition(area).Add(L"C:\\").Add("PB35").MoveTo(copy);
  EXPECT_STREQ(message, L"Unable to go");
  EXPECT_STREQ(copy.get(), L"C:\\PB35");
  EXPECT_STREQ(Composition(area).Use(), L"");
}

// A value owns one block of its length in bytes plus 10. Running out of memory leaves it null
// rather than stale.
TEST(Text, OwnsABlockSizedToItsText) {
  TrackingTextMemory memory;
  Text text;
  text.Assign(memory, L"DOSBox.exe");
  text.Assign(memory, "C:\\PB35\\");
  EXPECT_EQ(memory.requests, (std::vector<size_t>{20 + 10, 16 + 10}));
  EXPECT_STREQ(text.get(), L"C:\\PB35\\");
  memory.refuse = true;
  text.Assign(memory, L"longer text");
  EXPECT_EQ(text.get(), nullptr);
}

}  // namespace
}  // namespace launcher_test
