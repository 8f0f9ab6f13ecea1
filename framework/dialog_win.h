// CDialog: a dialog from a dialog template resource, modal (DoModal) or modeless
// (Create). The dialog window is bound to the object from WM_INITDIALOG on, so
// buttons reach the command map, owner-drawn controls bound to CWnd objects
// draw themselves, and OnInitDialog can set the controls up. IDOK and IDCANCEL
// (Enter, Escape, the OK and Cancel buttons) end a modal dialog through OnOK
// and OnCancel unless the command map handles them.
#pragma once

#include <windows.h>

#include "framework/wnd_win.h"

class CDialog : public CWnd {
public:
    explicit CDialog(UINT templateId, CWnd* parent = nullptr);
    ~CDialog() override;

    // Runs the dialog modally; returns the EndDialog result, or -1 when the
    // dialog could not be made.
    virtual INT_PTR DoModal();
    // Makes the dialog modeless (shown when its template says WS_VISIBLE).
    BOOL Create(CWnd* parent = nullptr);
    // Ends a modal dialog with `result` (a modeless one is destroyed).
    void EndDialog(INT_PTR result);

    UINT TemplateId() const { return m_templateId; }
    BOOL PreTranslateMessage(MSG* message) override;

    // The dialog, then the application for menu-range commands.
    BOOL OnCmdMsg(UINT id, UINT code) override;

    // Dialog item helpers.
    void SetDlgItemText(int id, const char* text) const;
    CString GetDlgItemText(int id) const;

protected:
    // After the controls exist: TRUE lets the system give the focus to the first
    // control.
    virtual BOOL OnInitDialog();
    virtual void OnOK();
    virtual void OnCancel();
    BOOL OnCommand(WPARAM wParam, LPARAM lParam) override;

private:
    static INT_PTR CALLBACK DialogProc(HWND window, UINT message, WPARAM wParam, LPARAM lParam);
    UINT m_templateId;
    CWnd* m_parent;
    bool m_modal = false;
};

// The dialog class with the extended look; this framework draws both alike.
class CDialogEx : public CDialog {
public:
    using CDialog::CDialog;
};
