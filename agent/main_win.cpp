// Entry point of Corvane.exe: the device links go behind the controllers, then
// the framework runs the application object (g_App, see globals_win.cpp). Once
// the command server was made the agent ends at once (CCorvaneApp::EndProcess);
// a start that ended before it (another agent runs, OLE missing) returns.
#include <windows.h>

#include "agent/commands/device_links_win.h"
#include "agent/commands/obu_issue_ctrl.h"
#include "agent/corvane_app_win.h"
#include "framework/app_win.h"

int WINAPI WinMain(HINSTANCE instance, HINSTANCE previous, LPSTR commandLine, int show)
{
    InstallDeviceLinks(g_OBUIssueCtrl);
    const int exitCode = AfxWinMain(instance, previous, commandLine, show);
    if (g_App.ServerMade()) g_App.EndProcess(exitCode);
    return exitCode;
}
