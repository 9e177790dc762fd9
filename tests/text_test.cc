#include "launch/text.h"

#include <gtest/gtest.h>

#include <string>

#include "fake_platform.h"

namespace launcher_test {
namespace {

using launcher::Composition;
using launcher::Text;
using launcher::TextWorkArea;

// Appending keeps the capacity while the new end stays below capacity minus 4, and grows it
// in one step to the new end plus 16384 bytes otherwise.
TEST(TextWorkArea, GrowsOnlyWhenTheEndNearsTheCapacity) {
  TrackingTextMemory memory;
  TextWorkArea area;
  area.Start(memory);
  EXPECT_EQ(area.capacity(), 16u);
  EXPECT_EQ(memory.requests, std::vector<size_t>{16});
  {
    Composition five(area);
    five.Add(L"abcde");  // ends at 10 bytes
    EXPECT_EQ(area.position(), 10u);
    EXPECT_EQ(area.capacity(), 16u);
    EXPECT_EQ(std::wstring(five.Use()), L"abcde");
    EXPECT_EQ(area.position(), 12u);  // just past the terminator while in use
  }
  EXPECT_EQ(area.position(), 0u);
  {
    Composition six(area);
    six.Add(L"abc").Add(L"def");  // ends at 12 bytes
    EXPECT_EQ(area.capacity(), 12u + 16384u);
    EXPECT_EQ(memory.requests.back(), 12u + 16384u + 10u);
    EXPECT_EQ(std::wstring(six.Use()), L"abcdef");
  }
  const size_t requests = memory.requests.size();
  {
    Composition more(area);
    more.Add(std::wstring(8000, L'x').c_str());  // 16000 bytes: still below 16392
    EXPECT_EQ(memory.requests.size(), requests);
  }
  area.Release();
  EXPECT_EQ(memory.live_blocks(), 0u);
}

// Compositions nest: an inner one ends where the outer text stopped, which stays intact.
TEST(TextWorkArea, NestedCompositionsLeaveOuterTextsIntact) {
  TrackingTextMemory memory;
  TextWorkArea area;
  area.Start(memory);
  Composition outer(area);
  const wchar_t* message = outer.Add(L"Unable to ").Add(L"go").Use();
  Text copy;
  Composition(area).Add(L"C:\\").Add(L"PB35").MoveTo(copy);
  EXPECT_EQ(std::wstring(message), L"Unable to go");
  EXPECT_EQ(std::wstring(copy.get()), L"C:\\PB35");
  EXPECT_EQ(std::wstring(Composition(area).Use()), L"");
}

// A value owns a block of its length in bytes plus 10; null frees it.
TEST(Text, OwnsABlockSizedToItsText) {
  TrackingTextMemory memory;
  Text text;
  text.Assign(memory, L"DOSBox.exe");
  EXPECT_EQ(memory.requests.back(), 20u + 10u);
  text.Assign(memory, L"C:\\PB35\\");
  EXPECT_EQ(memory.requests.back(), 16u + 10u);
  EXPECT_EQ(std::wstring(text.get()), L"C:\\PB35\\");
  EXPECT_EQ(memory.live_blocks(), 1u);
  const wchar_t* none = nullptr;
  text.Assign(memory, none);
  EXPECT_EQ(text.get(), nullptr);
  EXPECT_EQ(memory.live_blocks(), 0u);
}

// When memory runs out, texts come back null rather than cut short.
TEST(Text, RunningOutOfMemoryGivesNull) {
  TrackingTextMemory memory;
  TextWorkArea area;
  area.Start(memory);
  Text text;
  text.Assign(memory, L"kept");
  memory.refuse = true;
  text.Assign(memory, L"longer text");
  EXPECT_EQ(text.get(), nullptr);
  Composition long_text(area);
  EXPECT_EQ(long_text.Add(L"more than sixteen bytes").Use(), nullptr);
}

}  // namespace
}  // namespace launcher_test
