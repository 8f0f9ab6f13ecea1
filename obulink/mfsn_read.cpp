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
            [](uint8_t*) { return CExchangeChannel::SealedRequest{MessageHead::kSize, kCommand}; },
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
    m_Channel.Receive(report, bytesRead, *this);
}

void CDoGetMFSN::ReportSeen(const uint8_t* /*report*/, const CExchangeChannel::Intake& in)
{
    // The status is the Reserved byte of the answer's last report.
    if (in.kind == CExchangeChannel::Intake::NeedMore || in.kind == CExchangeChannel::Intake::Answer)
        m_ReservedStatus = in.header.reserved;
}

void CDoGetMFSN::RandomKeyAnswerTaken(const CExchangeChannel::Intake& /*in*/)
{
    // The read asks for no random key.
}

void CDoGetMFSN::MalformedAnswer(const CExchangeChannel::Intake& /*in*/)
{
    BreakOff();
}

const uint8_t* CDoGetMFSN::OpenAnswer(const CExchangeChannel::Intake& in)
{
    // An answer without its whole head carries no serial number.
    if (in.length < MessageHead::kSize) {
        BreakOff();
        return nullptr;
    }
    return in.data;  // in clear
}

void CDoGetMFSN::AnswerTaken(const CExchangeChannel::Intake& in, const uint8_t* bytes)
{
    const size_t n = in.length;
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
