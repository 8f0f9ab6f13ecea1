// Entry point of Tarnlink.dll.
#include <windows.h>

#include "readerlink/tarnlink_app.h"

BOOL WINAPI DllMain(HINSTANCE /*instance*/, DWORD reason, LPVOID /*reserved*/)
{
    // The application object with its port table is built when the library
    // loads, and released (ports closed) when it unloads.
    if (reason == DLL_PROCESS_ATTACH) tarnlink::TheApp();
    return TRUE;
}
