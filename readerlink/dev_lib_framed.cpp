#include "readerlink/dev_lib_framed.h"

#include <algorithm>
#include <cstring>

#include "readerlink/error_codes.h"

namespace tarnlink {

CDevLibFramed::CDevLibFramed(IReaderPlatform& platform) : CDevLib(platform)
{
    std::memset(m_Id1, ' ', sizeof m_Id1);
    std::memset(m_Id2, ' ', sizeof m_Id2);
}

int CDevLibFramed::ModemExchange(uint32_t timeoutMs)
{
    CCommOBJ& record = *m_pRecord;
    const int n = record.m_nReqLen;
    const int length = BuildModemFrame(record.m_pReq, n, record.m_pFrame, kBufferSize);
    if (length < 0) return kErrRequestTooLong;
    record.m_nFrameLen = length;
    // Identifiers from the request's first 20 bytes; a short request leaves
    // spaces where it has no bytes.
    std::memset(m_Id1, ' ', sizeof m_Id1);
    std::memset(m_Id2, ' ', sizeof m_Id2);
    std::memcpy(m_Id1, record.m_pReq, static_cast<size_t>(std::clamp(n, 0, kModemIdLength)));
    std::memcpy(m_Id2, record.m_pReq + kModemIdLength, static_cast<size_t>(std::clamp(n - kModemIdLength, 0, kModemIdLength)));
    PurgeInput();
    WritePort(record.m_pFrame, record.m_nFrameLen);
    return ReceiveModemFrame(timeoutMs);
}

int CDevLibFramed::ReceiveModemFrame(uint32_t timeoutMs)
{
    CCommOBJ& record = *m_pRecord;
    m_nModemDataLen = 0;
    ModemReplyReceiver receiver(record.m_pResp, kBufferSize, m_Id1, m_Id2);
    const int result = PollReceive(receiver, Tick(), timeoutMs, kErrTimeout);
    m_nModemDataLen = receiver.DataLength();
    if (!IsError(result)) record.m_nRespLen = result;
    return result;
}

int CDevLibFramed::RawCommand(uint32_t waitMs)
{
    CCommOBJ& record = *m_pRecord;
    PurgeInput();
    WritePort(record.m_pReq, record.m_nReqLen);
    m_platform.SleepMs(waitMs);
    return ReadPort(record.m_pResp, kRawReplyCapacity);
}

int CDevLibFramed::WaitForByte(uint8_t byte, uint32_t timeoutMs)
{
    struct Watch : IByteReceiver {
        explicit Watch(uint8_t wanted) : wanted(wanted) {}
        int Feed(uint8_t got) override { return got == wanted ? 1 : kIncomplete; }
        uint8_t wanted;
    } watch(byte);
    return PollReceive(watch, Tick(), timeoutMs, 0);
}

}  // namespace tarnlink
