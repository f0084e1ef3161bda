// Private heaps: a heap is created empty, grows on demand, and destroying it releases every
// block still allocated in it. Windows: HeapCreate and friends; POSIX: a list of tracked blocks.
#pragma once

#include <cstddef>

namespace platform {

using HeapHandle = void*;

// Creates a heap with no options, the given initial size and no maximum; null on failure.
HeapHandle CreatePrivateHeap(std::size_t initial_bytes);

// Destroys the heap and every block still in it. A null handle is ignored.
void DestroyPrivateHeap(HeapHandle heap);

// Allocates a zero-filled block; null on failure or for zero bytes.
void* AllocateFromHeap(HeapHandle heap, std::size_t bytes);

// Returns a block to the heap it came from. A null block is ignored.
void ReleaseToHeap(HeapHandle heap, void* block);

} // namespace platform
