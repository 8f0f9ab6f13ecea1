#include "framework/dialog_win.h"

#include "framework/app_win.h"

CDialog::CDialog(UINT templateId, CWnd* parent) : m_templateId(templateId), m_parent(parent) {}

CDialog::~CDialog()
{
    // A modeless dialog that outlives its object is destroyed with it.
    if (m_hWnd && !m_modal) ::DestroyWindow(m_hWnd);
}

INT_PTR CALLBACK CDialog::DialogProc(HWND window, UINT message, WPARAM, LPARAM lParam)
{
    if (message != WM_INITDIALOG) return FALSE;
    auto* dialog = reinterpret_cast<CDialog*>(lParam);
    // From here on every message of the dialog goes through the object first and
    // then to the system's dialog procedure (which calls this one).
    dialog->SubclassWindow(window);
    return dialog->OnInitDialog();
}

static HWND OwnerWindow(CWnd* parent)
{
    if (parent && parent->m_hWnd) return parent->m_hWnd;
    CWnd* main = AfxGetMainWnd();
    // A box or dialog owned by a window of another thread would tie both threads.
    if (main && main->m_hWnd && GetWindowThreadProcessId(main->m_hWnd, nullptr) == GetCurrentThreadId())
        return main->m_hWnd;
    return nullptr;
}

INT_PTR CDialog::DoModal()
{
    m_modal = true;
    INT_PTR result = DialogBoxParamA(AfxGetInstanceHandle(), MAKEINTRESOURCEA(m_templateId),
                                     OwnerWindow(m_parent), &CDialog::DialogProc,
                                     reinterpret_cast<LPARAM>(this));
    m_modal = false;
    // The system's modal loop ends the dialog when it meets a quit and posts the
    // quit again; on the main thread that quit ends the application.
    if (CWinApp* app = AfxGetApp()) app->NoteQuitAfterModalLoop();
    return result;
}

BOOL CDialog::Create(CWnd* parent)
{
    if (parent) m_parent = parent;
    m_modal = false;
    HWND window = CreateDialogParamA(AfxGetInstanceHandle(), MAKEINTRESOURCEA(m_templateId),
                                     OwnerWindow(m_parent), &CDialog::DialogProc,
                                     reinterpret_cast<LPARAM>(this));
    return window != nullptr;
}

void CDialog::EndDialog(INT_PTR result)
{
    if (!m_hWnd) return;
    if (m_modal)
        ::EndDialog(m_hWnd, result);
    else
        ::DestroyWindow(m_hWnd);
}

BOOL CDialog::PreTranslateMessage(MSG* message)
{
    return !m_modal && m_hWnd && IsDialogMessageA(m_hWnd, message);
}

BOOL CDialog::OnCmdMsg(UINT id, UINT code)
{
    if (CWnd::OnCmdMsg(id, code)) return TRUE;
    // Commands of the framework's menus (the application's range) go on to the
    // application; control notifications stay with the dialog.
    CWinApp* app = AfxGetApp();
    return code == 0 && id >= 0xE000 && id < 0xF000 && app && app->OnCmdMsg(id, code);
}

BOOL CDialog::OnCommand(WPARAM wParam, LPARAM lParam)
{
    if (CWnd::OnCommand(wParam, lParam)) return TRUE;
    const UINT code = HIWORD(wParam);
    if (code != BN_CLICKED && code != 1) return FALSE;
    switch (LOWORD(wParam)) {
    case IDOK:
        OnOK();
        return TRUE;
    case IDCANCEL:
        OnCancel();
        return TRUE;
    default:
        return FALSE;
    }
}

BOOL CDialog::OnInitDialog() { return TRUE; }
void CDialog::OnOK() { EndDialog(IDOK); }
void CDialog::OnCancel() { EndDialog(IDCANCEL); }

void CDialog::SetDlgItemText(int id, const char* text) const
{
    ::SetDlgItemTextA(m_hWnd, id, text);
}

CString CDialog::GetDlgItemText(int id) const
{
    return WindowTextOf(::GetDlgItem(m_hWnd, id));
}
