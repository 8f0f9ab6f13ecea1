#include "readerlink/serial_line_win.h"

#include <cstdio>

#include "readerlink/comm_obj.h"

namespace tarnlink {

COMMTIMEOUTS Win32SerialLine::TimeoutsFor(uint32_t baudRate)
{
    COMMTIMEOUTS timeouts{};
    timeouts.ReadIntervalTimeout = 1000;
    timeouts.ReadTotalTimeoutMultiplier = 0;
    timeouts.ReadTotalTimeoutConstant = 50;
    timeouts.WriteTotalTimeoutMultiplier = baudRate ? 19200 / baudRate : 0;
    timeouts.WriteTotalTimeoutConstant = 1000;
    return timeouts;
}

std::unique_ptr<ISerialLine> Win32SerialLine::Open(int port, const SerialSettings& settings)
{
    if (port < 1 || port > 99 || settings.baudRate == 0) return nullptr;
    HANDLE readEvent = CreateEventA(nullptr, TRUE, FALSE, nullptr);
    if (!readEvent) return nullptr;
    HANDLE writeEvent = CreateEventA(nullptr, TRUE, FALSE, nullptr);
    if (!writeEvent) {
        CloseHandle(readEvent);
        return nullptr;
    }
    char name[16];
    std::snprintf(name, sizeof name, "\\\\.\\COM%d", port);
    HANDLE handle = CreateFileA(name, GENERIC_READ | GENERIC_WRITE, 0, nullptr, OPEN_EXISTING, FILE_FLAG_OVERLAPPED,
                                nullptr);
    if (handle == INVALID_HANDLE_VALUE) {
        CloseHandle(readEvent);
        CloseHandle(writeEvent);
        return nullptr;
    }
    std::unique_ptr<Win32SerialLine> line(new Win32SerialLine(handle, readEvent, writeEvent));

    SetupComm(handle, kBufferSize, kBufferSize);
    PurgeComm(handle, PURGE_TXABORT | PURGE_RXABORT | PURGE_TXCLEAR | PURGE_RXCLEAR);
    COMMTIMEOUTS timeouts = TimeoutsFor(settings.baudRate);
    SetCommTimeouts(handle, &timeouts);
    DCB dcb{};
    dcb.DCBlength = sizeof dcb;
    GetCommState(handle, &dcb);
    dcb.BaudRate = settings.baudRate;
    dcb.Parity = settings.parity;
    dcb.ByteSize = settings.byteSize;
    dcb.StopBits = settings.stopBits;
    dcb.fRtsControl = RTS_CONTROL_DISABLE;
    SetCommState(handle, &dcb);
    EscapeCommFunction(handle, SETDTR);
    return line;
}

Win32SerialLine::Win32SerialLine(HANDLE port, HANDLE readEvent, HANDLE writeEvent) : m_port(port)
{
    m_read.hEvent = readEvent;
    m_write.hEvent = writeEvent;
}

Win32SerialLine::~Win32SerialLine()
{
    CloseHandle(m_port);
    CloseHandle(m_read.hEvent);
    CloseHandle(m_write.hEvent);
}

int Win32SerialLine::Read(uint8_t* buffer, int n)
{
    DWORD errors = 0;
    COMSTAT status{};
    if (!ClearCommError(m_port, &errors, &status) || status.cbInQue == 0 || n <= 0) return 0;
    m_read.Offset = m_read.OffsetHigh = 0;
    DWORD count = 0;
    if (ReadFile(m_port, buffer, static_cast<DWORD>(n), &count, &m_read)) return static_cast<int>(count);
    if (GetLastError() != ERROR_IO_PENDING) {
        ClearCommError(m_port, &errors, &status);
        return 0;
    }
    while (!GetOverlappedResult(m_port, &m_read, &count, TRUE)) {
        if (GetLastError() != ERROR_IO_INCOMPLETE) {
            ClearCommError(m_port, &errors, &status);
            return -1;
        }
    }
    return static_cast<int>(count);
}

int Win32SerialLine::Write(const uint8_t* bytes, int n)
{
    m_write.Offset = m_write.OffsetHigh = 0;
    DWORD count = 0;
    DWORD errors = 0;
    COMSTAT status{};
    if (WriteFile(m_port, bytes, static_cast<DWORD>(n), &count, &m_write)) return static_cast<int>(count);
    if (GetLastError() == ERROR_IO_PENDING && GetOverlappedResult(m_port, &m_write, &count, TRUE))
        return static_cast<int>(count);
    ClearCommError(m_port, &errors, &status);
    return -1;
}

void Win32SerialLine::SetRts(bool on)
{
    DCB dcb{};
    dcb.DCBlength = sizeof dcb;
    if (!GetCommState(m_port, &dcb)) return;
    dcb.fRtsControl = on ? RTS_CONTROL_ENABLE : RTS_CONTROL_DISABLE;
    SetCommState(m_port, &dcb);
}

}  // namespace tarnlink

namespace tarnlink {

bool Win32SerialLine::EnableReceiveEvents()
{
    return SetCommMask(m_port, EV_RXCHAR) != FALSE;
}

bool Win32SerialLine::WaitForInput(uint32_t timeoutMs)
{
    // The listener only needs to know that bytes are queued; looking at the
    // queue leaves the port's overlapped reads to the receivers alone.
    constexpr DWORD kLookEveryMs = 5;
    const ULONGLONG start = GetTickCount64();
    for (;;) {
        DWORD errors = 0;
        COMSTAT status{};
        if (ClearCommError(m_port, &errors, &status) && status.cbInQue > 0) return true;
        if (GetTickCount64() - start >= timeoutMs) return false;
        Sleep(kLookEveryMs);
    }
}

}  // namespace tarnlink
