#include "framework/wnd_win.h"

#include <vector>

#include "framework/app_win.h"
#include "framework/message_box_win.h"

namespace {

// The window property that binds a window to its CWnd.
constexpr const char* kBindingProperty = "Corvane.CWnd";

// The object whose window of a framework class is being created on this thread;
// it is bound at the window's first message.
thread_local CWnd* t_creating = nullptr;

bool HasStandardProc(const char* className, HINSTANCE instance)
{
    WNDCLASSA info{};
    if (!GetClassInfoA(instance, className, &info) && !GetClassInfoA(nullptr, className, &info))
        return false;
    return info.lpfnWndProc == &CWnd::StandardWindowProc;
}

}  // namespace

CWnd::~CWnd()
{
    // A window that outlives its object keeps working without it.
    if (m_hWnd) Detach();
}

CWnd* CWnd::FromHandlePermanent(HWND window)
{
    if (!window) return nullptr;
    return static_cast<CWnd*>(GetPropA(window, kBindingProperty));
}

void CWnd::Attach(HWND window)
{
    m_hWnd = window;
    SetPropA(window, kBindingProperty, this);
}

void CWnd::Detach()
{
    if (m_superProc) {
        SetWindowLongPtrA(m_hWnd, GWLP_WNDPROC, reinterpret_cast<LONG_PTR>(m_superProc));
        m_superProc = nullptr;
    }
    RemovePropA(m_hWnd, kBindingProperty);
    m_hWnd = nullptr;
}

LRESULT CALLBACK CWnd::StandardWindowProc(HWND window, UINT message, WPARAM wParam, LPARAM lParam)
{
    CWnd* self = FromHandlePermanent(window);
    if (!self && t_creating) {
        self = t_creating;
        t_creating = nullptr;
        self->Attach(window);
    }
    if (!self) return ::DefWindowProcA(window, message, wParam, lParam);
    LRESULT result = self->Dispatch(message, wParam, lParam);
    if (message == WM_NCDESTROY) {
        self->Detach();
        self->PostNcDestroy();
    }
    return result;
}

LRESULT CWnd::Dispatch(UINT message, WPARAM wParam, LPARAM lParam)
{
    MSG current{m_hWnd, message, wParam, lParam, 0, {0, 0}};
    const MSG* outer = m_current;
    m_current = &current;
    LRESULT result = WindowProc(message, wParam, lParam);
    m_current = outer;
    return result;
}

BOOL CWnd::PreCreateWindow(CREATESTRUCTA&)
{
    return TRUE;
}

BOOL CWnd::CreateEx(DWORD exStyle, const char* className, const char* windowName, DWORD style, int x,
                    int y, int width, int height, HWND parent, HMENU menuOrId, void* param)
{
    CREATESTRUCTA create{};
    create.dwExStyle = exStyle;
    create.lpszClass = className;
    create.lpszName = windowName;
    create.style = static_cast<LONG>(style);
    create.x = x;
    create.y = y;
    create.cx = width;
    create.cy = height;
    create.hwndParent = parent;
    create.hMenu = menuOrId;
    create.hInstance = AfxGetInstanceHandle();
    create.lpCreateParams = param;
    if (!PreCreateWindow(create)) {
        PostNcDestroy();
        return FALSE;
    }
    const bool ours = HasStandardProc(create.lpszClass, create.hInstance);
    t_creating = ours ? this : nullptr;
    HWND window = CreateWindowExA(create.dwExStyle, create.lpszClass, create.lpszName,
                                  static_cast<DWORD>(create.style), create.x, create.y, create.cx,
                                  create.cy, create.hwndParent, create.hMenu, create.hInstance,
                                  create.lpCreateParams);
    const bool neverBound = t_creating == this;
    t_creating = nullptr;
    if (!window) {
        // A window that got as far as its first message has run PostNcDestroy.
        if (!ours || neverBound) PostNcDestroy();
        return FALSE;
    }
    if (!ours) SubclassWindow(window);
    return TRUE;
}

BOOL CWnd::CreateControl(const char* className, const char* text, DWORD style, const RECT& rect,
                         CWnd* parent, UINT id)
{
    return CreateEx(0, className, text, style | WS_CHILD, rect.left, rect.top, rect.right - rect.left,
                    rect.bottom - rect.top, parent ? parent->m_hWnd : nullptr,
                    reinterpret_cast<HMENU>(static_cast<UINT_PTR>(id)));
}

BOOL CWnd::DestroyWindow()
{
    if (!m_hWnd) return FALSE;
    return ::DestroyWindow(m_hWnd);
}

BOOL CWnd::SubclassWindow(HWND window)
{
    if (!window || m_hWnd || FromHandlePermanent(window)) return FALSE;
    Attach(window);
    LONG_PTR previous =
        SetWindowLongPtrA(window, GWLP_WNDPROC, reinterpret_cast<LONG_PTR>(&CWnd::StandardWindowProc));
    m_superProc = reinterpret_cast<WNDPROC>(previous);
    // A window of a framework class needs no second pass through the same procedure.
    if (m_superProc == &CWnd::StandardWindowProc) m_superProc = nullptr;
    return TRUE;
}

BOOL CWnd::SubclassDlgItem(UINT id, CWnd* parent)
{
    return parent && SubclassWindow(::GetDlgItem(parent->m_hWnd, static_cast<int>(id)));
}

HWND CWnd::UnsubclassWindow()
{
    HWND window = m_hWnd;
    if (window) Detach();
    return window;
}

LRESULT CWnd::SendMessage(UINT message, WPARAM wParam, LPARAM lParam) const
{
    return ::SendMessageA(m_hWnd, message, wParam, lParam);
}

BOOL CWnd::PostMessage(UINT message, WPARAM wParam, LPARAM lParam) const
{
    return ::PostMessageA(m_hWnd, message, wParam, lParam);
}

BOOL CWnd::ShowWindow(int command) const { return ::ShowWindow(m_hWnd, command); }
BOOL CWnd::IsWindowVisible() const { return ::IsWindowVisible(m_hWnd); }
void CWnd::SetWindowText(const char* text) const { ::SetWindowTextA(m_hWnd, text); }

CString WindowTextOf(HWND window)
{
    int length = ::GetWindowTextLengthA(window);
    std::vector<char> text(static_cast<size_t>(length) + 1);
    int copied = ::GetWindowTextA(window, text.data(), length + 1);
    return CString(text.data(), static_cast<size_t>(copied > 0 ? copied : 0));
}

CString CWnd::GetWindowText() const
{
    return WindowTextOf(m_hWnd);
}

HWND CWnd::GetDlgItem(int id) const { return ::GetDlgItem(m_hWnd, id); }
CWnd* CWnd::GetParent() const { return FromHandlePermanent(::GetParent(m_hWnd)); }
HWND CWnd::SetFocus() const { return ::SetFocus(m_hWnd); }
BOOL CWnd::SetForegroundWindow() const { return ::SetForegroundWindow(m_hWnd); }
void CWnd::Invalidate(BOOL erase) const { ::InvalidateRect(m_hWnd, nullptr, erase); }

BOOL CWnd::MoveWindow(int x, int y, int width, int height, BOOL repaint) const
{
    return ::MoveWindow(m_hWnd, x, y, width, height, repaint);
}

void CWnd::GetClientRect(RECT* rect) const { ::GetClientRect(m_hWnd, rect); }
void CWnd::GetWindowRect(RECT* rect) const { ::GetWindowRect(m_hWnd, rect); }
UINT_PTR CWnd::SetTimer(UINT_PTR id, UINT elapseMs) { return ::SetTimer(m_hWnd, id, elapseMs, nullptr); }
BOOL CWnd::KillTimer(UINT_PTR id) { return ::KillTimer(m_hWnd, id); }

int CWnd::MessageBox(const char* text, const char* caption, UINT type) const
{
    return corvane::ShowMessageBox(m_hWnd, text, caption ? caption : AfxGetAppName(), type);
}

BOOL CWnd::OnCmdMsg(UINT id, UINT code)
{
    return CCmdTarget::OnCmdMsg(id, code);
}

LRESULT CWnd::DefWindowProc(UINT message, WPARAM wParam, LPARAM lParam)
{
    if (m_superProc) return ::CallWindowProcA(m_superProc, m_hWnd, message, wParam, lParam);
    return ::DefWindowProcA(m_hWnd, message, wParam, lParam);
}

LRESULT CWnd::Default()
{
    if (!m_current) return 0;
    return DefWindowProc(m_current->message, m_current->wParam, m_current->lParam);
}

BOOL CWnd::ReflectToChild(UINT message, WPARAM wParam, LPARAM lParam, LRESULT* result)
{
    HWND child = nullptr;
    switch (message) {
    case WM_DRAWITEM:
        if (wParam != 0) child = reinterpret_cast<DRAWITEMSTRUCT*>(lParam)->hwndItem;  // 0: a menu
        break;
    case WM_MEASUREITEM:
        if (wParam != 0) child = ::GetDlgItem(m_hWnd, static_cast<int>(wParam));
        break;
    case WM_CTLCOLORBTN:
    case WM_CTLCOLORSTATIC:
    case WM_CTLCOLOREDIT:
    case WM_CTLCOLORLISTBOX:
        child = reinterpret_cast<HWND>(lParam);
        break;
    default:
        return FALSE;
    }
    CWnd* control = FromHandlePermanent(child);
    return control && control != this && control->OnChildNotify(message, wParam, lParam, result);
}

BOOL CWnd::OnChildNotify(UINT, WPARAM, LPARAM, LRESULT*)
{
    return FALSE;
}

BOOL CWnd::OnCommand(WPARAM wParam, LPARAM)
{
    const UINT id = LOWORD(wParam);
    UINT code = HIWORD(wParam);
    if (code == 1) code = 0;  // an accelerator is a command like a menu entry (without a control)
    return OnCmdMsg(id, code);
}

LRESULT CWnd::WindowProc(UINT message, WPARAM wParam, LPARAM lParam)
{
    LRESULT reflected = 0;
    if (ReflectToChild(message, wParam, lParam, &reflected)) return reflected;
    switch (message) {
    case WM_CREATE:
        return OnCreate(reinterpret_cast<CREATESTRUCTA*>(lParam));
    case WM_DESTROY:
        OnDestroy();
        return 0;
    case WM_CLOSE:
        OnClose();
        return 0;
    case WM_PAINT:
        OnPaint();
        return 0;
    case WM_SETFOCUS:
        OnSetFocus(reinterpret_cast<HWND>(wParam));
        return 0;
    case WM_TIMER:
        OnTimer(static_cast<UINT_PTR>(wParam));
        return 0;
    case WM_COMMAND:
        if (OnCommand(wParam, lParam)) return 0;
        break;
    default:
        break;
    }
    return DefWindowProc(message, wParam, lParam);
}

int CWnd::OnCreate(CREATESTRUCTA*) { return static_cast<int>(Default()); }
void CWnd::OnDestroy() { Default(); }
void CWnd::OnClose() { Default(); }
void CWnd::OnPaint() { Default(); }
void CWnd::OnSetFocus(HWND) { Default(); }
void CWnd::OnTimer(UINT_PTR) { Default(); }

CPaintDC::CPaintDC(CWnd* window) : m_window(window->m_hWnd)
{
    m_hDC = ::BeginPaint(m_window, &m_ps);
}

CPaintDC::~CPaintDC()
{
    ::EndPaint(m_window, &m_ps);
}
