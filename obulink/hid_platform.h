// HidPlatform: the seam below the HID device records (hid_device.h).
//
// It offers exactly what the records need from the operating system: walk the
// present HID interfaces, open one, ask it for its attributes, product string
// and report capabilities, run one report write or read with a time-out, drop
// the input reports queued on it, and close it. Everything above it (prefix matching, the open-by-index walk, the
// result codes, the record's state) is portable and runs in every test.
//
// Backends:
//   - hid_platform_win.cpp: SetupAPI, hid.dll and overlapped file I/O.
//   - tests/sim/sim_hid_platform.*: simulated devices with chosen product
//     strings, capabilities and failures, and a device peer (an OBU or a
//     biometric unit simulator) behind the reports.
//   - the host build's default: a platform without devices.
// The records use the active platform (ActiveHidPlatform); tests swap it with
// ScopedHidPlatform.
#pragma once

#include <cstddef>
#include <cstdint>
#include <string>

// An opened HID interface. The value is the platform's handle; kInvalidHidHandle
// (all bits set, as INVALID_HANDLE_VALUE) and 0 both mean "no handle".
using HidHandle = uintptr_t;
inline constexpr HidHandle kInvalidHidHandle = ~HidHandle(0);

inline bool IsValidHidHandle(HidHandle handle)
{
    return handle != kInvalidHidHandle && handle != 0;
}

// Report byte lengths from the device's capabilities (report id included);
// a zero means "not given".
struct HidReportCaps {
    uint16_t inputReportLength = 0;
    uint16_t outputReportLength = 0;
    uint16_t featureReportLength = 0;
};

// Result of one report write or read at the platform level.
enum class HidIoResult {
    Done,      // completed (at once or within the time-out)
    TimedOut,  // nothing within the time-out; the request was cancelled and has ended
    Failed,    // the platform refused or failed this request; a later one may succeed
    Gone,      // the device is no longer connected, or the handle is no longer valid:
               // no later request on the handle can succeed
};

// The operating system's version as the HID layer looks at it.
struct HidOsVersion {
    bool isNt = true;
    uint32_t major = 6;
    uint32_t minor = 1;
};

class HidPlatform {
public:
    virtual ~HidPlatform() = default;

    // The device path of the index-th present HID interface, in enumeration
    // order; false when there is none (or any step of the lookup failed).
    virtual bool InterfacePath(unsigned index, std::string& path) = 0;

    // Opens the path for reading and writing, without sharing, for
    // overlapped I/O; kInvalidHidHandle on failure.
    virtual HidHandle Open(const std::string& path) = 0;
    virtual void Close(HidHandle handle) = 0;

    // HidD_GetAttributes succeeded.
    virtual bool ReadAttributes(HidHandle handle) = 0;
    // The product string in the ANSI code page; false when it cannot be read.
    virtual bool ReadProductString(HidHandle handle, std::string& product) = 0;
    // The report lengths; false when the capabilities cannot be read.
    virtual bool ReadCaps(HidHandle handle, HidReportCaps& caps) = 0;
    // The driver's number of input buffers; false when it cannot be read.
    virtual bool ReadNumInputBuffers(HidHandle handle, uint32_t& count) = 0;

    // One report write of `length` bytes; waits at most `timeoutMs`. A request
    // that times out is cancelled and has ended when this returns.
    virtual HidIoResult Write(HidHandle handle, const uint8_t* data, size_t length, uint32_t timeoutMs) = 0;
    // One report read into `buffer` (`length` bytes asked for); on Done,
    // `bytesRead` is set. Nothing is written into `buffer` after it returns.
    virtual HidIoResult Read(HidHandle handle, uint8_t* buffer, size_t length, uint32_t timeoutMs,
                             size_t& bytesRead) = 0;
    // Drops the input reports that the driver holds for the handle and that
    // no read has taken yet; reports that come later are kept. False when it
    // could not be done.
    virtual bool FlushInput(HidHandle handle) = 0;

    virtual HidOsVersion OsVersion() = 0;
};

// The platform that the device records use: the Windows backend in the
// Windows builds, a platform without devices in the host build.
HidPlatform& ActiveHidPlatform();

// Makes `platform` the active one for the life of the scope (tests).
class ScopedHidPlatform {
public:
    explicit ScopedHidPlatform(HidPlatform& platform);
    ~ScopedHidPlatform();
    ScopedHidPlatform(const ScopedHidPlatform&) = delete;
    ScopedHidPlatform& operator=(const ScopedHidPlatform&) = delete;

private:
    HidPlatform* m_previous;
};

// The build's own backend (defined per platform).
HidPlatform& SystemHidPlatform();
