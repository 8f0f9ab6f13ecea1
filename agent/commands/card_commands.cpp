// The card commands of the issuing page (ids 11 to 29 and 50 to 52) and the card
// operations they run. A card command opens the reader, runs one operation,
// closes the reader and answers the open text and the operation text joined by
// ':' (a slot that no step filled shows "9").
#include <ctime>
#include <mutex>

#include "agent/commands/obu_issue_ctrl.h"
#include "agent/time_text.h"

namespace {

CString Decimal(int code)
{
    CString text;
    text.Format("%d", code);
    return text;
}

using Operation = CString (COBUIssueCtrl::*)();
using OperationWithText = CString (COBUIssueCtrl::*)(const CString&);

// Open, the operation, close, with no other card command in between.
CString OpenRunClose(COBUIssueCtrl& ctrl, Operation operation)
{
    std::lock_guard<std::mutex> lock(ctrl.CardAccess().CommandLock());
    const CString open = ctrl.OpenCardReader();
    const CString result = (ctrl.*operation)();
    ctrl.CloseCardReader();
    return COBUIssueCtrl::JoinSlots(open, result);
}

// The same for an operation that takes the page's text, its commas repaired.
CString OpenRunClose(COBUIssueCtrl& ctrl, OperationWithText operation, const CString& param)
{
    const CString repaired = COBUIssueCtrl::RepairComma(param);
    std::lock_guard<std::mutex> lock(ctrl.CardAccess().CommandLock());
    const CString open = ctrl.OpenCardReader();
    const CString result = (ctrl.*operation)(repaired);
    ctrl.CloseCardReader();
    return COBUIssueCtrl::JoinSlots(open, result);
}

template <CString (COBUIssueCtrl::*Method)()>
CString Run(COBUIssueCtrl& ctrl, const CString&)
{
    return (ctrl.*Method)();
}

template <CString (COBUIssueCtrl::*Method)(const CString&)>
CString RunWithParam(COBUIssueCtrl& ctrl, const CString& param)
{
    return (ctrl.*Method)(param);
}

const CommandEntry kCardEntries[] = {
    {11, Run<&COBUIssueCtrl::SmartCardOpen>},
    {12, Run<&COBUIssueCtrl::FindCard>},
    {13, Run<&COBUIssueCtrl::QueryIssueCardNumber>},
    {14, Run<&COBUIssueCtrl::CheckOBUCount>},
    {15, Run<&COBUIssueCtrl::ReIssue1>},
    {16, Run<&COBUIssueCtrl::ReturnOBU>},
    {17, Run<&COBUIssueCtrl::OpenReaderOnly>},
    {18, Run<&COBUIssueCtrl::InitializeIssueCard>},
    {19, Run<&COBUIssueCtrl::OpenReaderOnly>},
    {20, Run<&COBUIssueCtrl::ReadIssueInfo>},
    {21, Run<&COBUIssueCtrl::ReadReIssueInfo>},
    {22, Run<&COBUIssueCtrl::ReadReturnInfo>},
    {23, Run<&COBUIssueCtrl::ReadRenewInfo>},
    {24, Run<&COBUIssueCtrl::QueryObuTerminalInfo>},
    {25, Run<&COBUIssueCtrl::OpenReaderOnly>},
    {26, Run<&COBUIssueCtrl::OpenReaderOnly>},
    {27, Run<&COBUIssueCtrl::SmartCardClose>},
    {28, RunWithParam<&COBUIssueCtrl::AddOBUNumber>},
    {29, RunWithParam<&COBUIssueCtrl::IssueOBU>},
    {50, RunWithParam<&COBUIssueCtrl::ReIssue2>},
    {51, RunWithParam<&COBUIssueCtrl::RenewOBU>},
    {52, RunWithParam<&COBUIssueCtrl::PrintReceiptRequest>},
};

// The built-in record that initialises an issuing card.
constexpr const char* kInitialReIssueText =
    "2222222222222222,1111111111111111,01,00,50,16,6194,20050101,20070101,01,0,0,";

std::tm LocalNow()
{
    return corvane::LocalTime(std::time(nullptr));
}

}  // namespace

const CommandGroup& COBUIssueCtrl::CardCommands()
{
    static const CommandGroup kGroup{kCardEntries, sizeof kCardEntries / sizeof kCardEntries[0]};
    return kGroup;
}

// ------------------------------------------------------------- card commands

CString COBUIssueCtrl::SmartCardOpen()
{
    std::lock_guard<std::mutex> lock(m_Pcsc.CommandLock());
    return JoinSlots(OpenCardReader(), kUnfilledSlot);  // the reader stays open
}

CString COBUIssueCtrl::OpenReaderOnly()
{
    std::lock_guard<std::mutex> lock(m_Pcsc.CommandLock());
    return JoinSlots(OpenCardReader(), kUnfilledSlot);
}

CString COBUIssueCtrl::SmartCardClose()
{
    std::lock_guard<std::mutex> lock(m_Pcsc.CommandLock());
    CloseCardReader();
    return JoinSlots("1", kUnfilledSlot);
}

CString COBUIssueCtrl::FindCard() { return OpenRunClose(*this, &COBUIssueCtrl::DetectCard); }
CString COBUIssueCtrl::QueryIssueCardNumber() { return OpenRunClose(*this, &COBUIssueCtrl::GetIssueCardNumber); }
CString COBUIssueCtrl::CheckOBUCount() { return OpenRunClose(*this, &COBUIssueCtrl::GetOBUNumberCount); }
CString COBUIssueCtrl::ReIssue1() { return OpenRunClose(*this, &COBUIssueCtrl::ReIssueCard); }
CString COBUIssueCtrl::ReturnOBU() { return OpenRunClose(*this, &COBUIssueCtrl::ReturnCard); }
CString COBUIssueCtrl::InitializeIssueCard() { return OpenRunClose(*this, &COBUIssueCtrl::InitIssueCard); }
CString COBUIssueCtrl::ReadIssueInfo() { return OpenRunClose(*this, &COBUIssueCtrl::ReadBlock); }
CString COBUIssueCtrl::ReadReIssueInfo() { return OpenRunClose(*this, &COBUIssueCtrl::ReadLongBlock); }
CString COBUIssueCtrl::ReadReturnInfo() { return OpenRunClose(*this, &COBUIssueCtrl::ReadBlock); }
CString COBUIssueCtrl::ReadRenewInfo() { return OpenRunClose(*this, &COBUIssueCtrl::ReadBlock); }
CString COBUIssueCtrl::QueryObuTerminalInfo() { return OpenRunClose(*this, &COBUIssueCtrl::QueryObuTerminal); }

CString COBUIssueCtrl::AddOBUNumber(const CString& param)
{
    return OpenRunClose(*this, &COBUIssueCtrl::AddOBUNumbers, param);
}

CString COBUIssueCtrl::IssueOBU(const CString& param)
{
    return OpenRunClose(*this, &COBUIssueCtrl::IssueCard, param);
}

CString COBUIssueCtrl::ReIssue2(const CString& param)
{
    return OpenRunClose(*this, &COBUIssueCtrl::ReIssueWithoutOBU, param);
}

CString COBUIssueCtrl::RenewOBU(const CString& param)
{
    return OpenRunClose(*this, &COBUIssueCtrl::RenewCard, param);
}

CString COBUIssueCtrl::PrintReceiptRequest(const CString& param)
{
    // The card is not used while the operator picks a printer: other card
    // commands go on meanwhile, and the close step closes whatever is open then.
    CString open;
    {
        std::lock_guard<std::mutex> lock(m_Pcsc.CommandLock());
        open = OpenCardReader();
    }
    const bool printed = PrintReceipt(param);  // as received: no repair
    {
        std::lock_guard<std::mutex> lock(m_Pcsc.CommandLock());
        CloseCardReader();
    }
    return JoinSlots(open, printed ? "TRUE" : "FALSE");
}

// ----------------------------------------------------------- card operations

CString COBUIssueCtrl::OpenCardReader()
{
    if (!m_Pcsc.OpenLink())
        return "0";
    m_Pcsc.SelectApplication();  // a port with no card in it still answers "1"
    return "1";
}

void COBUIssueCtrl::CloseCardReader()
{
    m_Pcsc.CloseLink();
}

CString COBUIssueCtrl::DetectCard()
{
    if (m_Pcsc.ReaderKind() != card::kReaderLibrary)
        return "0";
    return Decimal(m_Pcsc.Tarni().DetectMode());
}

CString COBUIssueCtrl::GetIssueCardNumber() { return m_Pcsc.ReadIssueCardNumber(); }
CString COBUIssueCtrl::GetOBUNumberCount() { return m_Pcsc.ReadOBUNumberCount(); }

CString COBUIssueCtrl::AddOBUNumbers(const CString& list)
{
    return m_Pcsc.AddOBUNumbers(list) == card::kStatusDone ? "0" : "1";
}

CString COBUIssueCtrl::IssueCard(const CString& text) { return Decimal(m_Pcsc.Issue(text)); }
CString COBUIssueCtrl::ReturnCard() { return Decimal(m_Pcsc.ReturnCard()); }
CString COBUIssueCtrl::ReIssueCard() { return Decimal(m_Pcsc.ReIssue()); }
CString COBUIssueCtrl::ReIssueWithoutOBU(const CString& text) { return Decimal(m_Pcsc.ReIssueWithoutOBU(text)); }
CString COBUIssueCtrl::RenewCard(const CString& text) { return Decimal(m_Pcsc.Renew(text)); }
CString COBUIssueCtrl::ReadBlock() { return m_Pcsc.ReadBlock(); }
CString COBUIssueCtrl::ReadLongBlock() { return m_Pcsc.ReadLongBlock(); }
CString COBUIssueCtrl::QueryObuTerminal() { return Decimal(m_Pcsc.QueryObuTerminal()); }

CString COBUIssueCtrl::InitIssueCard()
{
    m_Pcsc.ReadCardFile();
    m_Pcsc.ReadIssueBlock();
    const int blank = m_Pcsc.WriteBlankBlock();
    const int record = m_Pcsc.ReIssueWithoutOBU(kInitialReIssueText);
    ReadBlock();
    ReadLongBlock();
    ReadBlock();
    ReadBlock();
    // Done when the card took either write; "0" when it refused or did not
    // answer both (or no link was open).
    return blank == 1 || record == 1 ? "1" : "0";
}

// ------------------------------------------------------------------- receipt

void COBUIssueCtrl::UseReceiptPrinter(IPrintDialog* dialog, std::tm (*localNow)())
{
    m_pPrintDialog = dialog;
    m_pLocalNow = localNow;
}

bool COBUIssueCtrl::PrintReceipt(const CString& amount)
{
    const std::string date = ReceiptDateText(m_pLocalNow ? m_pLocalNow() : LocalNow());
    if (!m_pPrintDialog)
        return false;
    std::unique_ptr<IPrintContext> printer = m_pPrintDialog->Show();
    if (!printer)
        return false;  // cancelled, or no printer
    return PrintReceiptLines(*printer, ReceiptLines(amount, date));
}
