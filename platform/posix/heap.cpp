#include "platform/heap.h"

#include <cstdlib>
#include <mutex>
#include <new>

namespace platform {
namespace {

// Every block carries a link header so that destroying the heap can free what is left.
struct alignas(std::max_align_t) BlockHeader {
    BlockHeader* prev;
    BlockHeader* next;
};

struct PosixHeap {
    std::mutex lock; // heaps serialise their own access, as Windows heaps do
    BlockHeader head{&head, &head};
};

} // namespace

HeapHandle CreatePrivateHeap(std::size_t /*initial_bytes*/) {
    return new (std::nothrow) PosixHeap;
}

void DestroyPrivateHeap(HeapHandle heap) {
    auto* h = static_cast<PosixHeap*>(heap);
    if (h == nullptr)
        return;
    for (BlockHeader* b = h->head.next; b != &h->head;) {
        BlockHeader* next = b->next;
        std::free(b);
        b = next;
    }
    delete h;
}

void* AllocateFromHeap(HeapHandle heap, std::size_t bytes) {
    auto* h = static_cast<PosixHeap*>(heap);
    if (h == nullptr || bytes == 0 || bytes > SIZE_MAX - sizeof(BlockHeader))
        return nullptr;
    auto* b = static_cast<BlockHeader*>(std::calloc(1, sizeof(BlockHeader) + bytes));
    if (b == nullptr)
        return nullptr;
    std::lock_guard<std::mutex> guard(h->lock);
    b->prev = &h->head;
    b->next = h->head.next;
    h->head.next->prev = b;
    h->head.next = b;
    return b + 1;
}

void ReleaseToHeap(HeapHandle heap, void* block) {
    auto* h = static_cast<PosixHeap*>(heap);
    if (h == nullptr || block == nullptr)
        return;
    BlockHeader* b = static_cast<BlockHeader*>(block) - 1;
    {
        std::lock_guard<std::mutex> guard(h->lock);
        b->prev->next = b->next;
        b->next->prev = b->prev;
    }
    std::free(b);
}

} // namespace platform
