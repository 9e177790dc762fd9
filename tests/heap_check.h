// Creates LibraryHeap and TextHeap, and ends every test by validating both, so that a write past
// a block fails the test that made it (32-bit Wine notices one only with heap tail checking).
#ifndef TESTS_HEAP_CHECK_H_
#define TESTS_HEAP_CHECK_H_

#include <gtest/gtest.h>
#include <windows.h>

#include "platform/heaps.h"

namespace launcher_test {

// Fails the running test when either heap is damaged; also for tests to call while a block is
// still in use, since a write past a block that is freed first may go unseen.
inline void ExpectHeapsWhole() {
  EXPECT_TRUE(::HeapValidate(launcher::LibraryHeap, 0, nullptr)) << "LibraryHeap is damaged";
  EXPECT_TRUE(::HeapValidate(launcher::TextHeap, 0, nullptr)) << "TextHeap is damaged";
}

inline const bool kHeapsChecked = [] {
  launcher::CreateHeaps();
  struct HeapCheck : testing::EmptyTestEventListener {
    // Listeners hear of a test's end in reverse order, so this comes before its result is shown.
    void OnTestEnd(const testing::TestInfo&) override { ExpectHeapsWhole(); }
  };
  testing::UnitTest::GetInstance()->listeners().Append(new HeapCheck);
  return true;
}();

}  // namespace launcher_test

#endif  // TESTS_HEAP_CHECK_H_
