// The OBU commands, ids 31 to 40: each runs the OBU controller's open step,
// one operation and its close step, and answers the open text and the
// operation's text joined by ':' (ids 39 and 40: the one step's text). The
// close step's text is dropped, and no parameter is repaired.
#include "agent/commands/obu_issue_ctrl.h"
#include "obulink/obu_controller.h"

namespace {

// Open, operation, close, with the OBU held for the three steps.
template <class Operation>
CString OpenRunClose(Operation operation)
{
    auto hold = g_ObuSelfIssueCtrl.HoldDevice();
    CString openSlot = COBUIssueCtrl::kUnfilledSlot;
    CString operationSlot = COBUIssueCtrl::kUnfilledSlot;
    openSlot = g_ObuSelfIssueCtrl.OpenOBU();
    operationSlot = operation();
    g_ObuSelfIssueCtrl.CloseOBU();
    return COBUIssueCtrl::JoinSlots(openSlot, operationSlot);
}

}  // namespace

CString COBUIssueCtrl::FetchMFSN()
{
    return OpenRunClose([] { return g_ObuSelfIssueCtrl.GetMFSN(); });
}

CString COBUIssueCtrl::SetManufactureKey(const CString& keyText)
{
    return OpenRunClose([&] { return g_ObuSelfIssueCtrl.SetProductKey(keyText); });
}

CString COBUIssueCtrl::ResetTerminal()
{
    return OpenRunClose([] { return g_ObuSelfIssueCtrl.ResetOBU(); });
}

CString COBUIssueCtrl::QueryTerminalInfo()
{
    return OpenRunClose([] { return g_ObuSelfIssueCtrl.GetOBUInfo(); });
}

CString COBUIssueCtrl::IssueTerminal(const CString& param)
{
    return OpenRunClose([&] { return g_ObuSelfIssueCtrl.ActiveOBU(param); });
}

CString COBUIssueCtrl::UpdateTerminalInfo(const CString& param)
{
    return OpenRunClose([&] { return g_ObuSelfIssueCtrl.ChangeOBUInfo(param); });
}

CString COBUIssueCtrl::ReIssueTerminal(const CString& param)
{
    return OpenRunClose([&] { return g_ObuSelfIssueCtrl.ReactiveOBU(param); });
}

CString COBUIssueCtrl::CreateScode(const CString& param)
{
    return OpenRunClose([&] { return g_ObuSelfIssueCtrl.CreateScode(param); });
}

CString COBUIssueCtrl::OpenTerminal()
{
    return g_ObuSelfIssueCtrl.OpenOBU();
}

CString COBUIssueCtrl::CloseTerminal()
{
    return g_ObuSelfIssueCtrl.CloseOBU();
}

CommandGroup COBUIssueCtrl::ObuCommands()
{
    static const CommandEntry kRows[] = {
        {31, [](COBUIssueCtrl& c, const CString&) { return c.FetchMFSN(); }},
        {32, [](COBUIssueCtrl& c, const CString& p) { return c.SetManufactureKey(p); }},
        {33, [](COBUIssueCtrl& c, const CString&) { return c.ResetTerminal(); }},
        {34, [](COBUIssueCtrl& c, const CString&) { return c.QueryTerminalInfo(); }},
        {35, [](COBUIssueCtrl& c, const CString& p) { return c.IssueTerminal(p); }},
        {36, [](COBUIssueCtrl& c, const CString& p) { return c.UpdateTerminalInfo(p); }},
        {37, [](COBUIssueCtrl& c, const CString& p) { return c.ReIssueTerminal(p); }},
        {38, [](COBUIssueCtrl& c, const CString& p) { return c.CreateScode(p); }},
        {39, [](COBUIssueCtrl& c, const CString&) { return c.OpenTerminal(); }},
        {40, [](COBUIssueCtrl& c, const CString&) { return c.CloseTerminal(); }},
    };
    return {kRows, sizeof kRows / sizeof kRows[0]};
}
