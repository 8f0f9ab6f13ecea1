#include "framework/message_box_win.h"

#include <mutex>

#include "framework/app_win.h"

namespace corvane {
namespace {

std::mutex g_hookLock;
MessageBoxHook& Hook()
{
    static MessageBoxHook hook;
    return hook;
}

}  // namespace

MessageBoxHook SetMessageBoxHook(MessageBoxHook hook)
{
    std::lock_guard<std::mutex> lock(g_hookLock);
    MessageBoxHook previous = std::move(Hook());
    Hook() = std::move(hook);
    return previous;
}

int ShowMessageBox(HWND owner, const char* text, const char* caption, UINT type)
{
    MessageBoxHook hook;
    {
        std::lock_guard<std::mutex> lock(g_hookLock);
        hook = Hook();
    }
    if (hook)
        return hook(MessageBoxRequest{owner, text ? text : "", caption ? caption : "", type,
                                      GetCurrentThreadId()});
    return MessageBoxA(owner, text, caption, type);
}

}  // namespace corvane

namespace {

// The owner of an application box: the main window's active pop-up when the box
// comes from the main window's thread, otherwise none (a box owned by a window
// of another thread would tie the two threads' input together).
HWND ApplicationBoxOwner()
{
    CWnd* main = AfxGetMainWnd();
    if (!main || !main->m_hWnd) return nullptr;
    if (GetWindowThreadProcessId(main->m_hWnd, nullptr) != GetCurrentThreadId()) return nullptr;
    return GetLastActivePopup(main->m_hWnd);
}

}  // namespace

int AfxMessageBox(const char* text, UINT type, UINT)
{
    return corvane::ShowMessageBox(ApplicationBoxOwner(), text, AfxGetAppName(), type);
}

int AfxMessageBox(UINT stringId, UINT type, UINT helpId)
{
    return AfxMessageBox(AfxLoadString(stringId).c_str(), type, helpId);
}
