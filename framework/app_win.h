// CWinApp: the application object. One per program, a global built before
// WinMain; AfxWinMain starts it (InitInstance), runs the message loop of the main
// thread (Run) and ends it (ExitInstance). Commands that no window handles reach
// the application last; it handles the exit command itself.
#pragma once

#include <windows.h>

#include <atomic>

#include "framework/cmd_target_win.h"
#include "framework/cstring.h"
#include "framework/framework_ids.h"
#include "framework/wnd_win.h"


class CWinApp : public CCmdTarget {
public:
    // Without `appName` the name comes from string resource AFX_IDS_APP_TITLE.
    explicit CWinApp(const char* appName = nullptr);
    ~CWinApp() override;

    // Start-up of the application; FALSE ends the program without a message
    // loop. The base applies the application user-model id.
    virtual BOOL InitInstance();
    // The main thread's message loop. When it ends, the ending begins (if it has
    // not already) and a main frame that is still there is destroyed; returns
    // ExitInstance's exit code.
    virtual int Run();
    // End of the application; returns the process exit code (the loop's quit
    // code, 0 when the loop never ran).
    virtual int ExitInstance();
    // A message before it is dispatched; TRUE when it needs no dispatching
    // (dialog navigation keys of a modeless dialog).
    virtual BOOL PreTranslateMessage(MSG* message);

    // The exit command: asks the main window to close, which ends the loop.
    void OnAppExit();

    // The application's ending begins: its main frame is being destroyed, or a
    // quit reached the main thread's message loop or a modal loop on the main
    // thread. Runs OnEnding the first time; later calls do nothing.
    void BeginEnding();
    // A modal loop that has ended: when it ended for a quit that waits again in
    // the main thread's queue, the ending begins. On other threads nothing.
    void NoteQuitAfterModalLoop();

    // The registry key under HKEY_CURRENT_USER\Software that the application's
    // settings would use; kept for the application, nothing is written.
    void SetRegistryKey(const char* company);
    const CString& RegistryKey() const { return m_registryKey; }
    // The application user-model id given to the shell (Windows 7 and later).
    void SetAppID(const char* appId) { m_appId = appId ? appId : ""; }
    const CString& AppID() const { return m_appId; }
    // Taskbar tabs for the application's windows; the framework makes none, the
    // setting is kept.
    void EnableTaskbarInteraction(BOOL enable) { m_taskbarInteraction = enable; }
    // ActiveX control hosting; the framework hosts none, the setting is kept.
    void EnableControlContainer() { m_controlContainer = TRUE; }

    const CString& AppName() const { return m_appName; }
    int ExitCode() const { return m_exitCode; }

    CWnd* m_pMainWnd = nullptr;
    HINSTANCE m_hInstance = nullptr;

    CORVANE_DECLARE_COMMAND_MAP()

protected:
    // What the application stops as its ending begins, on the main thread, once,
    // before its windows go. It must not wait for other threads. The base does
    // nothing.
    virtual void OnEnding();

private:
    friend int AfxWinMain(HINSTANCE, HINSTANCE, LPSTR, int);
    CString m_appName;
    CString m_registryKey;
    CString m_appId;
    BOOL m_taskbarInteraction = TRUE;
    BOOL m_controlContainer = FALSE;
    int m_exitCode = 0;
    DWORD m_mainThreadId = 0;
    std::atomic<bool> m_ending{false};
};

CWinApp* AfxGetApp();
CWnd* AfxGetMainWnd();
HINSTANCE AfxGetInstanceHandle();
// The application's name, "" without an application.
const char* AfxGetAppName();
// A string resource of the program as ANSI text; empty when there is none.
CString AfxLoadString(UINT id);

// The program's entry: starts the application object, runs it, ends it.
int AfxWinMain(HINSTANCE instance, HINSTANCE previous, LPSTR commandLine, int show);

// OLE for the main thread. AfxOleInit is TRUE when OLE is ready; AfxOleTerm
// ends it (once, and only when AfxOleInit started it).
BOOL AfxOleInit();
void AfxOleTerm(BOOL justRevoke = FALSE);
