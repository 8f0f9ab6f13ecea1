// Biometric commands, ids 61 to 71: one call of the biometric-unit controller
// each (id 61 two), under one hold of the unit, its text answered alone; ids 64
// to 71 pause 200 ms after the operation (ids 67 and 68 first the screen's own
// pause), with the unit let go. A command started from inside another's wait
// or screen on this thread, or on the window thread while another thread's
// command holds the unit, gets a refused hold: its steps then touch nothing
// and answer "1" after the same pauses (id 61 sets the key only when nested).
// Id 63 takes no hold.
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

using Hold = CQv_BIUIssueCtrl::Hold;

// The steps of one command, under one hold of the unit.
template <class Steps>
CString OnUnit(Steps steps)
{
    const Hold hold = g_BIUIssueCtrl.HoldDevice();
    return steps(hold);
}

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
    return OnUnit([&](const Hold& hold) {
        g_BIUIssueCtrl.SetProductKey(hold, keyText);  // its text ("") is not part of the answer
        return g_BIUIssueCtrl.OpenBIU(hold);
    });
}

CString COBUIssueCtrl::CloseBIU()
{
    return OnUnit([](const Hold& hold) { return g_BIUIssueCtrl.CloseBIU(hold); });
}

CString COBUIssueCtrl::GetBIUState() { return g_BIUIssueCtrl.GetConnectState(); }

CString COBUIssueCtrl::InitiateBIU()
{
    return Paused(OnUnit([](const Hold& hold) { return g_BIUIssueCtrl.InitiateBIU(hold); }));
}

CString COBUIssueCtrl::GetBIUInfo()
{
    return Paused(OnUnit([](const Hold& hold) { return g_BIUIssueCtrl.GetBIUInfo(hold); }));
}

CString COBUIssueCtrl::GetBIUUserInfo()
{
    return Paused(OnUnit([](const Hold& hold) { return g_BIUIssueCtrl.GetUserInfo(hold); }));
}

CString COBUIssueCtrl::RegistFingerprint(const CString& param)
{
    // The user in the first character, the fingers after it ("%3A" is ':',
    // finger 10).
    const std::string& text = param.str();
    const CString user(text.empty() ? std::string() : text.substr(0, 1));
    CString fingers(text.empty() ? std::string() : text.substr(1));
    fingers.Replace("%3A", ":");  // left to right, a replacement never scanned again
    const CString answer =
        OnUnit([&](const Hold& hold) { return g_BIUIssueCtrl.RegistFingerprint(hold, user, fingers); });
    g_BIUIssueCtrl.Pause(CQv_BIUIssueCtrl::kAfterRegistrationMs);
    return Paused(answer);
}

CString COBUIssueCtrl::VerifyFingerprint(const CString& param)
{
    const CString answer = OnUnit([&](const Hold& hold) { return g_BIUIssueCtrl.VerifyFingerprint(hold, param); });
    g_BIUIssueCtrl.Pause(CQv_BIUIssueCtrl::kAfterVerificationMs);
    return Paused(answer);
}

CString COBUIssueCtrl::DeleteFingerprint(const CString& param)
{
    return Paused(OnUnit([&](const Hold& hold) { return g_BIUIssueCtrl.DeleteFingerprint(hold, param); }));
}

CString COBUIssueCtrl::DeleteBIUUser(const CString& param)
{
    return Paused(OnUnit([&](const Hold& hold) { return g_BIUIssueCtrl.DeleteUser(hold, param); }));
}

CString COBUIssueCtrl::RegistReductionInfo(const CString& param)
{
    const CString text = RepairComma(param);
    return Paused(OnUnit([&](const Hold& hold) { return g_BIUIssueCtrl.RegistBIUInfo(hold, text); }));
}
