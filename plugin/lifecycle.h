// Start-up and teardown of the whole module, run by the platform's load and unload
// notifications (platform/module_entry.h: plugin_entry.cpp for the plug-in, lua_module.cpp
// for the Lua module) and called directly by tests. Owns the order in
// which the heaps, the per-thread text, the pack handle list, the identity values, the
// packer registry and the network layer come and go.
#pragma once

namespace plugin {

// Whether start-up and teardown take the network layer along. The plug-in's do: hosts rely
// on it. The Lua module's do not: they run in the library's load and unload notifications,
// under the Windows loader lock, where starting the socket library risks a deadlock; its Lua
// states start and stop the network instead (timelib::OpenModule).
enum class Network { Included, Excluded };

// Creates the module, string and memory heaps, the thread-local text slot with the calling
// thread's area, the pack handle list, the identity values; registers the JCALG1 packer and
// starts the network layer if included. Checks nothing: a service that failed fails its own
// calls later.
void Startup(Network network = Network::Included);

// Releases the pack handles, stops the network layer if included, destroys the memory heap,
// the text slot with the string heap, and the module heap unless a background thread still
// runs (runtime/module_threads.h) and may use it.
void Teardown(Network network = Network::Included);

} // namespace plugin
