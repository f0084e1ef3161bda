// Temporary text: storage private to each thread, taken from the string heap. Start-up
// creates the thread-local slot and the loading thread's area; any other thread gets its
// area on its first request, and the area is released when that thread ends. Teardown frees
// the slot; destroying the string heap then reclaims every area still left.
#pragma once

#include <cstddef>
#include <cstdint>

namespace plugin {

// Creates the slot (unless it exists) and the calling thread's area; false on failure.
bool CreateThreadTextSlot();

// Frees the slot. Areas of threads still running stay in the string heap, which the caller
// destroys next.
void FreeThreadTextSlot();

// Number of thread areas alive, for tests.
std::int32_t LiveThreadTextAreas();

// A scope of temporary text on the calling thread: what it allocates is given back when
// the scope ends, while the thread's area stays for its next call. Scopes nest.
class TemporaryText {
  public:
    TemporaryText();
    ~TemporaryText();
    TemporaryText(const TemporaryText&) = delete;
    TemporaryText& operator=(const TemporaryText&) = delete;

    // A zero-filled block of bytes in this thread's area; null when there is no slot, no
    // string heap or no memory.
    char* Allocate(std::size_t bytes);

    // A copy of text and its terminating zero (null counts as empty); null on failure.
    char* Copy(const char* text);

  private:
    struct Area* area_;
    struct Chunk* mark_chunk_;
    std::size_t mark_used_;
};

} // namespace plugin
