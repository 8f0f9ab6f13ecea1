// The Windows HID backend: SetupAPI enumeration, hid.dll queries and
// overlapped report I/O. The overlapped write and read are offered on their
// own so that they can be run against any overlapped handle (tests use a named
// pipe, since no HID device is attached here).
#pragma once

#include <windows.h>

#include "obulink/hid_platform.h"

class Win32HidPlatform : public HidPlatform {
public:
    bool InterfacePath(unsigned index, std::string& path) override;
    HidHandle Open(const std::string& path) override;
    void Close(HidHandle handle) override;
    bool ReadAttributes(HidHandle handle) override;
    bool ReadProductString(HidHandle handle, std::string& product) override;
    bool ReadCaps(HidHandle handle, HidReportCaps& caps) override;
    bool ReadNumInputBuffers(HidHandle handle, uint32_t& count) override;
    HidIoResult Write(HidHandle handle, const uint8_t* data, size_t length, uint32_t timeoutMs) override;
    HidIoResult Read(HidHandle handle, uint8_t* buffer, size_t length, uint32_t timeoutMs,
                     size_t& bytesRead) override;
    bool FlushInput(HidHandle handle) override;
    HidOsVersion OsVersion() override;
};

// One overlapped write or read on `file` with its own event; a request that
// is still pending after `timeoutMs` is cancelled and waited for before the
// call returns. A failure is Gone when the device is no longer connected or
// the handle no longer valid, else Failed.
HidIoResult OverlappedWrite(HANDLE file, const uint8_t* data, DWORD length, DWORD timeoutMs);
HidIoResult OverlappedRead(HANDLE file, uint8_t* buffer, DWORD length, DWORD timeoutMs, DWORD& bytesRead);

inline HANDLE ToWin32Handle(HidHandle handle) { return reinterpret_cast<HANDLE>(handle); }
inline HidHandle FromWin32Handle(HANDLE handle) { return reinterpret_cast<HidHandle>(handle); }
