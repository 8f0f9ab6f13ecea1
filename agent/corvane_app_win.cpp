#include "agent/corvane_app_win.h"

#include <commctrl.h>

#include "agent/about_dlg_win.h"
#include "agent/commands/obu_issue_ctrl.h"
#include "agent/main_frame_win.h"
#include "agent/server/http_server_win.h"
#include "agent/startup.h"
#include "agent/startup_win.h"
#include "framework/lifetime.h"
#include "framework/message_box_win.h"
#include "resources/resource.h"

CORVANE_COMMAND_MAP(CCorvaneApp, CWinApp,
    Command(ID_APP_ABOUT, &CCorvaneApp::OnAppAbout),
)

CCorvaneApp::CCorvaneApp()
{
    SetAppID("Corvane.AppID.NoVersion");
    corvane::NoteLifetime(this, "CCorvaneApp", true);
}

CCorvaneApp::~CCorvaneApp()
{
    corvane::NoteLifetime(this, "CCorvaneApp", false);
}

BOOL CCorvaneApp::InitInstance()
{
    INITCOMMONCONTROLSEX controls{};
    controls.dwSize = sizeof controls;  // 8
    controls.dwICC = 0xFF;              // every basic control class
    InitCommonControlsEx(&controls);

    CWinApp::InitInstance();

    if (!AfxOleInit()) {
        AfxMessageBox(IDS_OLE_INIT_FAILED, MB_OK);
        return FALSE;
    }

    EnableControlContainer();
    EnableTaskbarInteraction(FALSE);
    SetRegistryKey("로컬 응용 프로그램 마법사에서 생성된 응용 프로그램");

    // The frame is never shown. Its creation may find another agent running.
    auto* frame = new CMainFrame;
    m_pMainWnd = frame;
    frame->LoadFrame(IDR_MAINFRAME, WS_OVERLAPPEDWINDOW | FWS_ADDTOTITLE, nullptr, nullptr);
    if (corvane::startup::AnotherInstanceFound()) return FALSE;  // exit code 0, nothing changed

    // The command server lives until the process ends. When it cannot start (the
    // port taken), it has logged why and the agent keeps its tray icon.
    auto* server = new CHTTPServer([](int id, const CString& param, CString& result) {
        return g_OBUIssueCtrl.RunCommand(id, param, result);
    });
    server->Run(corvane::startup::kServerPort, corvane::startup::kServerIdleTimeoutMs);
    return TRUE;
}

int CCorvaneApp::ExitInstance()
{
    AfxOleTerm(FALSE);
    return CWinApp::ExitInstance();
}

void CCorvaneApp::OnAppAbout()
{
    CAboutDlg panel;
    panel.DoModal();
}
