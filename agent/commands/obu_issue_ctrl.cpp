#include "agent/commands/obu_issue_ctrl.h"

#include <string>

#include "framework/lifetime.h"

COBUIssueCtrl::COBUIssueCtrl()
{
    corvane::NoteLifetime(this, "COBUIssueCtrl", true);
}

// A controller that goes closes whatever card link is open, after a card
// command that still runs, as another card command would. The agent never
// destroys its controller (it ends its process at once, see CloseIdleCardLink):
// this is for controllers whose users are gone, as in tests.
COBUIssueCtrl::~COBUIssueCtrl()
{
    if (const DeviceLock::Hold hold = m_Pcsc.CardLock().Take()) CloseCardReader();
    corvane::NoteLifetime(this, "COBUIssueCtrl", false);
}

bool COBUIssueCtrl::CloseIdleCardLink()
{
    const DeviceLock::Hold hold = m_Pcsc.CardLock().TryTake();
    if (!hold) return false;
    CloseCardReader();
    return true;
}

bool COBUIssueCtrl::RunCommand(int id, const CString& param, CString& result)
{
    size_t groupCount = 0;
    const CommandGroup* groups = Groups(groupCount);
    for (size_t g = 0; g < groupCount; ++g) {
        for (size_t i = 0; i < groups[g].count; ++i) {
            if (groups[g].entries[i].id == id) {
                result = groups[g].entries[i].run(*this, param);
                return true;
            }
        }
    }
    return false;
}

CString COBUIssueCtrl::SetManufactureNumber(const CString&, const CString&)
{
    return kUnfilledSlot;
}

CString COBUIssueCtrl::JoinSlots(const CString& openSlot, const CString& operationSlot)
{
    return openSlot + ":" + operationSlot;
}

namespace {

CString Repair(const CString& text, bool colonToo)
{
    const std::string& in = text.str();
    std::string out;
    out.reserve(in.size());
    for (size_t at = 0; at < in.size();) {
        if (in.compare(at, 3, "%2C") == 0) {
            out += ',';
            at += 3;
        } else if (colonToo && in.compare(at, 3, "%3A") == 0) {
            out += ':';
            at += 3;
        } else {
            out += in[at++];
        }
    }
    return CString(std::move(out));
}

}  // namespace

CString COBUIssueCtrl::RepairCommaColon(const CString& text)
{
    return Repair(text, true);
}

CString COBUIssueCtrl::RepairComma(const CString& text)
{
    return Repair(text, false);
}
