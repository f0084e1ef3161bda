// Runs every unit test with the module's heaps in place, as start-up leaves them.
#include "runtime/heap.h"

#include <gtest/gtest.h>

namespace {

class HeapEnvironment : public ::testing::Environment {
  public:
    void SetUp() override {
        runtime::CreateHeap(runtime::Heap::Module);
        runtime::CreateHeap(runtime::Heap::Memory);
        runtime::CreateHeap(runtime::Heap::String);
    }
    void TearDown() override {
        runtime::DestroyHeap(runtime::Heap::Memory);
        runtime::DestroyHeap(runtime::Heap::String);
        runtime::DestroyHeap(runtime::Heap::Module);
    }
};

} // namespace

int main(int argc, char** argv) {
    ::testing::InitGoogleTest(&argc, argv);
    ::testing::AddGlobalTestEnvironment(new HeapEnvironment);
    return RUN_ALL_TESTS();
}
