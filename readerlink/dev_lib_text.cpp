#include "readerlink/dev_lib_text.h"

#include <cstdio>
#include <cstdlib>
#include <cstring>

#include "readerlink/error_codes.h"
#include "readerlink/text_frame.h"

namespace tarnlink {

int CDevLibText::Exchange(int kind)
{
    CCommOBJ& record = *m_pRecord;
    std::string line;
    switch (kind) {
    case 0:
        line = std::string(kAddress) + "02";
        line.append(reinterpret_cast<const char*>(record.m_pReq), static_cast<size_t>(record.m_nReqLen));
        break;
    case 1:
        line = std::string(kAddress) + "01DB";
        break;
    case 2:
        line = std::string(kAddress) + "07";
        break;
    default:
        break;
    }
    return SendLine(line);
}

int CDevLibText::SendLine(const std::string& line)
{
    CCommOBJ& record = *m_pRecord;
    const int length = BuildTextFrame(line, record.m_pFrame, kBufferSize);
    if (length < 0) return kErrRequestTooLong;
    record.m_nFrameLen = length;
    return SendFrame(0);
}

int CDevLibText::SendFrame(int /*kind*/)
{
    CCommOBJ& record = *m_pRecord;
    DebugText("Call");
    PurgeInput();
    WritePort(record.m_pFrame, record.m_nFrameLen);
    std::memset(record.m_pFrame, 0x14, static_cast<size_t>(record.m_nFrameLen));
    return Receive();
}

int CDevLibText::Receive()
{
    CCommOBJ& record = *m_pRecord;
    const uint32_t start = Tick();
    char text[32];
    std::snprintf(text, sizeof text, "Tick = %u", static_cast<unsigned>(start));
    DebugText(text);
    m_platform.SleepMs(kSettleMs);
    TextReplyReceiver receiver(record.m_pResp, kBufferSize);
    const int result = PollReceive(receiver, start, kReplyLimitMs, kErrTextTimeout);
    // A reply that acknowledges keeps its length; one that does not keeps its
    // pair 1 (what a caller copies is bounded by the text that came).
    if (!IsError(result)) record.m_nRespLen = result;
    m_lastReply = receiver.text();
    return result;
}

bool CDevLibText::LastReplyAcknowledged(int result) const
{
    return !IsError(result) && m_lastReply.compare(0, 6, kAcknowledged) == 0;
}

int CDevLibText::SendText(const char* count, int flag, const char* trailer)
{
    CCommOBJ& record = *m_pRecord;
    const int blocks = record.m_nReqLen / kBlockSize;
    // The count comes written in hexadecimal; read it back the same way.
    const int first = flag ? static_cast<int>(std::strtol(count ? count : "", nullptr, 16)) : 1;
    const int total = flag ? (first + blocks) * 2 - 2 : blocks * 2;
    const std::string tail = trailer ? trailer : "";

    char head[64];
    std::snprintf(head, sizeof head, "07DA000880%XA00", static_cast<unsigned>(total));
    const int result = SendLine(std::string(kAddress) + head + tail);
    if (!LastReplyAcknowledged(result)) return result;
    return SendBlocks(first, blocks, tail);
}

int CDevLibText::SendBlocks(int first, int blocks, const std::string& trailer)
{
    CCommOBJ& record = *m_pRecord;
    int result = 0;
    bool sent = false;
    for (int b = 0; b < blocks; ++b) {
        std::string line = std::string(kAddress) + "07DA";
        line.append(reinterpret_cast<const char*>(record.m_pReq) + b * kBlockSize, kBlockSize);
        char number[16];
        std::snprintf(number, sizeof number, "%02d", first + b);
        line += number;
        line += trailer;
        result = SendLine(line);
        sent = true;
        if (!LastReplyAcknowledged(result)) break;
    }
    // No block to send: the acknowledged header stands.
    return sent ? result : static_cast<int>(m_lastReply.size());
}

}  // namespace tarnlink
