#include "readerlink/dev_lib_reader.h"

#include <cstring>

#include "readerlink/error_codes.h"
#include "readerlink/reader_frame.h"

namespace tarnlink {

int CDevLibReader::Receive()
{
    CCommOBJ& record = *m_pRecord;
    SerialReplyReceiver receiver(record.m_pResp, kBufferSize);
    const uint32_t start = Tick();
    for (;;) {
        uint8_t byte = 0;
        const int got = ReadPort(&byte, 1);
        if (got == 1) {
            const int result = receiver.Feed(byte);
            if (result == SerialReplyReceiver::kIncomplete) continue;
            if (result == kReplyTaken) record.m_nRespLen = receiver.DataLength();
            return result;
        }
        // Nothing came, or the read failed: a failing port is given the same
        // time limit as a silent one.
        if (TickDiff(Tick(), start) > kReceiveLimitMs) return kErrTimeout;
        m_platform.SleepMs(kPollPauseMs);
    }
}

int CDevLibReader::SendFrame(int /*node*/)
{
    CCommOBJ& record = *m_pRecord;
    PurgeInput();
    WritePort(record.m_pFrame, record.m_nFrameLen);  // a failed write ends in the receive's time-out
    std::memset(record.m_pFrame, 0, static_cast<size_t>(record.m_nFrameLen));
    return Receive();
}

int CDevLibReader::Exchange(int /*node*/)
{
    return ExchangeFramed(false);
}

int CDevLibReader::ExchangeWithTail(int /*node*/)
{
    return ExchangeFramed(true);
}

int CDevLibReader::ExchangeFramed(bool withTail)
{
    CCommOBJ& record = *m_pRecord;
    const int n = record.m_nReqLen;
    if (n < 0 || (withTail && n + 3 > kBufferSize)) return kErrRequestTooLong;
    int length;
    if (record.m_nPort >= kFirstUsbPort) {
        length = BuildUsbFrame(record.m_pReq, n, record.m_pFrame, kBufferSize);
    } else {
        const uint8_t* tail = withTail ? record.m_pReq + n + 1 : nullptr;
        length = BuildSerialFrame(record.m_pReq, n, tail, record.m_pFrame, kBufferSize);
    }
    if (length < 0) return kErrRequestTooLong;
    record.m_nFrameLen = length;
    return record.m_nPort >= kFirstUsbPort ? UsbWriteRead() : SendFrame(0);
}

int CDevLibReader::UsbWriteRead()
{
    CCommOBJ& record = *m_pRecord;
    if (!record.m_usb) return kErrUsbWrite;
    if (record.m_usb->Write(record.m_pFrame, record.m_nFrameLen) != record.m_nFrameLen) return kErrUsbWrite;
    std::memset(record.m_pFrame, 0, static_cast<size_t>(record.m_nFrameLen));
    return UsbRead();
}

int CDevLibReader::UsbRead()
{
    CCommOBJ& record = *m_pRecord;
    uint8_t reply[kUsbReplyCapacity];
    const int got = record.m_usb->Read(reply, kUsbReplyCapacity, kUsbReplyLimitMs);
    if (got == IUsbLink::kTimedOut) return kErrTimeout;
    if (got < 0) return kErrUsbRead;
    std::memcpy(record.m_pResp + 1, reply, static_cast<size_t>(got));
    // A read too short to hold the length prefix and a status byte leaves no
    // data; the command rule turns that into 1034.
    record.m_nRespLen = got >= 2 ? got - 2 : 0;
    return kReplyTaken;
}

int CDevLibReader::OpenUsbPort()
{
    CCommOBJ& record = *m_pRecord;
    IUsbReaderBus& bus = m_platform.UsbBus();
    bus.BeginScan();
    if (record.IsOpen()) ClosePort();
    int k = kFirstUsbPort;
    for (int index = 0; index < kUsbInterfaceScan; ++index) {
        std::unique_ptr<IUsbLink> link = bus.OpenAt(index);
        if (!link) continue;
        if (k == record.m_nPort) {
            record.m_usb = std::move(link);
            bus.EndScan();
            return record.m_nPort;
        }
        ++k;  // the link closes as it goes out of scope
    }
    bus.EndScan();
    return 1;
}

}  // namespace tarnlink
