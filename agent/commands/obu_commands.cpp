// The OBU commands, ids 31 to 40: each runs the OBU controller's open step,
// one operation and its close step, and answers the open text and the
// operation's text joined by ':' (ids 39 and 40: the one step's text). The
// close step's text is dropped, and no parameter is repaired.
#include "agent/commands/obu_issue_ctrl.h"
#include "obulink/obu_controller.h"

namespace {

using Hold = CObuSelfIssueCtrl::Hold;

// Open, operation, close, under one hold of the OBU. A command started from
// inside another's wait on this thread, or on the window thread while another
// thread's command holds the OBU, gets a refused hold: its steps then touch
// nothing and answer as for an OBU that cannot be opened ("1:1"). The key and
// the S-code need no OBU: nested, "1:" (the key set) and "1:" + the S-code; on
// the window thread, "1:1" (the key left as it is) and "1:" + the S-code.
template <class Operation>
CString OpenRunClose(Operation operation)
{
    const Hold hold = g_ObuSelfIssueCtrl.HoldDevice();
    const CString openSlot = g_ObuSelfIssueCtrl.OpenOBU(hold);
    const CString operationSlot = operation(hold);
    g_ObuSelfIssueCtrl.CloseOBU(hold);
    return COBUIssueCtrl::JoinSlots(openSlot, operationSlot);
}

}  // namespace

CString COBUIssueCtrl::FetchMFSN()
{
    return OpenRunClose([](const Hold& hold) { return g_ObuSelfIssueCtrl.GetMFSN(hold); });
}

CString COBUIssueCtrl::SetManufactureKey(const CString& keyText)
{
    return OpenRunClose([&](const Hold& hold) { return g_ObuSelfIssueCtrl.SetProductKey(hold, keyText); });
}

CString COBUIssueCtrl::ResetTerminal()
{
    return OpenRunClose([](const Hold& hold) { return g_ObuSelfIssueCtrl.ResetOBU(hold); });
}

CString COBUIssueCtrl::QueryTerminalInfo()
{
    return OpenRunClose([](const Hold& hold) { return g_ObuSelfIssueCtrl.GetOBUInfo(hold); });
}

CString COBUIssueCtrl::IssueTerminal(const CString& param)
{
    return OpenRunClose([&](const Hold& hold) { return g_ObuSelfIssueCtrl.ActiveOBU(hold, param); });
}

CString COBUIssueCtrl::UpdateTerminalInfo(const CString& param)
{
    return OpenRunClose([&](const Hold& hold) { return g_ObuSelfIssueCtrl.ChangeOBUInfo(hold, param); });
}

CString COBUIssueCtrl::ReIssueTerminal(const CString& param)
{
    return OpenRunClose([&](const Hold& hold) { return g_ObuSelfIssueCtrl.ReactiveOBU(hold, param); });
}

CString COBUIssueCtrl::CreateScode(const CString& param)
{
    return OpenRunClose([&](const Hold&) { return g_ObuSelfIssueCtrl.CreateScode(param); });
}

// Alone, each step takes its own hold (refused as above: "1").
CString COBUIssueCtrl::OpenTerminal()
{
    return g_ObuSelfIssueCtrl.OpenOBU(g_ObuSelfIssueCtrl.HoldDevice());
}

CString COBUIssueCtrl::CloseTerminal()
{
    return g_ObuSelfIssueCtrl.CloseOBU(g_ObuSelfIssueCtrl.HoldDevice());
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
