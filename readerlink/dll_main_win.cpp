// Entry point of Tarnlink.dll.
#include <windows.h>

#include "readerlink/dev_lib_node.h"
#include "readerlink/tarnlink_app.h"

BOOL WINAPI DllMain(HINSTANCE /*instance*/, DWORD reason, LPVOID reserved)
{
    using tarnlink::CDevLibListen;
    // The application object with its port table is built when the library
    // loads, and released (ports closed) when it unloads.
    if (reason == DLL_PROCESS_ATTACH) tarnlink::TheApp();
    if (reason == DLL_PROCESS_DETACH) {
        // Listener threads leave their loops before the ports and buffers go.
        // When the process ends they are gone already; when the library is
        // unloaded they are stopped here, inside the loader's lock, where a
        // thread cannot be waited for to its end.
        if (reserved) {
            CDevLibListen::SetUnload(CDevLibListen::Unload::Process);
        } else {
            CDevLibListen::SetUnload(CDevLibListen::Unload::Library);
            tarnlink::TheApp().StopListeners();
        }
    }
    return TRUE;
}
