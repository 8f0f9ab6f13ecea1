// CDevLib: base of the protocol devices. A device works on its port record (its
// settings, open line and three buffers) and offers the serial primitives the
// protocols share. Operations a protocol does not offer answer kErrNotSupported
// (1037), and opens -1, so that no caller takes stale buffers for a reply.
#pragma once

#include <cstddef>
#include <cstdint>

#include "readerlink/comm_obj.h"
#include "readerlink/error_codes.h"
#include "readerlink/link_io.h"

namespace tarnlink {

// Takes a reply a byte at a time: kIncomplete while the frame goes on, then
// the outcome (a length or status of 1024 or less, or an error).
class IByteReceiver {
public:
    static constexpr int kIncomplete = -1;
    virtual ~IByteReceiver() = default;
    virtual int Feed(uint8_t byte) = 0;
};

class CDevLib {
public:
    explicit CDevLib(IReaderPlatform& platform) : m_platform(platform) {}
    virtual ~CDevLib() = default;
    CDevLib(const CDevLib&) = delete;
    CDevLib& operator=(const CDevLib&) = delete;

    // Operations a protocol does not offer answer kErrNotSupported (opens: -1).
    virtual int WaitForByte(uint8_t /*byte*/, uint32_t /*timeoutMs*/) { return kErrNotSupported; }
    virtual int ModemExchange(uint32_t /*timeoutMs*/) { return kErrNotSupported; }
    virtual int RawCommand(uint32_t /*waitMs*/) { return kErrNotSupported; }
    virtual int Receive() { return kErrNotSupported; }
    virtual int SendFrame(int /*nodeOrKind*/) { return kErrNotSupported; }
    virtual int Exchange(int /*nodeOrKind*/) { return kErrNotSupported; }
    virtual int ExchangeWithTail(int /*node*/) { return kErrNotSupported; }
    // Closes the port: the close's result (non-zero done), or -1 when the port
    // was already closed.
    virtual int ClosePort();
    virtual int OpenPort() { return -1; }
    virtual int OpenUsbPort() { return -1; }
    virtual int OpenListen() { return -1; }
    virtual int SendText(const char* /*text*/, int /*flag*/, const char* /*text2*/) { return kErrNotSupported; }

    CCommOBJ* m_pRecord = nullptr;

    // Serial primitives.
    // Opens serial port m_nPort with the record's settings: the port number, or
    // -1 (also for a baud rate of 0, which no line can run at).
    int OpenSerialPort();
    // Up to n bytes: 0 at once when nothing is queued or the port is closed, -1
    // when the read failed.
    int ReadPort(uint8_t* buffer, int n);
    // The count written, or -1 (also on a closed port).
    int WritePort(const uint8_t* bytes, int n);
    // Reads and drops whatever is queued.
    void PurgeInput();
    static constexpr int kPurgeRounds = 32;
    void RtsOn();
    void RtsOff();
    // Formats "(port) tick : text" and hands it to the trace window.
    void DebugText(const char* text);
    // Polls the line a byte at a time and feeds `receiver` until it decides or
    // more than `limitMs` have passed since `start`, whether bytes keep coming
    // or not: then `timeoutResult`. A poll that finds nothing pauses a
    // millisecond.
    int PollReceive(IByteReceiver& receiver, uint32_t start, uint32_t limitMs, int timeoutResult);

    uint32_t Tick() { return m_platform.TickMs(); }
    // Spins until the tick changes; the new tick.
    uint32_t WaitTickChange();

    // XOR of the n bytes (n taken as 16 bits); 0 for n = 0.
    static uint8_t CalcBcc(const uint8_t* bytes, int n);
    // Milliseconds from start to now on the wrapping 32-bit tick.
    static uint32_t TickDiff(uint32_t now, uint32_t start);

protected:
    static constexpr int kSpinsBeforeSleep = 1000;
    // "(port) tick : text" for the trace windows.
    void FormatTrace(const char* text, char* line, size_t size);
    IReaderPlatform& m_platform;
};

// Makes the protocol device of `type` (0, 1, 3, 7, 10, 11; any other number
// makes a type-0 device) and links it to the record. It does not delete a
// device the record already has.
CDevLib* CreateDevice(int type, CCommOBJ& record, IReaderPlatform& platform);

}  // namespace tarnlink
