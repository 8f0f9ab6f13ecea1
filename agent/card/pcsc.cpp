#include "agent/card/pcsc.h"

#include <cstdio>
#include <cstring>

namespace card {

namespace {

// 90 00 (and data, where a command accepts it) reads as 1; every other code
// stays (no answer from the PC/SC service arrives here as 0, no link as 2).
int ResultOf(int outcomeCode, bool dataCounts)
{
    if (outcomeCode == kStatusDone || (dataCounts && outcomeCode == kStatusData))
        return 1;
    return outcomeCode;
}

void AppendHex(CString& text, uint8_t byte)
{
    static const char kDigits[] = "0123456789abcdef";
    text += kDigits[byte >> 4];
    text += kDigits[byte & 0x0F];
}

}  // namespace

void CPcsc::UseLinks(IReaderLibrary* library, IPcscLink* pcsc)
{
    m_Tarni.SetLibrary(library);
    m_pCardReader = pcsc;
}

bool CPcsc::OpenLink()
{
    if (m_nReaderKind != kReaderNone)
        CloseLink();
    if (m_Tarni.OpenPort()) {
        m_nReaderKind = kReaderLibrary;
        m_Tarni.DetectMode();  // a port with no card in it is still the link
        return true;
    }
    if (m_pCardReader && m_pCardReader->Connect()) {
        m_nReaderKind = kReaderPcsc;
        return true;
    }
    return false;
}

void CPcsc::CloseLink()
{
    if (m_nReaderKind == kReaderLibrary)
        m_Tarni.ClosePorts();
    else if (m_nReaderKind == kReaderPcsc && m_pCardReader)
        m_pCardReader->Close();
    m_nReaderKind = kReaderNone;
    m_cardSilent = false;
}

CPcsc::Outcome CPcsc::Exchange(size_t length, ApduKind kind)
{
    m_replyLength = 0;
    switch (m_nReaderKind) {
    case kReaderLibrary: {
        IReaderLibrary* library = m_Tarni.Library();
        int32_t replyLength = 0;  // stays 0 when the reader does not answer with success
        const int32_t n = static_cast<int32_t>(length);
        if (m_Tarni.m_bRFMode)
            library->AbmTransparent(CTarni::kReaderPort, CTarni::kCardCommand, n, m_request, &replyLength, m_reply);
        else if (kind == ApduKind::kHeaderOnly)
            library->IcCase2(CTarni::kReaderPort, n, m_request, &replyLength, m_reply);
        else
            library->IcCase3(CTarni::kReaderPort, n, m_request, &replyLength, m_reply);
        if (replyLength > 0 && replyLength <= kReaderReplyCapacity)
            m_replyLength = static_cast<size_t>(replyLength);
        return Outcome::kAnswered;
    }
    case kReaderPcsc: {
        size_t replyLength = 0;
        // The buffer keeps room after the reply: the texts read one byte past it.
        if (!m_pCardReader->Transmit(m_request, length, m_reply, kReaderReplyCapacity, replyLength) ||
            replyLength > kReaderReplyCapacity)
            return Outcome::kNoAnswer;
        m_replyLength = replyLength;
        return Outcome::kAnswered;
    }
    default:
        return Outcome::kNoLink;
    }
}

CPcsc::Exchanged CPcsc::Run(const uint8_t* request, size_t length, ApduKind kind, bool decode)
{
    std::memset(m_request, 0, sizeof m_request);
    std::memset(m_reply, 0, sizeof m_reply);
    m_replyLength = 0;
    if (length > sizeof m_request)
        return {Outcome::kNoAnswer, kStatusOther};
    std::memcpy(m_request, request, length);
    const Outcome outcome = Exchange(length, kind);
    switch (outcome) {
    case Outcome::kNoLink: return {outcome, kStatusNoReply};
    case Outcome::kNoAnswer: return {outcome, kStatusOther};
    default: return {outcome, decode ? DecodeStatus(m_reply, m_replyLength) : kStatusOther};
    }
}

CPcsc::Exchanged CPcsc::Run(const ApduHeader& header, const uint8_t* data, size_t dataLength, bool decode)
{
    uint8_t request[kRequestSize];
    std::memcpy(request, header.bytes, sizeof header.bytes);
    if (dataLength > sizeof request - sizeof header.bytes)
        return {Outcome::kNoAnswer, kStatusOther};
    if (dataLength)
        std::memcpy(request + sizeof header.bytes, data, dataLength);
    return Run(request, sizeof header.bytes + dataLength, header.kind, decode);
}

int CPcsc::SelectApplication()
{
    const Exchanged r = Run(kSelectApplication, sizeof kSelectApplication, ApduKind::kWithData, false);
    if (r.outcome == Outcome::kNoLink)
        return kStatusNoReply;
    m_cardSilent = r.outcome == Outcome::kAnswered && m_replyLength == 0;
    return r.outcome == Outcome::kAnswered && m_replyLength >= 2 && m_reply[0] == kSelectAnswer[0] &&
                   m_reply[1] == kSelectAnswer[1]
               ? 1
               : 0;
}

int CPcsc::ReadCardFile()
{
    return ResultOf(Run(kReadCardFile).code, true);
}

int CPcsc::ReadIssueBlock()
{
    return ResultOf(Run(kReadIssueBlock).code, true);
}

int CPcsc::WriteBlankBlock()
{
    uint8_t block[CNoOBUReIssueData::kRecordSize] = {kBlankBlockMark};
    return ResultOf(Run(kWriteBlock, block, sizeof block).code, true);
}

int CPcsc::QueryObuTerminal()
{
    return ResultOf(Run(kQueryObuTerminal).code, false);
}

int CPcsc::ReIssue()
{
    return ResultOf(Run(kReIssue).code, false);
}

int CPcsc::ReturnCard()
{
    return ResultOf(Run(kReturnCard).code, false);
}

int CPcsc::RefusedText() const
{
    return m_nReaderKind == kReaderNone || m_cardSilent ? kStatusNoReply : kStatusOther;
}

int CPcsc::RunIssue(const ApduHeader& header, uint8_t mark, const CString& text)
{
    if (!CIssueData::CheckIssueText(text.view()))
        return RefusedText();
    m_IssueData.ParseIssueRecord(text.view());
    uint8_t data[1 + CIssueData::kRecordSize] = {mark};
    int length = 0;
    m_IssueData.BuildIssueRecord45(data + 1, &length);
    return ResultOf(Run(header, data, sizeof data).code, false);
}

int CPcsc::Issue(const CString& text)
{
    return RunIssue(kIssue, kIssueMark, text);
}

int CPcsc::Renew(const CString& text)
{
    return RunIssue(kRenew, kRenewMark, text);
}

int CPcsc::ReIssueWithoutOBU(const CString& text)
{
    if (m_nReaderKind == kReaderNone)
        return kStatusNoReply;
    if (!CNoOBUReIssueData::CheckReIssueText(text.view()))
        return RefusedText();
    Run(kReadCardFile);
    Run(kReadIssueBlock);
    m_ReIssueData.Parse(text.view());
    uint8_t record[CNoOBUReIssueData::kRecordSize];
    int length = 0;
    m_ReIssueData.Pack(record, &length);
    return ResultOf(Run(kWriteBlock, record, sizeof record).code, false);
}

int CPcsc::AddOBUNumbers(const CString& list)
{
    m_OBUNumber.Parse(list.view());
    uint8_t packed[COBUNumber::kPackedSize];
    while (m_OBUNumber.GetNext(packed)) {
        const Exchanged r = Run(kAddOBUNumber, packed, sizeof packed);
        if (r.outcome == Outcome::kNoLink)
            return kStatusNoReply;
        if (r.code != kStatusDone)
            return r.code;  // kStatusOther for no answer and for an unlisted status
    }
    return kStatusDone;
}

CString CPcsc::ReadIssueCardNumber()
{
    const Exchanged r = Run(kReadCardFile);
    if (r.outcome == Outcome::kNoLink)
        return "2";
    if (r.outcome == Outcome::kNoAnswer || r.code != kStatusData)
        return "";
    // Every byte but the last three; the number starts 13 bytes in where the
    // reader puts the instruction byte in front of a contact card's data.
    CString hex;
    for (size_t i = 0; i + 3 < m_replyLength; ++i)
        AppendHex(hex, m_reply[i]);
    return hex.Mid(ContactOnReaderLink() ? 26 : 24, 16);
}

CString CPcsc::ReadOBUNumberCount()
{
    const bool readerLink = m_nReaderKind == kReaderLibrary;
    const Exchanged r = Run(kReadOBUNumberCount);
    if (r.outcome == Outcome::kAnswered && r.code == kStatusData && readerLink && m_Tarni.m_bRFMode) {
        // A contactless card answers without the instruction byte that a contact
        // card's reply starts with; put it in front so both read alike.
        std::memmove(m_reply + 1, m_reply, m_replyLength);
        m_reply[0] = kReadOBUNumberCount.bytes[1];
        ++m_replyLength;
    }
    if (r.outcome == Outcome::kNoLink)
        return "N";
    if (r.outcome == Outcome::kNoAnswer || r.code != kStatusData)
        return "0";
    // The count's two bytes, high first, follow the instruction byte on the
    // reader link and start the reply over PC/SC.
    const size_t first = readerLink ? 1 : 0;
    if (m_replyLength == first + 4) {
        CString count;
        count.Format("%u", static_cast<unsigned>(m_reply[first] << 8 | m_reply[first + 1]));
        return count;
    }
    // Any other length: the digits of each byte after the first, one after the other.
    CString text;
    for (size_t i = first + 1; i + 2 < m_replyLength; ++i) {
        char digits[4];
        std::snprintf(digits, sizeof digits, "%u", static_cast<unsigned>(m_reply[i]));
        text += digits;
    }
    return text;
}

CString CPcsc::ReadBlockText(const ApduHeader& header, bool longBlock)
{
    const Exchanged r = Run(header);
    if (r.outcome == Outcome::kNoLink)
        return "2";
    if (r.outcome == Outcome::kNoAnswer)
        return "0";
    if (r.code != kStatusData) {
        CString code;
        code.Format("%d", r.code);
        return code;
    }
    // From the second byte up to and including the byte after the reply, which
    // the cleared buffer holds as 00.
    // A long block that comes through the reader library with a leading 06 is
    // read from its third byte.
    const size_t first = longBlock && m_nReaderKind == kReaderLibrary && m_reply[0] == 0x06 ? 2 : 1;
    CString hex;
    for (size_t i = first; i <= m_replyLength; ++i)
        AppendHex(hex, m_reply[i]);
    return hex;
}

CString CPcsc::ReadBlock()
{
    return ReadBlockText(kReadBlock, false);
}

CString CPcsc::ReadLongBlock()
{
    return ReadBlockText(kReadLongBlock, true);
}

}  // namespace card
