// The plug-in's load and unload hooks (platform/module_entry.h): the whole start-up and
// teardown, the network layer included, as hosts rely on. Linked into Rizi.lmd only.
#include "platform/module_entry.h"
#include "plugin/lifecycle.h"

namespace platform {

void OnModuleLoad() {
    plugin::Startup(plugin::Network::Included);
}

void OnModuleUnload() {
    plugin::Teardown(plugin::Network::Included);
}

} // namespace platform
