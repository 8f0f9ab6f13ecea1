// Entry point of Corvane.exe: the framework runs the application object
// (g_App, see globals_win.cpp).
#include <windows.h>

#include "framework/app_win.h"

int WINAPI WinMain(HINSTANCE instance, HINSTANCE previous, LPSTR commandLine, int show)
{
    return AfxWinMain(instance, previous, commandLine, show);
}
