// CAboutDlg: the developer test panel ("Agent 화면" in the tray menu). One
// button per issuing command: a click runs the same command method of
// g_OBUIssueCtrl that the issuing page's request runs, with a fixed argument
// where the command takes one, and shows its answer in a message box. The
// fixed arguments go through the commands' own checks: an argument that a
// command refuses shows that command's refusal. The panel runs on the thread
// that owns the agent's windows, which never waits for a device: a button
// whose device another command holds (a page client's, or the one whose wait
// dispatched the click) shows at once what its command answers when the device
// cannot be opened (framework/device_lock.h). The edit and check boxes of
// the template are read by nothing. "서버 접속" starts the connection check
// (connection_check_win.h).
#pragma once

#include "agent/connection_check_win.h"
#include "framework/dialog_win.h"

class CAboutDlg : public CDialogEx {
public:
    CAboutDlg();
    // A connection check other than the product's (tests: a short period).
    explicit CAboutDlg(const corvane::panel::ServerTestSettings& serverTest);

protected:
    // Card commands
    void OnSmartCardOpen();
    void OnFindCard();
    void OnQueryIssueCardNumber();
    void OnCheckOBUCount();
    void OnReIssue1();
    void OnReturnOBU();
    void OnInitializeIssueCard();
    void OnReadIssueInfo();
    void OnReadReIssueInfo();
    void OnReadReturnInfo();
    void OnReadRenewInfo();
    void OnQueryObuTerminalInfo();
    void OnSmartCardClose();
    void OnAddOBUNumber();
    void OnIssueOBU();
    void OnReIssue2();
    void OnRenewOBU();
    void OnPrintReceipt();
    // OBU
    void OnFetchMFSN();
    void OnSetManufactureKey();
    void OnResetTerminal();
    void OnQueryTerminalInfo();
    void OnIssueTerminal();
    void OnUpdateTerminalInfo();
    void OnReIssueTerminal();
    void OnSetManufactureNumber();
    // Biometric unit
    void OnConnectBIU();
    void OnCloseBIU();
    void OnGetBIUState();
    void OnInitiateBIU();
    void OnGetBIUInfo();
    void OnGetBIUUserInfo();
    void OnRegistFingerprint();
    void OnVerifyFingerprint();
    void OnDeleteFingerprint();
    void OnDeleteBIUUser();
    // Connection check, buttons that do nothing, the agent's end
    void OnServerConnect();
    void OnNothing();
    void OnAgentExit();

    CORVANE_DECLARE_COMMAND_MAP()

private:
    // The answer in a message box (OK button, no help context).
    void ShowResult(const CString& result) const;

    corvane::panel::ServerTestSettings m_serverTest;
};
