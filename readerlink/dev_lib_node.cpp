#include "readerlink/dev_lib_node.h"

#include <cstdio>
#include <cstring>
#include <mutex>
#include <system_error>

#include "readerlink/error_codes.h"
#include "readerlink/node_frame.h"

namespace tarnlink {

std::atomic<CDevLibListen::Unload> CDevLibListen::s_unload{CDevLibListen::Unload::None};

// ---- types 0 and 7

int CDevLibNode::Exchange(int node)
{
    CCommOBJ& record = *m_pRecord;
    const int length = BuildNodeFrame(static_cast<uint8_t>(node), record.m_pReq, record.m_nReqLen, record.m_pFrame,
                                      kBufferSize);
    if (length < 0) return kErrRequestTooLong;
    record.m_nFrameLen = length;
    return SendFrame(node);
}

int CDevLibNode::SendFrame(int node)
{
    CCommOBJ& record = *m_pRecord;
    PurgeInput();
    WritePort(record.m_pFrame, record.m_nFrameLen);  // a failed write ends in the receive's time-out
    if (ClearsFrame()) std::memset(record.m_pFrame, 0, static_cast<size_t>(record.m_nFrameLen));
    return Receive(node);
}

int CDevLibNode::Receive(int node)
{
    CCommOBJ& record = *m_pRecord;
    NodeReplyReceiver receiver(record.m_pResp, static_cast<uint8_t>(node));
    const int result = PollReceive(receiver, Tick(), ReplyLimitMs(), kErrTimeout);
    if (!IsError(result)) record.m_nRespLen = result;
    return result;
}

// ---- type 1

CDevLibListen::~CDevLibListen()
{
    StopListener();
}

int CDevLibListen::Exchange(int node)
{
    CCommOBJ& record = *m_pRecord;
    const int length = BuildBusFrame(static_cast<uint8_t>(node), record.m_pReq, record.m_nReqLen, record.m_pFrame,
                                     kBufferSize);
    if (length < 0) return kErrRequestTooLong;
    record.m_nFrameLen = length;
    return SendFrame(node);
}

int CDevLibListen::SendFrame(int node)
{
    CCommOBJ& record = *m_pRecord;
    const bool halfDuplex = record.m_nLineMode == 2;
    if (halfDuplex) {
        RtsOn();
        WaitTickChange();
    }
    PurgeInput();
    WritePort(record.m_pFrame, record.m_nFrameLen);
    if (halfDuplex) {
        // The two-wire line hands our own frame back: read it off and drop it.
        WaitTickChange();
        uint8_t echo[kBufferSize];
        int got = ReadPort(echo, record.m_nFrameLen);
        if (got >= 0 && got < record.m_nFrameLen) {
            WaitTickChange();
            ReadPort(echo, record.m_nFrameLen - got);
        }
        RtsOff();
    }
    m_platform.SleepMs(kTurnaroundMs);
    return Receive(node);
}

int CDevLibListen::Receive(int node)
{
    CCommOBJ& record = *m_pRecord;
    const uint32_t start = Tick();
    char text[32];
    std::snprintf(text, sizeof text, "Tick = %u", static_cast<unsigned>(start));
    TestText(text);
    BusReplyReceiver receiver(record.m_pResp, static_cast<uint8_t>(node));
    const int result = PollReceive(receiver, start, kReplyLimitMs, kErrTimeout);
    if (!IsError(result)) record.m_nRespLen = result;
    return result;
}

void CDevLibListen::TestText(const char* text)
{
    char line[1024];
    FormatTrace(text, line, sizeof line);
    m_platform.ListenerTraceText(line);
}

int CDevLibListen::ReceiveAndEcho(uint8_t node)
{
    CCommOBJ& record = *m_pRecord;
    BusReplyReceiver receiver(record.m_pResp, node);
    const int result = PollReceive(receiver, Tick(), kListenLimitMs, kErrTimeout);
    if (IsError(result)) return result;
    record.m_nRespLen = result;
    WritePort(record.m_pResp, receiver.FrameLength());
    ++m_echoed;
    return 0;
}

int CDevLibListen::ClosePort()
{
    StopListener();
    return CDevLib::ClosePort();
}

int CDevLibListen::OpenListen()
{
    CCommOBJ& record = *m_pRecord;
    // One listener per port: an open port that is listening already stays so.
    if (IsListening() && record.IsOpen()) return record.m_nPort;
    StopListener();
    if (OpenSerialPort() < 0) return -1;
    if (!record.m_serial->EnableReceiveEvents()) {
        CDevLib::ClosePort();
        return -1;
    }
    record.m_nRespLen = 0;  // nothing heard yet on this opening
    m_echoed = 0;
    m_run = true;
    try {
        m_thread = std::thread(&CDevLibListen::ListenThread, this);
    } catch (const std::system_error&) {
        m_run = false;
        return 0;
    }
    return record.m_nPort;
}

void CDevLibListen::ListenThread()
{
    m_inLoop = true;
    CCommOBJ& record = *m_pRecord;
    while (m_run) {
        if (!record.m_serial->WaitForInput(kListenWaitMs)) continue;
        // An export working on the port has the line and the buffers; its own
        // receive takes what came.
        std::unique_lock<std::mutex> turn(record.m_exchangeLock, std::try_to_lock);
        if (!turn.owns_lock()) {
            m_platform.SleepMs(1);
            continue;
        }
        char text[16];
        std::snprintf(text, sizeof text, "%d", ReceiveAndEcho(0));
        turn.unlock();
        TestText(text);
    }
    m_inLoop = false;
}

void CDevLibListen::StopListener()
{
    if (!m_thread.joinable()) return;
    m_run = false;
    switch (s_unload.load()) {
    case Unload::None:
        m_thread.join();
        return;
    case Unload::Library:
        // Inside the loader's lock a thread cannot end, so it is not joined:
        // it is only seen out of its loop before the line and buffers go.
        while (m_inLoop) m_platform.SleepMs(1);
        m_thread.detach();
        return;
    case Unload::Process:
        m_thread.detach();  // ended already with the process
        return;
    }
}

}  // namespace tarnlink
