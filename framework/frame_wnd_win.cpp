#include "framework/frame_wnd_win.h"

#include <cstdio>
#include <map>
#include <mutex>
#include <string>
#include <tuple>

#include "framework/app_win.h"

const char* AfxRegisterWndClass(UINT classStyle, HCURSOR cursor, HBRUSH background, HICON icon)
{
    static std::mutex lock;
    static std::map<std::tuple<UINT, HCURSOR, HBRUSH, HICON>, std::string> names;
    std::lock_guard<std::mutex> guard(lock);
    auto key = std::make_tuple(classStyle, cursor, background, icon);
    auto found = names.find(key);
    if (found != names.end()) return found->second.c_str();

    char name[96];
    std::snprintf(name, sizeof name, "CorvaneWnd:%u:%p:%p:%p", classStyle, static_cast<void*>(cursor),
                  static_cast<void*>(background), static_cast<void*>(icon));
    WNDCLASSA windowClass{};
    windowClass.style = classStyle;
    windowClass.lpfnWndProc = &CWnd::StandardWindowProc;
    windowClass.hInstance = AfxGetInstanceHandle();
    windowClass.hIcon = icon;
    windowClass.hCursor = cursor;
    windowClass.hbrBackground = background;
    windowClass.lpszClassName = name;
    WNDCLASSA existing{};
    if (!GetClassInfoA(windowClass.hInstance, name, &existing) && !RegisterClassA(&windowClass))
        return nullptr;
    return names.emplace(key, name).first->second.c_str();
}

BOOL CFrameWnd::LoadFrame(UINT resourceId, DWORD style, CWnd* parent, void* context)
{
    m_resourceId = resourceId;
    HINSTANCE instance = AfxGetInstanceHandle();
    CString title = AfxLoadString(resourceId);
    HMENU menu = LoadMenuA(instance, MAKEINTRESOURCEA(resourceId));
    BOOL made = CreateEx(0, nullptr, title.c_str(), style, CW_USEDEFAULT, CW_USEDEFAULT, CW_USEDEFAULT,
                         CW_USEDEFAULT, parent ? parent->m_hWnd : nullptr, menu, context);
    // A window that was not made did not take the menu with it.
    if (!made && menu) DestroyMenu(menu);
    return made;
}

BOOL CFrameWnd::PreCreateWindow(CREATESTRUCTA& create)
{
    if (!create.lpszClass) {
        HICON icon = LoadIconA(AfxGetInstanceHandle(), MAKEINTRESOURCEA(m_resourceId));
        create.lpszClass = AfxRegisterWndClass(CS_DBLCLKS, LoadCursorA(nullptr, IDC_ARROW),
                                               reinterpret_cast<HBRUSH>(COLOR_WINDOW + 1), icon);
        if (!create.lpszClass) return FALSE;
    }
    return TRUE;
}

int CFrameWnd::OnCreate(CREATESTRUCTA*)
{
    return 0;
}

BOOL CFrameWnd::OnCmdMsg(UINT id, UINT code)
{
    if (CWnd::OnCmdMsg(id, code)) return TRUE;
    CWinApp* app = AfxGetApp();
    return app && app->OnCmdMsg(id, code);
}

void CFrameWnd::OnClose()
{
    DestroyWindow();
}

LRESULT CFrameWnd::WindowProc(UINT message, WPARAM wParam, LPARAM lParam)
{
    if (message == WM_DESTROY) {
        // The main frame's destruction is the application's ending.
        CWinApp* app = AfxGetApp();
        if (app && app->m_pMainWnd == this) app->BeginEnding();
    }
    if (message == WM_NCDESTROY) {
        CWinApp* app = AfxGetApp();
        if (app && app->m_pMainWnd == this) PostQuitMessage(0);
    }
    return CWnd::WindowProc(message, wParam, lParam);
}

void CFrameWnd::PostNcDestroy()
{
    CWinApp* app = AfxGetApp();
    if (app && app->m_pMainWnd == this) app->m_pMainWnd = nullptr;
    delete this;
}
