// The library's view of the platform: serial lines, the USB reader bus, the
// millisecond tick and the trace window. The Windows layer implements it with
// Win32 calls (reader_platform_win.cpp); tests plug in simulated readers.
#pragma once

#include <cstdint>
#include <memory>

namespace tarnlink {

// Line settings as the serial driver's device control block takes them.
struct SerialSettings {
    uint32_t baudRate = 0;
    uint8_t parity = 0;    // 0 none, 1 odd, 2 even, 3 mark, 4 space
    uint8_t byteSize = 8;  // data bits
    uint8_t stopBits = 0;  // 0 one, 1 one and a half, 2 two
};

// One open serial port. Closing happens when the object is destroyed.
class ISerialLine {
public:
    virtual ~ISerialLine() = default;
    // Up to n bytes; 0 at once when nothing is queued; otherwise bounded by the
    // port's read time-outs; -1 when the read failed.
    virtual int Read(uint8_t* buffer, int n) = 0;
    // The count written, or -1.
    virtual int Write(const uint8_t* bytes, int n) = 0;
    virtual void SetRts(bool on) = 0;
    // Asks for the received-character event (the listener's wait); false when
    // the line cannot give it.
    virtual bool EnableReceiveEvents() = 0;
    // Waits up to `timeoutMs` for received bytes: true when bytes are queued.
    virtual bool WaitForInput(uint32_t timeoutMs) = 0;
};

// One open USB reader interface: a request goes in one write, the reply comes in
// one read.
class IUsbLink {
public:
    static constexpr int kFailed = -1;
    static constexpr int kTimedOut = -2;

    virtual ~IUsbLink() = default;
    // The count written, or kFailed.
    virtual int Write(const uint8_t* bytes, int n) = 0;
    // One read of up to `capacity` bytes: the count read, kFailed, or kTimedOut
    // when nothing came within `timeoutMs`.
    virtual int Read(uint8_t* buffer, int capacity, uint32_t timeoutMs) = 0;
};

// The present reader interfaces, looked at by index during one scan.
class IUsbReaderBus {
public:
    virtual ~IUsbReaderBus() = default;
    virtual void BeginScan() = 0;
    // Opens the interface at `index` for exclusive use; null when the index
    // does not exist or the interface cannot be opened (for example because it
    // is already held open).
    virtual std::unique_ptr<IUsbLink> OpenAt(int index) = 0;
    virtual void EndScan() = 0;
};

class IReaderPlatform {
public:
    virtual ~IReaderPlatform() = default;
    // Opens serial port `port` (1 to 99) with the settings; null on failure.
    virtual std::unique_ptr<ISerialLine> OpenSerial(int port, const SerialSettings& settings) = 0;
    virtual IUsbReaderBus& UsbBus() = 0;
    // The 32-bit millisecond tick (it wraps).
    virtual uint32_t TickMs() = 0;
    virtual void SleepMs(uint32_t milliseconds) = 0;
    // Hands a trace line to the trace window, when there is one.
    virtual void TraceText(const char* text) = 0;
    // Hands a trace line of the listener protocol to its test window, when
    // there is one.
    virtual void ListenerTraceText(const char* text) = 0;
};

}  // namespace tarnlink
