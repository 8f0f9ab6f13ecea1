// CPcsc: the card access of the issuing-command controller. It owns both links
// to the issuing card (the reader link library, CTarni, and the PC/SC link),
// remembers which one is open, carries one card command at a time over it and
// turns the card's reply into a status code or a text. A CPcsc without links
// answers every command as when no link can be opened.
#pragma once

#include <cstddef>
#include <cstdint>

#include "agent/card/card_apdu.h"
#include "agent/card/card_status.h"
#include "agent/card/issue_records.h"
#include "agent/card/pcsc_link.h"
#include "agent/card/reader_library.h"
#include "agent/card/tarni.h"
#include "framework/cstring.h"
#include "framework/device_lock.h"

namespace card {

enum ReaderKind : int { kReaderNone = 0, kReaderLibrary = 1, kReaderPcsc = 2 };

class CPcsc {
public:
    CPcsc() = default;
    virtual ~CPcsc() = default;
    CPcsc(const CPcsc&) = delete;
    CPcsc& operator=(const CPcsc&) = delete;

    // The links the card is reached through (either may be null: not there).
    void UseLinks(IReaderLibrary* library, IPcscLink* pcsc);

    // Opens a link: the reader link library's ports first, PC/SC when none opens.
    // A link that is open is closed first. True when a link is open.
    bool OpenLink();
    // The close step: closes the open link, whichever it is; the kind becomes none.
    void CloseLink();
    int ReaderKind() const { return m_nReaderKind; }
    CTarni& Tarni() { return m_Tarni; }

    // Card commands. Codes: 2 no link; 0 no answer from the PC/SC service or a
    // status not listed; 1 done; other decoded codes unchanged (see each).
    int SelectApplication();        // 1 when the card answered 61 1A, else 0
    int ReadCardFile();             // 1 for 90 00 or data
    int ReadIssueBlock();           // 1 for 90 00 or data
    int WriteBlankBlock();          // 1 for 90 00 or data
    int QueryObuTerminal();         // 1 for 90 00 alone
    int ReIssue();                  // 1 for 90 00 alone
    int ReturnCard();               // 1 for 90 00 alone
    // As ReIssue. A text with an item that would run past its field is not
    // sent: 2 with no link or when the card did not answer the open step's
    // SELECT, else 0.
    int Issue(const CString& text);
    int Renew(const CString& text);              // the same
    int ReIssueWithoutOBU(const CString& text);  // the same, for its write
    // kStatusDone when every number was accepted with 90 00 (or the list held
    // none); else the code of the first refusal, kStatusOther for a number that
    // got no answer.
    int AddOBUNumbers(const CString& list);

    CString ReadIssueCardNumber();  // 16 hexadecimal digits, "" without data, "2" no link
    CString ReadOBUNumberCount();   // the two-byte count in decimal, "0" without data, "N" no link
    CString ReadBlock();            // the reply in hexadecimal, "0" no answer, the code, "2" no link
    CString ReadLongBlock();

    // Reduces a reply to its status code (see card_status.h); may shorten it.
    static int DecodeStatus(uint8_t* reply, size_t& length) { return card::DecodeStatus(reply, length); }

    // One card command at a time: the link, the records and the buffers are
    // shared by every request. A card command holds this lock from its open
    // step to its close step (framework/device_lock.h: refused, nested or on
    // the window thread while another thread holds the card, it runs on an
    // access without links instead).
    DeviceLock& CardLock() { return m_cardLock; }

private:
    enum class Outcome { kAnswered, kNoAnswer, kNoLink };
    struct Exchanged {
        Outcome outcome;
        int code;  // the decoded status when answered
    };

    // Clears the buffers, writes header + data as the request and exchanges it.
    Exchanged Run(const ApduHeader& header, const uint8_t* data = nullptr, size_t dataLength = 0,
                  bool decode = true);
    Exchanged Run(const uint8_t* request, size_t length, ApduKind kind, bool decode = true);
    // Sends m_request over the open link; fills m_reply and m_replyLength.
    Outcome Exchange(size_t length, ApduKind kind);
    int RunIssue(const ApduHeader& header, uint8_t mark, const CString& text);
    // The answer to a text that is not sent: what a command gets with no link
    // or no card (2), else 0.
    int RefusedText() const;
    CString ReadBlockText(const ApduHeader& header, bool longBlock);
    bool ContactOnReaderLink() const { return m_nReaderKind == kReaderLibrary && m_Tarni.m_bRFMode == 0; }

    static constexpr size_t kRequestSize = 256;
    // Room for the longest reply either link writes, and then some: a reply
    // text reads the byte after the reply, and the count adds one in front.
    static constexpr size_t kReplySize = kReaderReplyCapacity + 8;

    CTarni m_Tarni;
    IPcscLink* m_pCardReader = nullptr;
    COBUNumber m_OBUNumber;
    CIssueData m_IssueData;
    CNoOBUReIssueData m_ReIssueData;
    int m_nReaderKind = kReaderNone;
    bool m_cardSilent = false;  // the SELECT on this link got no reply at all
    DeviceLock m_cardLock;

    uint8_t m_request[kRequestSize] = {};
    uint8_t m_reply[kReplySize] = {};
    size_t m_replyLength = 0;
};

}  // namespace card
