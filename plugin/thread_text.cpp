#include "plugin/thread_text.h"

#include "platform/thread_slot.h"
#include "runtime/heap.h"

#include <atomic>
#include <cstring>

namespace plugin {

// Text (bytes, no alignment needed) lives in chunks that never move, so earlier allocations stay
// valid while a scope grows; a request larger than a chunk gets a chunk of its own.
struct Chunk {
    Chunk* below;
    std::size_t capacity;
    std::size_t used;
};

// One per thread: the chunk stack, the first chunk kept for the thread's later calls.
struct Area {
    Chunk* top;
};

namespace {

constexpr std::size_t ChunkBytes = 1024;

platform::ThreadSlot text_slot = platform::InvalidThreadSlot;
std::atomic<std::int32_t> live_areas{0};

char* ChunkData(Chunk* chunk) {
    return reinterpret_cast<char*>(chunk + 1);
}

Chunk* NewChunk(std::size_t capacity, Chunk* below) {
    if (capacity > SIZE_MAX / 2)
        return nullptr;
    auto* chunk = static_cast<Chunk*>(runtime::AllocateBlock(
        runtime::Heap::String, static_cast<std::int64_t>(sizeof(Chunk) + capacity)));
    if (chunk == nullptr)
        return nullptr;
    chunk->below = below;
    chunk->capacity = capacity;
    chunk->used = 0;
    return chunk;
}

// Gives back every chunk above keep (all of them when keep is null).
void PopChunks(Area* area, Chunk* keep) {
    while (area->top != keep && area->top != nullptr) {
        Chunk* below = area->top->below;
        runtime::ReleaseBlock(runtime::Heap::String, area->top);
        area->top = below;
    }
}

// The slot's release function: runs on the ending thread (and, on Windows, for every
// thread when the slot is freed).
void ReleaseArea(void* value) {
    auto* area = static_cast<Area*>(value);
    PopChunks(area, nullptr);
    runtime::ReleaseBlock(runtime::Heap::String, area);
    live_areas.fetch_sub(1, std::memory_order_relaxed);
}

Area* CreateArea() {
    auto* area = static_cast<Area*>(runtime::AllocateBlock(runtime::Heap::String, sizeof(Area)));
    if (area == nullptr)
        return nullptr;
    area->top = NewChunk(ChunkBytes, nullptr);
    if (area->top == nullptr || !platform::SetThreadSlotValue(text_slot, area)) {
        PopChunks(area, nullptr);
        runtime::ReleaseBlock(runtime::Heap::String, area);
        return nullptr;
    }
    live_areas.fetch_add(1, std::memory_order_relaxed);
    return area;
}

// The calling thread's area, created on its first request.
Area* ThisThreadArea() {
    if (text_slot == platform::InvalidThreadSlot)
        return nullptr;
    auto* area = static_cast<Area*>(platform::ThreadSlotValue(text_slot));
    return area != nullptr ? area : CreateArea();
}

} // namespace

bool CreateThreadTextSlot() {
    if (text_slot == platform::InvalidThreadSlot)
        text_slot = platform::AllocateThreadSlot(&ReleaseArea);
    return ThisThreadArea() != nullptr;
}

void FreeThreadTextSlot() {
    platform::FreeThreadSlot(text_slot);
    text_slot = platform::InvalidThreadSlot;
    // Areas whose release did not run go with the string heap.
    live_areas.store(0, std::memory_order_relaxed);
}

std::int32_t LiveThreadTextAreas() {
    return live_areas.load(std::memory_order_relaxed);
}

TemporaryText::TemporaryText() : area_(ThisThreadArea()), mark_chunk_(nullptr), mark_used_(0) {
    if (area_ != nullptr) {
        mark_chunk_ = area_->top;
        mark_used_ = area_->top->used;
    }
}

TemporaryText::~TemporaryText() {
    if (area_ == nullptr)
        return;
    PopChunks(area_, mark_chunk_);
    area_->top->used = mark_used_;
}

char* TemporaryText::Allocate(std::size_t bytes) {
    if (area_ == nullptr || bytes == 0 || bytes > SIZE_MAX / 2)
        return nullptr;
    Chunk* chunk = area_->top;
    if (chunk->capacity - chunk->used < bytes) {
        chunk = NewChunk(bytes > ChunkBytes ? bytes : ChunkBytes, area_->top);
        if (chunk == nullptr)
            return nullptr;
        area_->top = chunk;
    }
    char* block = ChunkData(chunk) + chunk->used;
    chunk->used += bytes;
    std::memset(block, 0, bytes);
    return block;
}

char* TemporaryText::Copy(const char* text) {
    if (text == nullptr)
        text = "";
    const std::size_t length = std::strlen(text);
    char* copy = Allocate(length + 1);
    if (copy != nullptr)
        std::memcpy(copy, text, length + 1);
    return copy;
}

} // namespace plugin
