// CFrameWnd: a top-level frame window loaded from resources (title from the
// string table, menu and icon of the same id). Commands go to the frame, then to
// the application. The application's main frame closes the application: its
// destruction ends the message loop. Frames are made with `new` and delete
// themselves when their window is gone.
#pragma once

#include <windows.h>

#include "framework/wnd_win.h"

// Frame style: the frame's title carries the name of its document (the frame
// title alone when there is none).
constexpr DWORD FWS_ADDTOTITLE = 0x00008000;

// A window class of the framework with the given class style, cursor, brush and
// icon; the same arguments give the same class. Returns its name.
const char* AfxRegisterWndClass(UINT classStyle, HCURSOR cursor = nullptr, HBRUSH background = nullptr,
                                HICON icon = nullptr);

class CFrameWnd : public CWnd {
public:
    // Creates the frame from resource `resourceId` (string: title, menu, icon),
    // not shown. `context` is handed to the window's creation record. FALSE when
    // the window could not be made; the object is then deleted already.
    BOOL LoadFrame(UINT resourceId, DWORD style = WS_OVERLAPPEDWINDOW | FWS_ADDTOTITLE,
                   CWnd* parent = nullptr, void* context = nullptr);

    // The frame, then the application.
    BOOL OnCmdMsg(UINT id, UINT code) override;

protected:
    BOOL PreCreateWindow(CREATESTRUCTA& create) override;
    LRESULT WindowProc(UINT message, WPARAM wParam, LPARAM lParam) override;
    // Builds the frame's content from the creation context; the framework's
    // frames have none. 0, or -1 when the frame cannot be made.
    int OnCreate(CREATESTRUCTA* create) override;
    // Closes the frame; the main frame's close ends the application.
    void OnClose() override;
    void PostNcDestroy() override;

    UINT m_resourceId = 0;
};
