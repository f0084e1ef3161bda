// Start-up and teardown of the whole module, run by the platform's load and unload
// notifications (platform/module_entry.h) and called directly by tests. Owns the order in
// which the heaps, the per-thread text, the pack handle list, the identity values, the
// packer registry and the network layer come and go.
#pragma once

namespace plugin {

// Creates the module, string and memory heaps, the thread-local text slot with the calling
// thread's area, the pack handle list, the identity values; registers the JCALG1 packer and
// starts the network layer. Checks nothing: a service that failed fails its own calls later.
void Startup();

// Releases the pack handles, stops the network layer, destroys the memory heap, the text
// slot with the string heap, and the module heap.
void Teardown();

} // namespace plugin
