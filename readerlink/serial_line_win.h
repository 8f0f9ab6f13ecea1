// A serial port on Win32: overlapped reads and writes, each with its own
// manual-reset event, as the reader protocols use them.
#pragma once

#include <windows.h>

#include <memory>

#include "readerlink/link_io.h"

namespace tarnlink {

class Win32SerialLine : public ISerialLine {
public:
    // Opens "\\.\COM<port>" (the form that reaches ports 10 to 99 as well) and
    // sets it up; null on failure.
    static std::unique_ptr<ISerialLine> Open(int port, const SerialSettings& settings);
    ~Win32SerialLine() override;

    int Read(uint8_t* buffer, int n) override;
    int Write(const uint8_t* bytes, int n) override;
    void SetRts(bool on) override;
    bool EnableReceiveEvents() override;
    // Looks at the driver's input queue every few milliseconds.
    bool WaitForInput(uint32_t timeoutMs) override;

    // The port's read time-outs: at most 50 ms in all for a read, 1000 ms
    // between bytes; writes get 1000 ms plus 19200 / baud ms per byte.
    static COMMTIMEOUTS TimeoutsFor(uint32_t baudRate);

private:
    Win32SerialLine(HANDLE port, HANDLE readEvent, HANDLE writeEvent);
    HANDLE m_port;
    OVERLAPPED m_read{};
    OVERLAPPED m_write{};
};

}  // namespace tarnlink
