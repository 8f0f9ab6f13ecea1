// Entry point of Corvane.exe: the device links go behind the controllers, then
// the framework runs the application object (g_App, see globals_win.cpp).
#include <windows.h>

#include "agent/commands/device_links_win.h"
#include "agent/commands/obu_issue_ctrl.h"
#include "framework/app_win.h"

int WINAPI WinMain(HINSTANCE instance, HINSTANCE previous, LPSTR commandLine, int show)
{
    InstallDeviceLinks(g_OBUIssueCtrl);
    return AfxWinMain(instance, previous, commandLine, show);
}
