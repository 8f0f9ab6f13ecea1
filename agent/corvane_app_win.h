// CCorvaneApp: the agent's application object. Start-up brings up common
// controls and OLE, creates the hidden main frame (single instance, Run value,
// firewall rule, tray icon) and starts the command server on port 90; the main
// thread then runs the message loop until the tray menu ends the agent.
#pragma once

#include "framework/app_win.h"

class CHTTPServer;

class CCorvaneApp : public CWinApp {
public:
    CCorvaneApp();
    ~CCorvaneApp() override;

    BOOL InitInstance() override;
    int ExitInstance() override;

    // "Agent 화면": the developer test panel.
    void OnAppAbout();

    // Whether InitInstance went as far as the command server: client threads may
    // then be running, and the agent ends through EndProcess.
    bool ServerMade() const { return m_server != nullptr; }
    // Ends the agent's process at once with `exitCode`, after the message loop
    // and ExitInstance: closes the card reader link unless a card command holds
    // it, then terminates the process without waiting for any thread.
    [[noreturn]] void EndProcess(int exitCode);

    CORVANE_DECLARE_COMMAND_MAP()

protected:
    // The server takes no more work, at once.
    void OnEnding() override;

private:
    CHTTPServer* m_server = nullptr;  // never deleted: client threads may still use it
};

extern CCorvaneApp g_App;
