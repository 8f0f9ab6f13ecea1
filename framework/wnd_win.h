// CWnd: a C++ object bound to a window. Messages reach the object's WindowProc,
// which hands the common ones to virtual handlers (OnCreate, OnPaint, OnTimer,
// ...) and commands (WM_COMMAND) to the command route. Windows of the
// framework's own classes are bound from their first message on; any other
// window (a control, a dialog) is bound by subclassing it.
//
// Owner-drawn controls: a parent that gets WM_DRAWITEM, WM_MEASUREITEM or a
// control-colour message for a child bound to a CWnd offers it to that child
// first (OnChildNotify), so that the control draws itself.
#pragma once

#include <windows.h>

#include "framework/cmd_target_win.h"
#include "framework/cstring.h"

class CWnd : public CCmdTarget {
public:
    CWnd() = default;
    ~CWnd() override;
    CWnd(const CWnd&) = delete;
    CWnd& operator=(const CWnd&) = delete;

    HWND m_hWnd = nullptr;
    HWND GetSafeHwnd() const { return m_hWnd; }
    operator HWND() const { return m_hWnd; }

    // The object bound to `window`, or null.
    static CWnd* FromHandlePermanent(HWND window);

    // Creates the window. PreCreateWindow may change the creation record first.
    // Returns FALSE when the window could not be made (OnCreate answering -1
    // included); the object has then run PostNcDestroy.
    BOOL CreateEx(DWORD exStyle, const char* className, const char* windowName, DWORD style, int x,
                  int y, int width, int height, HWND parent, HMENU menuOrId, void* param = nullptr);
    // Creates a child control window of a system class (BUTTON, STATIC, ...).
    BOOL CreateControl(const char* className, const char* text, DWORD style, const RECT& rect,
                       CWnd* parent, UINT id);
    BOOL DestroyWindow();

    // Binds an existing window to this object, its messages going through
    // WindowProc first and then to the window's own procedure.
    BOOL SubclassWindow(HWND window);
    BOOL SubclassDlgItem(UINT id, CWnd* parent);
    HWND UnsubclassWindow();

    LRESULT SendMessage(UINT message, WPARAM wParam = 0, LPARAM lParam = 0) const;
    BOOL PostMessage(UINT message, WPARAM wParam = 0, LPARAM lParam = 0) const;
    BOOL ShowWindow(int command) const;
    BOOL IsWindowVisible() const;
    void SetWindowText(const char* text) const;
    CString GetWindowText() const;
    HWND GetDlgItem(int id) const;
    CWnd* GetParent() const;
    HWND SetFocus() const;
    BOOL SetForegroundWindow() const;
    void Invalidate(BOOL erase = TRUE) const;
    BOOL MoveWindow(int x, int y, int width, int height, BOOL repaint = TRUE) const;
    void GetClientRect(RECT* rect) const;
    void GetWindowRect(RECT* rect) const;
    UINT_PTR SetTimer(UINT_PTR id, UINT elapseMs);
    BOOL KillTimer(UINT_PTR id);
    // A message box owned by this window; it goes through the framework's
    // message-box layer (see message_box_win.h).
    int MessageBox(const char* text, const char* caption = nullptr, UINT type = MB_OK) const;

    // A message of this top-level window before it is dispatched; TRUE when it
    // needs no dispatching.
    virtual BOOL PreTranslateMessage(MSG*) { return FALSE; }

    // Commands reach the window's own command map.
    BOOL OnCmdMsg(UINT id, UINT code) override;

    // The message procedure of the framework's window classes.
    static LRESULT CALLBACK StandardWindowProc(HWND window, UINT message, WPARAM wParam, LPARAM lParam);

protected:
    virtual BOOL PreCreateWindow(CREATESTRUCTA& create);
    // Every message of the window; the default hands it to the handlers below.
    virtual LRESULT WindowProc(UINT message, WPARAM wParam, LPARAM lParam);
    // The window's default handling of a message: its own window procedure (a
    // subclassed window) or the system's default.
    virtual LRESULT DefWindowProc(UINT message, WPARAM wParam, LPARAM lParam);
    // The default handling of the message being handled now.
    LRESULT Default();

    // WM_COMMAND: the command route for menu entries, accelerators and control
    // notifications; TRUE when handled.
    virtual BOOL OnCommand(WPARAM wParam, LPARAM lParam);
    // A message of a child control that its parent offers to it; TRUE (with
    // *result) when the child handled it.
    virtual BOOL OnChildNotify(UINT message, WPARAM wParam, LPARAM lParam, LRESULT* result);

    virtual int OnCreate(CREATESTRUCTA* create);
    virtual void OnDestroy();
    virtual void OnClose();
    virtual void OnPaint();
    virtual void OnSetFocus(HWND previous);
    virtual void OnTimer(UINT_PTR id);
    // After the last message (WM_NCDESTROY): the object is no longer bound.
    // Objects made with `new` that own themselves delete themselves here.
    virtual void PostNcDestroy() {}

private:
    friend class CDialog;
    void Attach(HWND window);
    void Detach();
    LRESULT Dispatch(UINT message, WPARAM wParam, LPARAM lParam);
    BOOL ReflectToChild(UINT message, WPARAM wParam, LPARAM lParam, LRESULT* result);

    WNDPROC m_superProc = nullptr;  // the window's own procedure when subclassed
    const MSG* m_current = nullptr;  // the message being handled
};

// The text of any window (a dialog item, a control) as ANSI text.
CString WindowTextOf(HWND window);

// Paint context for WM_PAINT (BeginPaint .. EndPaint).
class CPaintDC {
public:
    explicit CPaintDC(CWnd* window);
    ~CPaintDC();
    CPaintDC(const CPaintDC&) = delete;
    CPaintDC& operator=(const CPaintDC&) = delete;
    HDC m_hDC;
    PAINTSTRUCT m_ps;
    operator HDC() const { return m_hDC; }

private:
    HWND m_window;
};
