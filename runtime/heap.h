// The module's three heaps: module (the services' own records), memory (explicit zero-filled
// blocks) and string (per-thread temporary text). Start-up creates them and teardown destroys
// them, releasing whatever they still hold. A heap that does not exist (before start-up, or
// when creating it failed) hands out nothing: allocations from it return null.
#pragma once

#include <cstdint>

namespace runtime {

enum class Heap { Module, Memory, String };

// Creates the heap (4096 bytes to start, no maximum) unless it exists; false on failure.
bool CreateHeap(Heap heap);

// Destroys the heap with every block still in it. Does nothing if it does not exist.
void DestroyHeap(Heap heap);

// True while the heap exists.
bool HeapExists(Heap heap);

// A zero-filled block of the given size; null for zero or fewer bytes or on failure.
void* AllocateBlock(Heap heap, std::int64_t bytes);

// Returns a block to its heap. A null block is ignored.
void ReleaseBlock(Heap heap, void* block);

// Owns one block of a heap; releases it when it goes out of scope.
class HeapBlock {
  public:
    HeapBlock(Heap heap, std::int64_t bytes) : heap_(heap), block_(AllocateBlock(heap, bytes)) {}
    ~HeapBlock() { ReleaseBlock(heap_, block_); }
    HeapBlock(const HeapBlock&) = delete;
    HeapBlock& operator=(const HeapBlock&) = delete;

    void* Get() const { return block_; }
    void* Release() {
        void* b = block_;
        block_ = nullptr;
        return b;
    }

  private:
    Heap heap_;
    void* block_;
};

} // namespace runtime
