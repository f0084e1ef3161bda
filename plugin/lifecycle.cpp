#include "plugin/lifecycle.h"

#include "plugin/identity.h"
#include "plugin/thread_text.h"
#include "runtime/heap.h"
#include "runtime/module_threads.h"
#include "runtime/net.h"
#include "runtime/packer.h"
#include "runtime/tls_client.h"

namespace plugin {

// No step's result is examined: the loader is always told the module started.
void Startup(Network network) {
    // 1. The module heap: the services' own records.
    runtime::CreateHeap(runtime::Heap::Module);
    // 2. The string heap, the thread-local slot and the loading thread's text area.
    runtime::CreateHeap(runtime::Heap::String);
    CreateThreadTextSlot();
    // 3. The memory heap: blocks requested explicitly.
    runtime::CreateHeap(runtime::Heap::Memory);
    // 4. The list of open pack handles.
    runtime::CreatePackHandleList();
    // 5, 6. Name, author text, version; the SDK version.
    SetIdentityValues();
    // 7. The JCALG1 packer, so the action document unpacks from the host's first call on.
    runtime::RegisterJcalg1Packer();
    // 8. The socket layer; registering the actions starts it again if this failed.
    if (network == Network::Included)
        runtime::NetworkStartup();
}

void Teardown(Network network) {
    runtime::DestroyPackHandleList();
    if (network == Network::Included)
        runtime::NetworkShutdown();
    runtime::DestroyHeap(runtime::Heap::Memory);
    // The slot goes first: on Windows freeing it releases the areas still set, which needs
    // the string heap alive.
    FreeThreadTextSlot();
    runtime::DestroyHeap(runtime::Heap::String);
    // A query still running in the background (the process exits under it) keeps its
    // connection records in the module heap: the heap stays, and goes with the process.
    // So do the TLS roots and crypto state that such a query may be using.
    if (runtime::module_threads.Now() == 0) {
        runtime::DestroyHeap(runtime::Heap::Module);
        runtime::ReleaseTlsState();
    }
}

} // namespace plugin
