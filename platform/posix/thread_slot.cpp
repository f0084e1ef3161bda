#include "platform/thread_slot.h"

#include <pthread.h>

namespace platform {

static_assert(sizeof(pthread_key_t) <= sizeof(ThreadSlot), "a key fits in a slot index");

ThreadSlot AllocateThreadSlot(ThreadSlotRelease release) {
    pthread_key_t key;
    if (pthread_key_create(&key, release) != 0)
        return InvalidThreadSlot;
    return static_cast<ThreadSlot>(key);
}

void FreeThreadSlot(ThreadSlot slot) {
    // Deleting the key runs no destructor, and none runs later: a thread that ends after
    // the library was unloaded never calls into unmapped code.
    if (slot != InvalidThreadSlot)
        pthread_key_delete(static_cast<pthread_key_t>(slot));
}

void* ThreadSlotValue(ThreadSlot slot) {
    if (slot == InvalidThreadSlot)
        return nullptr;
    return pthread_getspecific(static_cast<pthread_key_t>(slot));
}

bool SetThreadSlotValue(ThreadSlot slot, void* value) {
    if (slot == InvalidThreadSlot)
        return false;
    return pthread_setspecific(static_cast<pthread_key_t>(slot), value) == 0;
}

} // namespace platform
