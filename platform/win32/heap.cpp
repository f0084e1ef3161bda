#include "platform/heap.h"

#include <windows.h>

namespace platform {

HeapHandle CreatePrivateHeap(std::size_t initial_bytes) {
    return HeapCreate(0, initial_bytes, 0);
}

void DestroyPrivateHeap(HeapHandle heap) {
    if (heap != nullptr)
        HeapDestroy(heap);
}

void* AllocateFromHeap(HeapHandle heap, std::size_t bytes) {
    if (heap == nullptr || bytes == 0)
        return nullptr;
    return HeapAlloc(heap, HEAP_ZERO_MEMORY, bytes);
}

void ReleaseToHeap(HeapHandle heap, void* block) {
    if (heap != nullptr && block != nullptr)
        HeapFree(heap, 0, block);
}

} // namespace platform
