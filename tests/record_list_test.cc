#include "platform/record_list.h"

#include <gtest/gtest.h>

#include <vector>

namespace launcher_test {
namespace {

using launcher::FirstRecord;
using launcher::NextRecord;
using launcher::RecordList;

std::vector<int> Walk(const RecordList& list) {
  std::vector<int> values;
  for (void* record = FirstRecord(list); record != nullptr; record = NextRecord(record)) {
    values.push_back(*static_cast<int*>(record));
  }
  return values;
}

// Records come newest first; removing a middle one, the head or the tail keeps the others'
// order. Nodes of one list may differ in size.
TEST(RecordList, KeepsNewestFirstThroughRemovals) {
  RecordList list;
  EXPECT_EQ(FirstRecord(list), nullptr);
  int* records[5] = {};
  for (int i = 1; i <= 4; ++i) {
    records[i] = static_cast<int*>(
        launcher::AddRecord(list, launcher::RecordNodeSize(sizeof(int) + 40 * i)));
    EXPECT_EQ(*records[i], 0) << "records start zero-filled";
    *records[i] = i;
  }
  EXPECT_EQ(Walk(list), (std::vector<int>{4, 3, 2, 1}));
  const struct {
    int removed;
    std::vector<int> left;
  } steps[] = {{3, {4, 2, 1}}, {4, {2, 1}}, {1, {2}}, {2, {}}};
  for (const auto& step : steps) {
    launcher::RemoveRecord(list, records[step.removed]);
    EXPECT_EQ(Walk(list), step.left) << "after removing " << step.removed;
  }
}

}  // namespace
}  // namespace launcher_test
