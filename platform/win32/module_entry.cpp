// The DLL's entry point. Linked into the plug-in only.
#include "platform/module_entry.h"

#include <windows.h>

// Thread notifications do nothing: per-thread storage is released through fiber-local
// storage callbacks. The unload runs whatever reserved says, also when the process ends.
extern "C" BOOL WINAPI DllMain(HINSTANCE /*instance*/, DWORD reason, LPVOID /*reserved*/) {
    if (reason == DLL_PROCESS_ATTACH)
        platform::OnModuleLoad();
    else if (reason == DLL_PROCESS_DETACH)
        platform::OnModuleUnload();
    return TRUE;
}
