// Biometric commands, ids 61 to 71: one call of the biometric-unit controller
// each (id 61 two), its text answered alone; ids 64 to 71 pause 200 ms after
// the operation.
#include "agent/commands/obu_issue_ctrl.h"
#include "biometric/biu_controller.h"

namespace {

template <CString (COBUIssueCtrl::*Method)()>
CString Plain(COBUIssueCtrl& ctrl, const CString&)
{
    return (ctrl.*Method)();
}

template <CString (COBUIssueCtrl::*Method)(const CString&)>
CString WithParam(COBUIssueCtrl& ctrl, const CString& param)
{
    return (ctrl.*Method)(param);
}

const CommandEntry kBiometricEntries[] = {
    {61, WithParam<&COBUIssueCtrl::ConnectBIU>},
    {62, Plain<&COBUIssueCtrl::CloseBIU>},
    {63, Plain<&COBUIssueCtrl::GetBIUState>},
    {64, Plain<&COBUIssueCtrl::InitiateBIU>},
    {65, Plain<&COBUIssueCtrl::GetBIUInfo>},
    {66, Plain<&COBUIssueCtrl::GetBIUUserInfo>},
    {67, WithParam<&COBUIssueCtrl::RegistFingerprint>},
    {68, WithParam<&COBUIssueCtrl::VerifyFingerprint>},
    {69, WithParam<&COBUIssueCtrl::DeleteFingerprint>},
    {70, WithParam<&COBUIssueCtrl::DeleteBIUUser>},
    {71, WithParam<&COBUIssueCtrl::RegistReductionInfo>},
};

// The operation's text, after the commands' pause.
CString Paused(CString text)
{
    g_BIUIssueCtrl.Pause(COBUIssueCtrl::kBiometricPauseMs);
    return text;
}

}  // namespace

CommandGroup COBUIssueCtrl::BiometricCommands()
{
    return {kBiometricEntries, sizeof kBiometricEntries / sizeof kBiometricEntries[0]};
}

CString COBUIssueCtrl::ConnectBIU(const CString& keyText)
{
    g_BIUIssueCtrl.SetProductKey(keyText);  // its text ("") is not part of the answer
    return g_BIUIssueCtrl.OpenBIU();
}

CString COBUIssueCtrl::CloseBIU() { return g_BIUIssueCtrl.CloseBIU(); }
CString COBUIssueCtrl::GetBIUState() { return g_BIUIssueCtrl.GetConnectState(); }
CString COBUIssueCtrl::InitiateBIU() { return Paused(g_BIUIssueCtrl.InitiateBIU()); }
CString COBUIssueCtrl::GetBIUInfo() { return Paused(g_BIUIssueCtrl.GetBIUInfo()); }
CString COBUIssueCtrl::GetBIUUserInfo() { return Paused(g_BIUIssueCtrl.GetUserInfo()); }

CString COBUIssueCtrl::RegistFingerprint(const CString& param)
{
    // The user in the first character, the fingers after it ("%3A" is ':',
    // finger 10).
    const std::string& text = param.str();
    const CString user(text.empty() ? std::string() : text.substr(0, 1));
    CString fingers(text.empty() ? std::string() : text.substr(1));
    fingers.Replace("%3A", ":");  // left to right, a replacement never scanned again
    return Paused(g_BIUIssueCtrl.RegistFingerprint(user, fingers));
}

CString COBUIssueCtrl::VerifyFingerprint(const CString& param)
{
    return Paused(g_BIUIssueCtrl.VerifyFingerprint(param));
}

CString COBUIssueCtrl::DeleteFingerprint(const CString& param)
{
    return Paused(g_BIUIssueCtrl.DeleteFingerprint(param));
}

CString COBUIssueCtrl::DeleteBIUUser(const CString& param)
{
    return Paused(g_BIUIssueCtrl.DeleteUser(param));
}

CString COBUIssueCtrl::RegistReductionInfo(const CString& param)
{
    return Paused(g_BIUIssueCtrl.RegistBIUInfo(RepairComma(param)));
}
