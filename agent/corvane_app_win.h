// CCorvaneApp: the agent's application object. Start-up brings up common
// controls and OLE, creates the hidden main frame (single instance, Run value,
// firewall rule, tray icon) and starts the command server on port 90; the main
// thread then runs the message loop until the tray menu ends the agent.
#pragma once

#include "framework/app_win.h"

class CCorvaneApp : public CWinApp {
public:
    CCorvaneApp();
    ~CCorvaneApp() override;

    BOOL InitInstance() override;
    int ExitInstance() override;

    // "Agent 화면": the developer test panel.
    void OnAppAbout();

    CORVANE_DECLARE_COMMAND_MAP()
};

extern CCorvaneApp g_App;
