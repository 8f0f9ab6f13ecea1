#include "readerlink/dev_lib.h"

#include <cstdio>

#include "readerlink/dev_lib_framed.h"
#include "readerlink/dev_lib_node.h"
#include "readerlink/dev_lib_reader.h"
#include "readerlink/dev_lib_text.h"

namespace tarnlink {

int CDevLib::ClosePort()
{
    if (!m_pRecord->IsOpen()) return -1;
    // Each line owns its handles and events and closes each of them once.
    m_pRecord->m_serial.reset();
    m_pRecord->m_usb.reset();
    return 1;
}

int CDevLib::OpenSerialPort()
{
    CCommOBJ& record = *m_pRecord;
    if (record.IsOpen()) ClosePort();
    if (record.m_nBaudRate == 0) return -1;
    SerialSettings settings;
    settings.baudRate = record.m_nBaudRate;
    settings.parity = record.m_nParity;
    settings.byteSize = record.m_nByteSize;
    settings.stopBits = record.m_nStopBits;
    record.m_serial = m_platform.OpenSerial(record.m_nPort, settings);
    return record.m_serial ? record.m_nPort : -1;
}

int CDevLib::ReadPort(uint8_t* buffer, int n)
{
    if (!m_pRecord->m_serial) return 0;
    return m_pRecord->m_serial->Read(buffer, n);
}

int CDevLib::WritePort(const uint8_t* bytes, int n)
{
    if (!m_pRecord->m_serial) return -1;
    return m_pRecord->m_serial->Write(bytes, n);
}

void CDevLib::PurgeInput()
{
    // A buffer at a time, so that the rest of an overlong reply cannot pass
    // for the next reply; bounded for a line that never stops sending.
    uint8_t dropped[kBufferSize];
    for (int round = 0; round < kPurgeRounds && ReadPort(dropped, kBufferSize) > 0; ++round) {
    }
}

void CDevLib::RtsOn()
{
    if (m_pRecord->m_serial) m_pRecord->m_serial->SetRts(true);
}

void CDevLib::RtsOff()
{
    if (m_pRecord->m_serial) m_pRecord->m_serial->SetRts(false);
}

void CDevLib::FormatTrace(const char* text, char* line, size_t size)
{
    std::snprintf(line, size, "(%d) %8d : %s", static_cast<int>(m_pRecord->m_nPort), static_cast<int>(Tick()),
                  text ? text : "");
}

void CDevLib::DebugText(const char* text)
{
    char line[1024];
    FormatTrace(text, line, sizeof line);
    m_platform.TraceText(line);
}

int CDevLib::PollReceive(IByteReceiver& receiver, uint32_t start, uint32_t limitMs, int timeoutResult)
{
    for (;;) {
        uint8_t byte = 0;
        const int got = ReadPort(&byte, 1);
        if (got == 1) {
            const int result = receiver.Feed(byte);
            if (result != IByteReceiver::kIncomplete) return result;
        }
        if (TickDiff(Tick(), start) > limitMs) return timeoutResult;
        if (got != 1) m_platform.SleepMs(1);
    }
}

uint32_t CDevLib::WaitTickChange()
{
    const uint32_t start = Tick();
    uint32_t now;
    // Spin briefly, then yield: the tick moves every few milliseconds.
    for (int spins = 0; (now = Tick()) == start; ++spins)
        if (spins >= kSpinsBeforeSleep) m_platform.SleepMs(1);
    return now;
}

uint8_t CDevLib::CalcBcc(const uint8_t* bytes, int n)
{
    const uint16_t count = static_cast<uint16_t>(n);
    uint8_t bcc = 0;
    for (uint16_t i = 0; i < count; ++i) bcc ^= bytes[i];
    return bcc;
}

uint32_t CDevLib::TickDiff(uint32_t now, uint32_t start)
{
    if (now == start) return 0;
    if (now > start) return now - start;
    return now - start - 1;  // the tick wrapped
}

CDevLib* CreateDevice(int type, CCommOBJ& record, IReaderPlatform& platform)
{
    CDevLib* device = nullptr;
    switch (type) {
    case 11:
        device = new CDevLibReader(platform);
        break;
    case 1:
        device = new CDevLibListen(platform);
        break;
    case 3:
        device = new CDevLibText(platform);
        break;
    case 7:
        device = new CDevLibNodeLong(platform);
        break;
    case 10:
        device = new CDevLibFramed(platform);
        break;
    default:  // 0 and every number without a protocol of its own
        device = new CDevLibNode(platform);
        break;
    }
    device->m_pRecord = &record;
    record.m_pDevice = device;
    return device;
}

}  // namespace tarnlink
