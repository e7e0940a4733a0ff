// The module entry point of Tessera.dll, in a file of its own: <windows.h>
// brings OLE types that the host's own variants stand in for elsewhere.
#define WIN32_LEAN_AND_MEAN
#include <windows.h>

// The plug-in keeps no per-thread state, so thread attach and detach
// notifications are turned off.
BOOL APIENTRY DllMain(HMODULE module, DWORD reason, LPVOID) {
    if (reason == DLL_PROCESS_ATTACH) {
        DisableThreadLibraryCalls(module);
    }
    return TRUE;
}
