// Entry point of Corvane.exe.
#include <windows.h>

#include "agent/commands/device_links_win.h"
#include "agent/commands/obu_issue_ctrl.h"
#include "agent/server/http_server_win.h"

COBUIssueCtrl g_OBUIssueCtrl;

int WINAPI WinMain(HINSTANCE, HINSTANCE, LPSTR, int)
{
    InstallDeviceLinks(g_OBUIssueCtrl);
    // The server lives until the process ends.
    auto* server = new CHTTPServer([](int id, const CString& param, CString& result) {
        return g_OBUIssueCtrl.RunCommand(id, param, result);
    });
    server->Run(90, 200);

    MSG message;
    while (GetMessageA(&message, nullptr, 0, 0) > 0) {
        TranslateMessage(&message);
        DispatchMessageA(&message);
    }
    return 0;
}
