// SimHidPlatform: a HidPlatform with simulated devices, for tests.
//
// Each device has a path, a product string (or none readable), capabilities,
// an input-buffer count and chosen failures (open, attributes, capabilities,
// buffer count, writes). Devices are opened without sharing: a second open of
// an open device fails, as it does on Windows. A device may have a peer (a
// device simulator) that sees every report written to it and answers with
// input reports, at once or after a delay.
//
// Time: the platform runs `timeScale` times faster than real time (read
// time-outs and reply delays are divided by it), matching ScaledClock.
#pragma once

#include <condition_variable>
#include <cstdint>
#include <deque>
#include <memory>
#include <mutex>
#include <string>
#include <vector>

#include "obulink/hid_platform.h"

using SimReport = std::vector<uint8_t>;

// One report write or read as the platform was asked for it.
struct SimIo {
    bool write;
    uint32_t timeoutMs;
    HidIoResult result;
};

// How a peer answers: input reports for the device it sits behind.
class SimReplyChannel {
public:
    virtual ~SimReplyChannel() = default;
    // Delivers `report` after `delayMs` (platform time).
    virtual void Deliver(SimReport report, uint32_t delayMs = 0) = 0;
};

class SimDevicePeer {
public:
    virtual ~SimDevicePeer() = default;
    virtual void OnOutputReport(const SimReport& report, SimReplyChannel& reply) = 0;
};

struct SimHidDevice {
    std::string path;
    bool productReadable = true;
    std::string product;
    bool openFails = false;
    // Opens that succeed before every further one fails (-1: no limit); an
    // OBU that is counted but then cannot be opened has 1.
    int opensBeforeFailing = -1;
    bool attributesFail = false;
    bool capsFail = false;
    bool numBuffersFail = false;
    HidReportCaps caps = {64, 64, 0};
    uint32_t numInputBuffers = 32;
    HidIoResult writeResult = HidIoResult::Done;  // a forced write result
    size_t writesBeforeResult = 0;                // writes that go through before it applies
    bool readFails = false;      // every read fails: the device is gone
    size_t failingReads = 0;     // the next reads fail at once with an error that passes
    SimDevicePeer* peer = nullptr;
};

class SimHidPlatform : public HidPlatform {
public:
    explicit SimHidPlatform(double timeScale = 1.0);
    ~SimHidPlatform() override;

    // Adds a device (enumeration order is the order of adding).
    SimHidDevice& AddDevice(const std::string& product);
    SimHidDevice& AddDeviceWithUnreadableProduct();
    void SetOsVersion(const HidOsVersion& version) { m_version = version; }
    void SetInterfaceLookupFails(bool fails) { m_lookupFails = fails; }

    // Queues an input report on device `index` after `delayMs` (platform time).
    // A flush drops the reports that have arrived; those still due are kept.
    void QueueInput(size_t index, SimReport report, uint32_t delayMs = 0);

    // Observations.
    int OpenHandles() const;
    bool IsOpen(size_t index) const;
    std::vector<SimReport> Written(size_t index) const;
    size_t ReadCalls() const;
    // Every write and read on device `index`, in order, with its time-out.
    std::vector<SimIo> IoLog(size_t index) const;

    // HidPlatform
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
    HidOsVersion OsVersion() override { return m_version; }

private:
    struct Pending {
        uint64_t dueRealMs;
        SimReport report;
    };
    struct Slot;
    class Channel;

    Slot* SlotOf(HidHandle handle) const;
    uint64_t RealMs() const;

    double m_timeScale;
    HidOsVersion m_version;
    bool m_lookupFails = false;
    mutable std::mutex m_lock;
    std::condition_variable m_inputArrived;
    std::vector<std::unique_ptr<Slot>> m_slots;
    HidHandle m_nextHandle = 0x100;
    size_t m_readCalls = 0;
};
