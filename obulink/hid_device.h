// HID device records: CHIDDevice (the OBU) and CBIUHIDDevice (the biometric
// unit). Both are the same record (CHidDeviceRecord) and differ only in their
// HidDeviceKind: the product-string prefix that marks the device as ours and
// how many bytes a report write sends.
//
// A controller owns one record, opens the device in it and closes it (close
// the handle with CloseHandleAndReset). Transactions copy the record by value
// and read and write through the copied handle, never closing it.
//
// The operating system is reached through ActiveHidPlatform() (hid_platform.h).
#pragma once

#include <cstddef>
#include <cstdint>
#include <string>

#include "obulink/hid_platform.h"

// Result codes of the record operations.
enum HidResult : uint8_t {
    kHidDone = 0,
    kHidNotFound = 1,
    kHidNotOpen = 2,
    kHidAlreadyOpen = 3,
    kHidTimeout = 4,
    kHidIoError = 5,
    kHidNoInputBuffers = 6,  // ReadReport refused: the driver queue size is unknown (0)
    kHidDeviceGone = 7,      // ReadReport: the device is no longer connected, or its handle no longer valid
    kHidLength = 8,
};

inline constexpr uint32_t kHidInfinite = 0xFFFFFFFF;

// What distinguishes one kind of device record from another.
struct HidDeviceKind {
    const char* productPrefix;    // compared byte for byte, case as written
    size_t productPrefixLength;
    size_t fixedWriteLength;      // 0: the caller's length; else every write sends this many bytes
};

inline constexpr HidDeviceKind kObuDeviceKind = {"Wendra-OBU", 10, 0};
inline constexpr HidDeviceKind kBiuDeviceKind = {"[wendra]", 8, 65};

class CHidDeviceRecord {
public:
    explicit CHidDeviceRecord(const HidDeviceKind& kind);
    CHidDeviceRecord(const CHidDeviceRecord&) = default;
    CHidDeviceRecord& operator=(const CHidDeviceRecord&) = default;
    virtual ~CHidDeviceRecord();

    // Closed state: invalid handle, lengths of a record that has read no
    // capabilities (output 30), input buffers by the Windows version. The
    // time-outs are kept and an open handle is not closed.
    void ResetState();

    // The index-th HID interface path (at most 64 interfaces are looked at);
    // the path is cut to fit the 256-byte buffer. 1 found, 0 none.
    static int GetDevicePath(unsigned index, char path[256]);

    // Opens `path` and keeps it when it is a device of `kind`: attributes
    // readable, and a product string that could be read and starts with the
    // kind's prefix. kInvalidHidHandle otherwise (the handle is closed again).
    static HidHandle OpenIfOurs(const HidDeviceKind& kind, const char* path);
    static unsigned CountDevices(const HidDeviceKind& kind);

    // Opens the n-th device of this record's kind in enumeration order and
    // reads its report capabilities: 0 done, 1 not found, 3 already open.
    uint8_t OpenDevice(unsigned n);

    // Writes one report: kHidDone, kHidNotOpen, kHidTimeout, kHidIoError or
    // kHidLength (a device that is gone fails with kHidIoError too). Records
    // of a fixed write length always send that many bytes and ignore `length`.
    uint8_t WriteReport(const uint8_t* buffer, size_t length);

    // Reads one input report of the record's input report length into
    // `buffer` (`size` bytes, cleared first); `bytesRead` is set only on
    // kHidDone. kHidLength when `size` is below the input report length
    // (buffer untouched), kHidNoInputBuffers when the queue size is 0,
    // kHidIoError for a failed read after which a later one may succeed,
    // kHidDeviceGone when none can.
    uint8_t ReadReport(uint8_t* buffer, size_t size, size_t& bytesRead);

    // Drops the input reports waiting on the handle that no read has taken:
    // kHidDone, kHidNotOpen, or kHidIoError when the platform could not.
    uint8_t FlushInput();

    // The owner's close: closes a valid handle and resets the record.
    // Returns true when a valid handle was closed.
    bool CloseHandleAndReset();

    const HidDeviceKind& Kind() const { return *m_pKind; }

    HidHandle m_hDevice = kInvalidHidHandle;
    int32_t m_bOpened = 0;
    uint32_t m_dwReadTimeout = kHidInfinite;
    uint32_t m_dwWriteTimeout = kHidInfinite;
    uint16_t m_wInputReportLength = 0;
    uint16_t m_wOutputReportLength = 30;
    uint16_t m_wFeatureReportLength = 0;
    uint16_t m_wNumInputBuffers = 0;

private:
    void ReadCapabilities();

    const HidDeviceKind* m_pKind;
};

class CHIDDevice : public CHidDeviceRecord {
public:
    CHIDDevice() : CHidDeviceRecord(kObuDeviceKind) {}

    static HidHandle OpenIfOurs(const char* path) { return CHidDeviceRecord::OpenIfOurs(kObuDeviceKind, path); }
    static unsigned CountDevices() { return CHidDeviceRecord::CountDevices(kObuDeviceKind); }
};

class CBIUHIDDevice : public CHidDeviceRecord {
public:
    CBIUHIDDevice() : CHidDeviceRecord(kBiuDeviceKind) {}

    static HidHandle OpenIfOurs(const char* path) { return CHidDeviceRecord::OpenIfOurs(kBiuDeviceKind, path); }
    static unsigned CountDevices() { return CHidDeviceRecord::CountDevices(kBiuDeviceKind); }

    // The unit's write: always one 65-byte report.
    uint8_t WriteReport(const uint8_t* buffer) { return CHidDeviceRecord::WriteReport(buffer, 65); }
    using CHidDeviceRecord::WriteReport;
};
