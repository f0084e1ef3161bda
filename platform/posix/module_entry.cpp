// The shared object's load and unload hooks. Linked into the plug-in only.
#include "platform/module_entry.h"

namespace {

__attribute__((constructor)) void LoadModule() {
    platform::OnModuleLoad();
}

__attribute__((destructor)) void UnloadModule() {
    platform::OnModuleUnload();
}

} // namespace
