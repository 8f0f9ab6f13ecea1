#include "agent/about_dlg_win.h"

#include "agent/commands/obu_issue_ctrl.h"
#include "framework/app_win.h"
#include "framework/message_box_win.h"
#include "resources/about_dlg_ids.h"
#include "resources/resource.h"

namespace {

// The fixed arguments of the buttons whose commands take one.
constexpr const char* kOneText = "1";
constexpr const char* kManufactureKey = "40736185";
constexpr const char* kTerminalText = "17";
constexpr const char* kFirstManufactureNumber = "111";
constexpr const char* kSecondManufactureNumber = "222";

}  // namespace

CORVANE_COMMAND_MAP(CAboutDlg, CDialogEx,
    Command(IDC_CARD_OPEN, &CAboutDlg::OnSmartCardOpen),
    Command(IDC_FIND_CARD, &CAboutDlg::OnFindCard),
    Command(IDC_CARD_NUMBER, &CAboutDlg::OnQueryIssueCardNumber),
    Command(IDC_OBU_COUNT, &CAboutDlg::OnCheckOBUCount),
    Command(IDC_REISSUE1, &CAboutDlg::OnReIssue1),
    Command(IDC_RETURN_OBU, &CAboutDlg::OnReturnOBU),
    Command(IDC_CARD_INIT, &CAboutDlg::OnInitializeIssueCard),
    Command(IDC_READ_ISSUE, &CAboutDlg::OnReadIssueInfo),
    Command(IDC_READ_REISSUE, &CAboutDlg::OnReadReIssueInfo),
    Command(IDC_READ_RETURN, &CAboutDlg::OnReadReturnInfo),
    Command(IDC_READ_RENEW, &CAboutDlg::OnReadRenewInfo),
    Command(IDC_OBU_TERMINAL_INFO, &CAboutDlg::OnQueryObuTerminalInfo),
    Command(IDC_CARD_CLOSE, &CAboutDlg::OnSmartCardClose),
    Command(IDC_ADD_OBU_NUMBER, &CAboutDlg::OnAddOBUNumber),
    Command(IDC_ISSUE_OBU, &CAboutDlg::OnIssueOBU),
    Command(IDC_REISSUE2, &CAboutDlg::OnReIssue2),
    Command(IDC_RENEW_OBU, &CAboutDlg::OnRenewOBU),
    Command(IDC_PRINT_RECEIPT, &CAboutDlg::OnPrintReceipt),
    Command(IDC_OBU_MFSN, &CAboutDlg::OnFetchMFSN),
    Command(IDC_OBU_SET_KEY, &CAboutDlg::OnSetManufactureKey),
    Command(IDC_OBU_RESET, &CAboutDlg::OnResetTerminal),
    Command(IDC_OBU_INFO, &CAboutDlg::OnQueryTerminalInfo),
    Command(IDC_OBU_ISSUE, &CAboutDlg::OnIssueTerminal),
    Command(IDC_OBU_UPDATE, &CAboutDlg::OnUpdateTerminalInfo),
    Command(IDC_OBU_REISSUE, &CAboutDlg::OnReIssueTerminal),
    Command(IDC_OBU_SET_NUMBER, &CAboutDlg::OnSetManufactureNumber),
    Command(IDC_BIU_CONNECT, &CAboutDlg::OnConnectBIU),
    Command(IDC_BIU_CLOSE, &CAboutDlg::OnCloseBIU),
    Command(IDC_BIU_STATE, &CAboutDlg::OnGetBIUState),
    Command(IDC_BIU_INITIATE, &CAboutDlg::OnInitiateBIU),
    Command(IDC_BIU_INFO, &CAboutDlg::OnGetBIUInfo),
    Command(IDC_BIU_USER_INFO, &CAboutDlg::OnGetBIUUserInfo),
    Command(IDC_BIU_REGIST_FINGER, &CAboutDlg::OnRegistFingerprint),
    Command(IDC_BIU_VERIFY, &CAboutDlg::OnVerifyFingerprint),
    Command(IDC_BIU_DELETE_FINGER, &CAboutDlg::OnDeleteFingerprint),
    Command(IDC_BIU_DELETE_USER, &CAboutDlg::OnDeleteBIUUser),
    Command(IDC_SERVER_CONNECT, &CAboutDlg::OnServerConnect),
    Command(IDC_CHECK_OBU_DATA, &CAboutDlg::OnNothing),
    Command(IDC_SETTING_CARD, &CAboutDlg::OnNothing),
    Command(IDC_DO_ACTIVE_OBU, &CAboutDlg::OnNothing),
    Command(IDC_DO_READ_OBU, &CAboutDlg::OnNothing),
    Command(IDC_EDIT_WATCHED, &CAboutDlg::OnNothing, EN_CHANGE),
    Command(ID_AGENT_EXIT, &CAboutDlg::OnAgentExit),
)

CAboutDlg::CAboutDlg() : CDialogEx(IDD_ABOUTBOX) {}

CAboutDlg::CAboutDlg(const corvane::panel::ServerTestSettings& serverTest)
    : CDialogEx(IDD_ABOUTBOX), m_serverTest(serverTest)
{
}

void CAboutDlg::ShowResult(const CString& result) const
{
    AfxMessageBox(result, MB_OK, 0);
}

// ------------------------------------------------------------- card commands
// "스마트카드 OPEN" and "스마트카드 CLOSE" show nothing: the reader stays open
// (or closed) for the buttons that follow.
void CAboutDlg::OnSmartCardOpen() { g_OBUIssueCtrl.SmartCardOpen(); }
void CAboutDlg::OnSmartCardClose() { g_OBUIssueCtrl.SmartCardClose(); }
void CAboutDlg::OnFindCard() { ShowResult(g_OBUIssueCtrl.FindCard()); }
void CAboutDlg::OnQueryIssueCardNumber() { ShowResult(g_OBUIssueCtrl.QueryIssueCardNumber()); }
void CAboutDlg::OnCheckOBUCount() { ShowResult(g_OBUIssueCtrl.CheckOBUCount()); }
void CAboutDlg::OnReIssue1() { ShowResult(g_OBUIssueCtrl.ReIssue1()); }
void CAboutDlg::OnReturnOBU() { ShowResult(g_OBUIssueCtrl.ReturnOBU()); }
void CAboutDlg::OnInitializeIssueCard() { ShowResult(g_OBUIssueCtrl.InitializeIssueCard()); }
void CAboutDlg::OnReadIssueInfo() { ShowResult(g_OBUIssueCtrl.ReadIssueInfo()); }
void CAboutDlg::OnReadReIssueInfo() { ShowResult(g_OBUIssueCtrl.ReadReIssueInfo()); }
void CAboutDlg::OnReadReturnInfo() { ShowResult(g_OBUIssueCtrl.ReadReturnInfo()); }
void CAboutDlg::OnReadRenewInfo() { ShowResult(g_OBUIssueCtrl.ReadRenewInfo()); }
void CAboutDlg::OnQueryObuTerminalInfo() { ShowResult(g_OBUIssueCtrl.QueryObuTerminalInfo()); }
void CAboutDlg::OnAddOBUNumber() { ShowResult(g_OBUIssueCtrl.AddOBUNumber(kOneText)); }
void CAboutDlg::OnIssueOBU() { ShowResult(g_OBUIssueCtrl.IssueOBU(kOneText)); }
void CAboutDlg::OnReIssue2() { ShowResult(g_OBUIssueCtrl.ReIssue2(kOneText)); }
void CAboutDlg::OnRenewOBU() { ShowResult(g_OBUIssueCtrl.RenewOBU(kOneText)); }
void CAboutDlg::OnPrintReceipt() { ShowResult(g_OBUIssueCtrl.PrintReceiptRequest(kOneText)); }

// ------------------------------------------------------------------------ OBU
// The key and the terminal texts are too short for the OBU commands, which
// refuse them without touching the OBU; the panel shows that refusal.
void CAboutDlg::OnFetchMFSN() { ShowResult(g_OBUIssueCtrl.FetchMFSN()); }
void CAboutDlg::OnSetManufactureKey() { ShowResult(g_OBUIssueCtrl.SetManufactureKey(kManufactureKey)); }
void CAboutDlg::OnResetTerminal() { ShowResult(g_OBUIssueCtrl.ResetTerminal()); }
void CAboutDlg::OnQueryTerminalInfo() { ShowResult(g_OBUIssueCtrl.QueryTerminalInfo()); }
void CAboutDlg::OnIssueTerminal() { ShowResult(g_OBUIssueCtrl.IssueTerminal(kTerminalText)); }
void CAboutDlg::OnUpdateTerminalInfo() { ShowResult(g_OBUIssueCtrl.UpdateTerminalInfo(kTerminalText)); }
void CAboutDlg::OnReIssueTerminal() { ShowResult(g_OBUIssueCtrl.ReIssueTerminal(kTerminalText)); }
void CAboutDlg::OnSetManufactureNumber()
{
    ShowResult(g_OBUIssueCtrl.SetManufactureNumber(kFirstManufactureNumber, kSecondManufactureNumber));
}

// ------------------------------------------------------------ biometric unit
// For the connect command "1" is the product key 1000...0 (the digits it lacks
// read as 0), which it sets before it opens the unit; for the fingerprint and
// user commands it is user number 1.
void CAboutDlg::OnConnectBIU() { ShowResult(g_OBUIssueCtrl.ConnectBIU(kOneText)); }
void CAboutDlg::OnCloseBIU() { ShowResult(g_OBUIssueCtrl.CloseBIU()); }
void CAboutDlg::OnGetBIUState() { ShowResult(g_OBUIssueCtrl.GetBIUState()); }
void CAboutDlg::OnInitiateBIU() { ShowResult(g_OBUIssueCtrl.InitiateBIU()); }
void CAboutDlg::OnGetBIUInfo() { ShowResult(g_OBUIssueCtrl.GetBIUInfo()); }
void CAboutDlg::OnGetBIUUserInfo() { ShowResult(g_OBUIssueCtrl.GetBIUUserInfo()); }
void CAboutDlg::OnRegistFingerprint() { ShowResult(g_OBUIssueCtrl.RegistFingerprint(kOneText)); }
void CAboutDlg::OnVerifyFingerprint() { ShowResult(g_OBUIssueCtrl.VerifyFingerprint(kOneText)); }
void CAboutDlg::OnDeleteFingerprint() { ShowResult(g_OBUIssueCtrl.DeleteFingerprint(kOneText)); }
void CAboutDlg::OnDeleteBIUUser() { ShowResult(g_OBUIssueCtrl.DeleteBIUUser(kOneText)); }

// ---------------------------------------------------------------------- other
void CAboutDlg::OnServerConnect()
{
    corvane::panel::StartServerTestThread(m_serverTest);
}

void CAboutDlg::OnNothing() {}

void CAboutDlg::OnAgentExit()
{
    if (CWnd* main = AfxGetMainWnd()) main->SendMessage(WM_CLOSE);
}
