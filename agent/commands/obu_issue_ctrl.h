// COBUIssueCtrl: the issuing-command controller. One command method per command
// id of the issuing page; each runs its command against the devices and returns
// one short result text, which the request handler puts into its answer.
#pragma once

#include <cstddef>
#include <cstdint>
#include <ctime>

#include "agent/card/pcsc.h"
#include "agent/commands/receipt.h"
#include "framework/cstring.h"

class COBUIssueCtrl;

// One row of the command table: the id and the method that runs it. Methods that
// take no text ignore `param`.
struct CommandEntry {
    int id;
    CString (*run)(COBUIssueCtrl& ctrl, const CString& param);
};

// The command table of one group of commands (card, OBU, biometric).
struct CommandGroup {
    const CommandEntry* entries;
    size_t count;
};

class COBUIssueCtrl {
public:
    COBUIssueCtrl();
    // Closes the open card link, after any card command that runs.
    ~COBUIssueCtrl();

    // The agent's end: closes the open card link when no card command holds the
    // card, and waits for none. False when a command held it (its link is left
    // open).
    bool CloseIdleCardLink();

    // Runs the command method of `id` with `param`. Returns false, leaving
    // `result` alone, when no command method has this id.
    bool RunCommand(int id, const CString& param, CString& result);

    // Test panel only: uses neither text and answers "9".
    CString SetManufactureNumber(const CString& first, const CString& second);

    // Mark of a result slot that no step filled.
    static constexpr const char* kUnfilledSlot = "9";

    // The answer of a two-step command: open step, ':', operation.
    static CString JoinSlots(const CString& openSlot, const CString& operationSlot);

    // Undoes the page's encoding of ',' and ':' ("%2C", "%3A", upper-case only),
    // left to right, never rescanning a replacement.
    static CString RepairCommaColon(const CString& text);
    static CString RepairComma(const CString& text);

    // ---- OBU commands, ids 31 to 40 (obu_commands.cpp) ----
    // Each opens the OBU through g_ObuSelfIssueCtrl, runs one operation and
    // closes it, holding the OBU for the three steps; the answer is the open
    // text, ':' and the operation's text. Ids 39 and 40 answer their one step.
    CString FetchMFSN();                                 // 31
    CString SetManufactureKey(const CString& keyText);   // 32
    CString ResetTerminal();                             // 33
    CString QueryTerminalInfo();                         // 34
    CString IssueTerminal(const CString& param);         // 35
    CString UpdateTerminalInfo(const CString& param);    // 36
    CString ReIssueTerminal(const CString& param);       // 37
    CString CreateScode(const CString& param);           // 38
    CString OpenTerminal();                              // 39
    CString CloseTerminal();                             // 40
    // The rows of ids 31 to 40.
    static CommandGroup ObuCommands();
    // ---- end of the OBU commands ----

    // ---- Biometric commands, ids 61 to 71 (biometric_commands.cpp) ----
    // Each makes one call of g_BIUIssueCtrl (id 61 two) under one hold of the
    // unit and answers its text alone; ids 64 to 71 wait 200 ms after the
    // operation.
    CString ConnectBIU(const CString& keyText);        // 61
    CString CloseBIU();                                // 62
    CString GetBIUState();                             // 63
    CString InitiateBIU();                             // 64
    CString GetBIUInfo();                              // 65
    CString GetBIUUserInfo();                          // 66
    CString RegistFingerprint(const CString& param);   // 67
    CString VerifyFingerprint(const CString& param);   // 68
    CString DeleteFingerprint(const CString& param);   // 69
    CString DeleteBIUUser(const CString& param);       // 70
    CString RegistReductionInfo(const CString& param); // 71
    // The rows of ids 61 to 71.
    static CommandGroup BiometricCommands();
    static constexpr uint32_t kBiometricPauseMs = 200;
    // ---- end of the biometric commands ----

    // The groups of the table, in the order they are searched.
    static const CommandGroup* Groups(size_t& count);

    // ---- Card commands: ids 11 to 29 and 50 to 52 (card_commands.cpp) ----
    static const CommandGroup& CardCommands();
    CString SmartCardOpen();                          // 11
    CString FindCard();                               // 12
    CString QueryIssueCardNumber();                   // 13
    CString CheckOBUCount();                          // 14
    CString ReIssue1();                               // 15
    CString ReturnOBU();                              // 16
    CString OpenReaderOnly();                         // 17, 19, 25, 26
    CString InitializeIssueCard();                    // 18
    CString ReadIssueInfo();                          // 20
    CString ReadReIssueInfo();                        // 21
    CString ReadReturnInfo();                         // 22
    CString ReadRenewInfo();                          // 23
    CString QueryObuTerminalInfo();                   // 24
    CString SmartCardClose();                         // 27
    CString AddOBUNumber(const CString& param);       // 28
    CString IssueOBU(const CString& param);           // 29
    CString ReIssue2(const CString& param);           // 50
    CString RenewOBU(const CString& param);           // 51
    CString PrintReceiptRequest(const CString& param);  // 52

    // Card operations: each runs on `card`'s open link and words its outcome.
    // The card commands run them on CardAccess() under a hold of its card
    // lock, or, refused the card, on an access without links.
    static CString OpenCardReader(card::CPcsc& card);  // "1" a link is open, "0" none
    static CString DetectCard(card::CPcsc& card);
    static CString GetIssueCardNumber(card::CPcsc& card);
    static CString GetOBUNumberCount(card::CPcsc& card);
    static CString AddOBUNumbers(card::CPcsc& card, const CString& list);
    static CString IssueCard(card::CPcsc& card, const CString& text);
    static CString ReturnCard(card::CPcsc& card);
    static CString ReIssueCard(card::CPcsc& card);
    static CString ReIssueWithoutOBU(card::CPcsc& card, const CString& text);
    static CString RenewCard(card::CPcsc& card, const CString& text);
    static CString ReadBlock(card::CPcsc& card);
    static CString ReadLongBlock(card::CPcsc& card);
    static CString QueryObuTerminal(card::CPcsc& card);
    // "1" when the card took the blank block or the record, else "0".
    static CString InitIssueCard(card::CPcsc& card);
    // Closes whatever link CardAccess() has open (the caller holds the card).
    void CloseCardReader();
    // Prints the receipt for `amount` on the printer the operator picks: false
    // when no printer was picked (cancelled, or none there) or the printer did
    // not take the whole job.
    bool PrintReceipt(const CString& amount);

    // The card access and the receipt's printer and clock (set by the program
    // at start-up, or by tests). Without a print dialog nothing is printed.
    card::CPcsc& CardAccess() { return m_Pcsc; }
    void UseReceiptPrinter(IPrintDialog* dialog, std::tm (*localNow)() = nullptr);

private:
    card::CPcsc m_Pcsc;
    IPrintDialog* m_pPrintDialog = nullptr;
    std::tm (*m_pLocalNow)() = nullptr;
};

extern COBUIssueCtrl g_OBUIssueCtrl;
