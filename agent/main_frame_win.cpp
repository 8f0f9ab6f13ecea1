#include "agent/main_frame_win.h"

#include <shellapi.h>

#include <cstring>

#include "agent/startup.h"
#include "agent/startup_win.h"
#include "framework/app_win.h"
#include "resources/resource.h"

using namespace corvane::startup;

#ifdef CORVANE_WIN32
// The shell's tray record as the 32-bit agent hands it over.
static_assert(sizeof(NOTIFYICONDATAA) == 508, "NOTIFYICONDATAA of the 32-bit agent");
#endif

CORVANE_COMMAND_MAP(CMainFrame, CFrameWnd,
    Command(ID_AGENT_EXIT, &CMainFrame::OnAgentExit),
)

CMainFrame::~CMainFrame() = default;

BOOL CMainFrame::PreCreateWindow(CREATESTRUCTA& create)
{
    if (!CFrameWnd::PreCreateWindow(create)) return FALSE;
    create.dwExStyle &= ~static_cast<DWORD>(WS_EX_CLIENTEDGE);
    create.style = static_cast<LONG>(WS_CAPTION | WS_THICKFRAME | WS_MINIMIZEBOX | FWS_ADDTOTITLE);
    create.cx = 200;
    create.cy = 100;
    create.lpszClass = AfxRegisterWndClass(0);
    return create.lpszClass != nullptr;
}

int CMainFrame::OnCreate(CREATESTRUCTA* create)
{
    // A second agent in the logon leaves at once and changes nothing; the
    // application ends it cleanly after the failed creation.
    if (!ClaimSingleInstance(AfxGetAppName())) return -1;

    WriteRunValue();
    DeleteOlderRunValues();
    AddFirewallRule();
    Sleep(kFirewallPauseMs);

    if (CFrameWnd::OnCreate(create) == -1) return -1;
    AddTrayIcon();
    return 0;
}

void CMainFrame::AddTrayIcon()
{
    HICON icon = LoadIconA(AfxGetInstanceHandle(), MAKEINTRESOURCEA(IDR_MAINFRAME));
    NOTIFYICONDATAA tray{};
    tray.cbSize = sizeof tray;
    tray.hWnd = m_hWnd;
    tray.uID = kTrayIconId;
    tray.uFlags = NIF_MESSAGE | NIF_ICON | NIF_TIP;
    tray.uCallbackMessage = kTrayCallbackMessage;
    tray.hIcon = icon;
    std::strncpy(tray.szTip, kTrayTip, sizeof tray.szTip - 1);
    Shell_NotifyIconA(NIM_ADD, &tray);
    SendMessage(WM_SETICON, ICON_BIG, reinterpret_cast<LPARAM>(icon));
}

void CMainFrame::RemoveTrayIcon()
{
    NOTIFYICONDATAA tray{};
    tray.cbSize = sizeof tray;
    tray.hWnd = m_hWnd;
    tray.uID = kTrayIconId;
    Shell_NotifyIconA(NIM_DELETE, &tray);
}

void CMainFrame::OnDestroy()
{
    // The icon goes while its window still exists.
    RemoveTrayIcon();
    CFrameWnd::OnDestroy();
}

LRESULT CMainFrame::WindowProc(UINT message, WPARAM wParam, LPARAM lParam)
{
    if (message == kTrayCallbackMessage) return OnTrayNotify(wParam, lParam);
    return CFrameWnd::WindowProc(message, wParam, lParam);
}

LRESULT CMainFrame::OnTrayNotify(WPARAM, LPARAM lParam)
{
    if (static_cast<UINT>(lParam) != WM_RBUTTONDOWN) return 0;

    HMENU menu = LoadMenuA(AfxGetInstanceHandle(), MAKEINTRESOURCEA(IDR_MAINFRAME));
    if (!menu) return 0;
    HMENU popup = GetSubMenu(menu, kTrayPopupIndex);
    if (popup) {
        POINT cursor{};
        GetCursorPos(&cursor);
        SetForegroundWindow();
        EnableMenuItem(popup, ID_AGENT_EXIT, MF_BYCOMMAND | MF_ENABLED);
        // The chosen entry arrives as WM_COMMAND and follows the command route.
        TrackPopupMenu(popup, TPM_RIGHTALIGN, cursor.x, cursor.y, 0, m_hWnd, nullptr);
        // Lets the menu close when the operator clicks elsewhere afterwards (a
        // tray menu's owner is not the active window otherwise).
        PostMessage(WM_NULL);
    }
    DestroyMenu(menu);
    return 0;
}

void CMainFrame::OnSetFocus(HWND)
{
    // The view has no window of its own: nothing to pass the focus to.
    if (m_wndView.m_hWnd) m_wndView.SetFocus();
}

BOOL CMainFrame::OnCmdMsg(UINT id, UINT code)
{
    if (m_wndView.OnCmdMsg(id, code)) return TRUE;
    return CFrameWnd::OnCmdMsg(id, code);
}

void CMainFrame::OnAgentExit()
{
    if (CWinApp* app = AfxGetApp()) app->OnAppExit();
}
