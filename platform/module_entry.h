// The module's load and unload notifications. The platform's entry point (DllMain on
// Windows, a constructor and destructor pair on POSIX; both linked into the plug-in itself)
// calls these; the plug-in defines them.
#pragma once

namespace platform {

// The library was loaded into a process.
void OnModuleLoad();

// The library is being unloaded, or its process is ending.
void OnModuleUnload();

} // namespace platform
