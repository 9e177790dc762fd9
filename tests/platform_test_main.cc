#include <gtest/gtest.h>

#include "platform/heaps.h"

namespace {

// The platform services allocate from the process heaps, which start-up creates first.
class ProcessHeaps : public testing::Environment {
 public:
  void SetUp() override { launcher::CreateHeaps(); }
  void TearDown() override { launcher::DestroyHeaps(); }
};

}  // namespace

int main(int argc, char** argv) {
  testing::InitGoogleTest(&argc, argv);
  testing::AddGlobalTestEnvironment(new ProcessHeaps);
  return RUN_ALL_TESTS();
}
