#include "obulink/mfsn_read.h"

#include <cstdio>
#include <cstring>


CDoGetMFSN::CDoGetMFSN(const CHidDeviceRecord& device) : m_Device(device)
{
}

CDoGetMFSN::~CDoGetMFSN()
{
    m_Channel.Stop();
}

CString CDoGetMFSN::GetMFSN()
{
    m_Device.m_dwReadTimeout = kIoTimeoutMs;
    m_Device.m_dwWriteTimeout = kIoTimeoutMs;
    m_bDone = false;
    m_bAnswerBroken = false;
    if (!m_Channel.Start(
            *m_Services.clock, &m_bDone,
            [this](const uint8_t* report, size_t bytesRead) { OnReceive(report, bytesRead); },
            [this] { BreakOff(); }))
        return "0";
    try {
        m_Trace.Label("================> Start : Get OBU MFSN <==================");
        const CExchangeChannel::SendResult sent = m_Channel.Send(
            CExchangeChannel::Awaiting::Answer,
            // Command 0x00, every field 0: the channel's message starts zeroed.
            [](uint8_t*) { return CExchangeChannel::SealedRequest{MessageHead::kSize, 0x00}; },
            [this](size_t, const uint8_t* report) { return SendReport(report); });
        // A request that could not be written gets no answer: nothing to wait for.
        if (sent == CExchangeChannel::SendResult::Sent) WaitForFlag(m_bDone, kWaitLimitMs, m_Services);
    } catch (...) {
        m_Channel.Stop();
        throw;
    }
    m_Channel.Stop();

    if (!m_bDone.load() || m_bAnswerBroken.load()) return "0";
    if (m_ReservedStatus != 0) return CString(reinterpret_cast<const char*>(&m_ReservedStatus), 1);

    static const char kHex[] = "0123456789ABCDEF";
    std::string text;
    for (size_t i = 0; i < kSerialSize; ++i) {
        text += kHex[m_AnswerData[i] >> 4];
        text += kHex[m_AnswerData[i] & 0x0F];
    }
    m_Trace.Bytes(reinterpret_cast<const uint8_t*>(text.data()), text.size());
    m_Trace.Labelled("[##################################################]", m_AnswerData, 16);
    return CString(std::move(text));
}

void CDoGetMFSN::BreakOff()
{
    if (m_bDone.load()) return;
    m_bAnswerBroken = true;
    m_bDone = true;
}

bool CDoGetMFSN::SendReport(const uint8_t* report)
{
    m_Trace.Labelled("[암호화된 요청정보]", report, kObuReportLayout.reportLength);
    const uint8_t result = m_Device.WriteReport(report, kObuReportLayout.reportLength);
    char line[32];
    std::snprintf(line, sizeof line, "Trans report [%02x]", result);
    m_Trace.Data(line);
    return result == kHidDone;
}

void CDoGetMFSN::OnReceive(const uint8_t* report, size_t bytesRead)
{
    const CExchangeChannel::Intake in = m_Channel.Take(report, bytesRead);
    switch (in.kind) {
    case CExchangeChannel::Intake::Foreign: return;
    case CExchangeChannel::Intake::Unrequested:
    case CExchangeChannel::Intake::RandomKeyAnswer: return m_Channel.TraceDropped(in);
    case CExchangeChannel::Intake::NeedMore: m_ReservedStatus = in.header.reserved; return;
    case CExchangeChannel::Intake::Malformed: return BreakOff();
    case CExchangeChannel::Intake::Answer: break;
    }
    m_ReservedStatus = in.header.reserved;
    OnCommandAnswer(in.data, in.length);
}

void CDoGetMFSN::OnCommandAnswer(const uint8_t* bytes, size_t n)
{
    // An answer without its whole head carries no serial number.
    if (n < MessageHead::kSize) return BreakOff();
    m_Channel.Settle();
    std::memcpy(m_PlainBuf, bytes, n < 24 ? n : 24);
    m_Trace.Label("[Return 되는 처리 결과 Get MFSN]");
    m_Trace.HeadLines(m_PlainBuf);
    std::memset(m_AnswerData, 0, sizeof m_AnswerData);
    const size_t data = n - MessageHead::kSize;
    std::memcpy(m_AnswerData, bytes + MessageHead::kSize, data < sizeof m_AnswerData ? data : sizeof m_AnswerData);
    m_Trace.Labelled("[MFSN 요청-결과값->복호화]", m_PlainBuf, 64);
    m_bDone = true;
    m_Trace.Label("======> Finish Get MFSN <======");
}
