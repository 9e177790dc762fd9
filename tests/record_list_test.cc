#include "platform/record_list.h"

#include <gtest/gtest.h>

#include <vector>

namespace launcher_test {
namespace {

using launcher::AddRecord;
using launcher::FirstRecord;
using launcher::NextRecord;
using launcher::RecordList;
using launcher::RecordNodeSize;
using launcher::RemoveRecord;

std::vector<int> Walk(const RecordList& list) {
  std::vector<int> values;
  for (void* record = FirstRecord(list); record != nullptr; record = NextRecord(record)) {
    values.push_back(*static_cast<int*>(record));
  }
  return values;
}

int* Add(RecordList& list, int value, size_t extra = 0) {
  auto* record = static_cast<int*>(AddRecord(list, RecordNodeSize(sizeof(int) + extra)));
  EXPECT_EQ(*record, 0) << "records start zero-filled";
  *record = value;
  return record;
}

// Records come newest first; removing the head, a middle or the tail keeps the others' order.
TEST(RecordList, KeepsNewestFirstThroughRemovals) {
  RecordList list;
  EXPECT_EQ(FirstRecord(list), nullptr);
  int* one = Add(list, 1);
  int* two = Add(list, 2, 100);  // nodes of one list may differ in size
  int* three = Add(list, 3);
  int* four = Add(list, 4);
  EXPECT_EQ(Walk(list), (std::vector<int>{4, 3, 2, 1}));

  RemoveRecord(list, three);
  EXPECT_EQ(Walk(list), (std::vector<int>{4, 2, 1}));
  RemoveRecord(list, four);
  EXPECT_EQ(Walk(list), (std::vector<int>{2, 1}));
  RemoveRecord(list, one);
  EXPECT_EQ(Walk(list), (std::vector<int>{2}));
  RemoveRecord(list, two);
  EXPECT_EQ(list.head, nullptr);
}

// A walk that removes as it goes takes each next record first.
TEST(RecordList, WalkCanRemoveTheCurrentRecord) {
  RecordList list;
  for (int i = 1; i <= 5; ++i) Add(list, i);
  for (void* record = FirstRecord(list); record != nullptr;) {
    void* next = NextRecord(record);
    if (*static_cast<int*>(record) % 2 == 1) RemoveRecord(list, record);
    record = next;
  }
  EXPECT_EQ(Walk(list), (std::vector<int>{4, 2}));
}

}  // namespace
}  // namespace launcher_test
