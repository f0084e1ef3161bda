#include "runtime/heap.h"

#include "platform/heap.h"

namespace runtime {
namespace {

constexpr std::size_t InitialHeapBytes = 4096;

platform::HeapHandle heaps[3] = {nullptr, nullptr, nullptr};

platform::HeapHandle& Slot(Heap heap) {
    return heaps[static_cast<int>(heap)];
}

} // namespace

bool CreateHeap(Heap heap) {
    if (Slot(heap) == nullptr)
        Slot(heap) = platform::CreatePrivateHeap(InitialHeapBytes);
    return Slot(heap) != nullptr;
}

void DestroyHeap(Heap heap) {
    platform::DestroyPrivateHeap(Slot(heap));
    Slot(heap) = nullptr;
}

bool HeapExists(Heap heap) {
    return Slot(heap) != nullptr;
}

void* AllocateBlock(Heap heap, std::int64_t bytes) {
    if (bytes <= 0 || static_cast<std::uint64_t>(bytes) > SIZE_MAX)
        return nullptr;
    return platform::AllocateFromHeap(Slot(heap), static_cast<std::size_t>(bytes));
}

void ReleaseBlock(Heap heap, void* block) {
    platform::ReleaseToHeap(Slot(heap), block);
}

} // namespace runtime
