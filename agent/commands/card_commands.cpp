// The card commands of the issuing page (ids 11 to 29 and 50 to 52) and the card
// operations they run. A card command opens the reader, runs one operation,
// closes the reader and answers the open text and the operation text joined by
// ':' (a slot that no step filled shows "9").
#include <ctime>

#include "agent/commands/obu_issue_ctrl.h"
#include "agent/time_text.h"

namespace {

CString Decimal(int code)
{
    CString text;
    text.Format("%d", code);
    return text;
}

using OperationWithText = CString (*)(card::CPcsc&, const CString&);

// Runs `steps` on the controller's card access under a hold of the card. A
// card command nested in another on this thread, or one on the window thread
// while another thread's command holds the card, is refused the hold: its
// steps then run on an access without links, which answers as when no reader
// link can be opened, and the card access's link, records and buffers are
// left to the command that holds them.
template <class Steps>
CString OnCard(COBUIssueCtrl& ctrl, Steps steps)
{
    const DeviceLock::Hold hold = ctrl.CardAccess().CardLock().Take();
    if (hold) return steps(ctrl.CardAccess());
    card::CPcsc unlinked;
    return steps(unlinked);
}

// Open, the operation, close, with no other card command in between.
template <class Op>
CString OpenRunClose(COBUIssueCtrl& ctrl, Op operation)
{
    return OnCard(ctrl, [&](card::CPcsc& card) {
        const CString open = COBUIssueCtrl::OpenCardReader(card);
        const CString result = operation(card);
        card.CloseLink();
        return COBUIssueCtrl::JoinSlots(open, result);
    });
}

// The same for an operation that takes the page's text, its commas repaired.
CString OpenRunClose(COBUIssueCtrl& ctrl, OperationWithText operation, const CString& param)
{
    const CString repaired = COBUIssueCtrl::RepairComma(param);
    return OpenRunClose(ctrl, [&](card::CPcsc& card) { return operation(card, repaired); });
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
    // The reader stays open.
    return OnCard(*this, [](card::CPcsc& card) { return JoinSlots(OpenCardReader(card), kUnfilledSlot); });
}

CString COBUIssueCtrl::OpenReaderOnly()
{
    return OnCard(*this, [](card::CPcsc& card) { return JoinSlots(OpenCardReader(card), kUnfilledSlot); });
}

CString COBUIssueCtrl::SmartCardClose()
{
    return OnCard(*this, [](card::CPcsc& card) {
        card.CloseLink();
        return JoinSlots("1", kUnfilledSlot);
    });
}

CString COBUIssueCtrl::FindCard() { return OpenRunClose(*this, &DetectCard); }
CString COBUIssueCtrl::QueryIssueCardNumber() { return OpenRunClose(*this, &GetIssueCardNumber); }
CString COBUIssueCtrl::CheckOBUCount() { return OpenRunClose(*this, &GetOBUNumberCount); }
CString COBUIssueCtrl::ReIssue1() { return OpenRunClose(*this, &ReIssueCard); }
CString COBUIssueCtrl::ReturnOBU() { return OpenRunClose(*this, &ReturnCard); }
CString COBUIssueCtrl::InitializeIssueCard() { return OpenRunClose(*this, &InitIssueCard); }
CString COBUIssueCtrl::ReadIssueInfo() { return OpenRunClose(*this, &ReadBlock); }
CString COBUIssueCtrl::ReadReIssueInfo() { return OpenRunClose(*this, &ReadLongBlock); }
CString COBUIssueCtrl::ReadReturnInfo() { return OpenRunClose(*this, &ReadBlock); }
CString COBUIssueCtrl::ReadRenewInfo() { return OpenRunClose(*this, &ReadBlock); }
CString COBUIssueCtrl::QueryObuTerminalInfo() { return OpenRunClose(*this, &QueryObuTerminal); }

CString COBUIssueCtrl::AddOBUNumber(const CString& param)
{
    return OpenRunClose(*this, &AddOBUNumbers, param);
}

CString COBUIssueCtrl::IssueOBU(const CString& param)
{
    return OpenRunClose(*this, &IssueCard, param);
}

CString COBUIssueCtrl::ReIssue2(const CString& param)
{
    return OpenRunClose(*this, &ReIssueWithoutOBU, param);
}

CString COBUIssueCtrl::RenewOBU(const CString& param)
{
    return OpenRunClose(*this, &RenewCard, param);
}

CString COBUIssueCtrl::PrintReceiptRequest(const CString& param)
{
    // The card is not used while the operator picks a printer: other card
    // commands go on meanwhile, and the close step closes whatever is open then.
    const CString open = OnCard(*this, [](card::CPcsc& card) { return OpenCardReader(card); });
    const bool printed = PrintReceipt(param);  // as received: no repair
    OnCard(*this, [](card::CPcsc& card) {
        card.CloseLink();
        return CString();
    });
    return JoinSlots(open, printed ? "TRUE" : "FALSE");
}

// ----------------------------------------------------------- card operations

CString COBUIssueCtrl::OpenCardReader(card::CPcsc& card)
{
    if (!card.OpenLink())
        return "0";
    card.SelectApplication();  // a port with no card in it still answers "1"
    return "1";
}

void COBUIssueCtrl::CloseCardReader()
{
    m_Pcsc.CloseLink();
}

CString COBUIssueCtrl::DetectCard(card::CPcsc& card)
{
    if (card.ReaderKind() != card::kReaderLibrary)
        return "0";
    return Decimal(card.Tarni().DetectMode());
}

CString COBUIssueCtrl::GetIssueCardNumber(card::CPcsc& card) { return card.ReadIssueCardNumber(); }
CString COBUIssueCtrl::GetOBUNumberCount(card::CPcsc& card) { return card.ReadOBUNumberCount(); }

CString COBUIssueCtrl::AddOBUNumbers(card::CPcsc& card, const CString& list)
{
    return card.AddOBUNumbers(list) == card::kStatusDone ? "0" : "1";
}

CString COBUIssueCtrl::IssueCard(card::CPcsc& card, const CString& text) { return Decimal(card.Issue(text)); }
CString COBUIssueCtrl::ReturnCard(card::CPcsc& card) { return Decimal(card.ReturnCard()); }
CString COBUIssueCtrl::ReIssueCard(card::CPcsc& card) { return Decimal(card.ReIssue()); }
CString COBUIssueCtrl::ReIssueWithoutOBU(card::CPcsc& card, const CString& text)
{
    return Decimal(card.ReIssueWithoutOBU(text));
}
CString COBUIssueCtrl::RenewCard(card::CPcsc& card, const CString& text) { return Decimal(card.Renew(text)); }
CString COBUIssueCtrl::ReadBlock(card::CPcsc& card) { return card.ReadBlock(); }
CString COBUIssueCtrl::ReadLongBlock(card::CPcsc& card) { return card.ReadLongBlock(); }
CString COBUIssueCtrl::QueryObuTerminal(card::CPcsc& card) { return Decimal(card.QueryObuTerminal()); }

CString COBUIssueCtrl::InitIssueCard(card::CPcsc& card)
{
    card.ReadCardFile();
    card.ReadIssueBlock();
    const int blank = card.WriteBlankBlock();
    const int record = card.ReIssueWithoutOBU(kInitialReIssueText);
    card.ReadBlock();
    card.ReadLongBlock();
    card.ReadBlock();
    card.ReadBlock();
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
