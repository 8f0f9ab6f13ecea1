#include "agent/corvane_app_win.h"

#include <commctrl.h>

#include "agent/about_dlg_win.h"
#include "agent/commands/obu_issue_ctrl.h"
#include "agent/main_frame_win.h"
#include "agent/server/http_server_win.h"
#include "agent/startup.h"
#include "agent/startup_win.h"
#include "framework/device_lock.h"
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

    // This thread owns the agent's windows (the tray, the test panel): a
    // command started here never waits for a device that a page's command
    // holds, it is answered at once as for a device that cannot be opened.
    DeviceLock::MarkWindowThread();

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

    // The command server lives until the process ends; from the beginning of the
    // ending on it takes no more work (OnEnding). When it cannot start (the port
    // taken), it has logged why and the agent keeps its tray icon.
    m_server = new CHTTPServer([](int id, const CString& param, CString& result) {
        return g_OBUIssueCtrl.RunCommand(id, param, result);
    });
    m_server->Run(corvane::startup::kServerPort, corvane::startup::kServerIdleTimeoutMs);
    return TRUE;
}

void CCorvaneApp::OnEnding()
{
    // Port 90 is let go at once and no command starts any more; commands that
    // run are not waited for.
    if (m_server) m_server->StopTakingWork();
    CWinApp::OnEnding();
}

int CCorvaneApp::ExitInstance()
{
    AfxOleTerm(FALSE);
    return CWinApp::ExitInstance();
}

void CCorvaneApp::EndProcess(int exitCode)
{
    // An open reader link is closed, unless a card command holds the card: that
    // link goes with the process.
    g_OBUIssueCtrl.CloseIdleCardLink();
    // Not exit() nor ExitProcess: client threads may still be inside a command,
    // holding the card, a device controller or a lock inside the reader library.
    // The C runtime's exit work, the global objects' destructors (the
    // controllers those threads use) and the DLLs' detach code would run beneath
    // them, or wait for them for as long as a silent device keeps them. Ending
    // the process here stops every thread where it is; the single-instance event
    // and port 90 go with the process, and a connection in progress is cut. The
    // log writes each line through to its file: nothing waits to be flushed.
    TerminateProcess(GetCurrentProcess(), static_cast<UINT>(exitCode));
    ExitProcess(static_cast<UINT>(exitCode));  // not reached
}

void CCorvaneApp::OnAppAbout()
{
    CAboutDlg panel;
    panel.DoModal();
}
