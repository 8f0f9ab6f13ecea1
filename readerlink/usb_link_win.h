// USB readers on Win32: the reader interfaces that SetupAPI lists for the
// reader's interface class, each opened as a file for exclusive overlapped use.
#pragma once

#include <windows.h>

#include <memory>

#include "readerlink/link_io.h"

namespace tarnlink {

class Win32UsbLink : public IUsbLink {
public:
    static constexpr DWORD kWriteLimitMs = 5000;

    // Opens a device path for reading and writing, without sharing; null on failure.
    static std::unique_ptr<IUsbLink> Open(const char* path);
    ~Win32UsbLink() override;

    int Write(const uint8_t* bytes, int n) override;
    int Read(uint8_t* buffer, int capacity, uint32_t timeoutMs) override;

private:
    Win32UsbLink(HANDLE device, HANDLE event) : m_device(device), m_event(event) {}
    // Waits for the pending operation up to `limitMs`: the count, or
    // kTimedOut (the operation cancelled) or kFailed.
    int Finish(DWORD limitMs);
    HANDLE m_device;
    HANDLE m_event;
    OVERLAPPED m_overlapped{};
};

// The present interfaces of the reader's interface class
// {AF90DEC5-138C-3AD6-5671-0136EF7D5C13}.
class SetupApiReaderBus : public IUsbReaderBus {
public:
    ~SetupApiReaderBus() override { EndScan(); }
    void BeginScan() override;
    std::unique_ptr<IUsbLink> OpenAt(int index) override;
    void EndScan() override;

private:
    void* m_set = nullptr;  // HDEVINFO
};

}  // namespace tarnlink
