// CMainFrame: the agent's hidden main window. Creating it makes sure only one
// agent runs in the logon, registers the agent in the Run key, removes older
// agents' values, opens the firewall for the command port and adds the tray icon,
// whose right-button menu ends the agent. Destroying it removes the icon.
#pragma once

#include "agent/child_view_win.h"
#include "framework/frame_wnd_win.h"

class CMainFrame : public CFrameWnd {
public:
    CMainFrame() = default;
    ~CMainFrame() override;

    // The child view, then the frame, then the application.
    BOOL OnCmdMsg(UINT id, UINT code) override;

protected:
    BOOL PreCreateWindow(CREATESTRUCTA& create) override;
    LRESULT WindowProc(UINT message, WPARAM wParam, LPARAM lParam) override;
    int OnCreate(CREATESTRUCTA* create) override;
    void OnDestroy() override;
    void OnSetFocus(HWND previous) override;
    // The tray icon's callback (WM_USER + 1); lParam is the mouse message.
    LRESULT OnTrayNotify(WPARAM wParam, LPARAM lParam);
    // "Agent 종료": ends the agent as the exit command does.
    void OnAgentExit();

    CORVANE_DECLARE_COMMAND_MAP()

private:
    void AddTrayIcon();
    void RemoveTrayIcon();

    CChildView m_wndView;
};
