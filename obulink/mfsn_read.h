// CDoGetMFSN: the OBU's manufacturer serial number (MFSN), read in clear.
//
// One 16-byte request (command 0x00, every other byte 0) in one report; the
// OBU answers a clear message in Data Type 1 reports whose Reserved byte
// carries its status: the 16-byte head, then the 8 serial-number bytes.
// The answer is taken as the secure exchange takes its answers
// (CExchangeChannel): only while the request is outstanding.
// Result: "0" when no complete answer came within 5000 ms (or it was
// malformed, or shorter than its head, or the request could not be written,
// which ends the read at once), the one character of a non-zero
// status byte, or the serial number as 16 upper-case hexadecimal digits.
#pragma once

#include <atomic>
#include <cstdint>

#include "framework/cstring.h"
#include "obulink/exchange_channel.h"
#include "obulink/exchange_trace.h"
#include "obulink/exchange_wait.h"
#include "obulink/hid_device.h"
#include "obulink/hid_packet.h"

class CDoGetMFSN {
public:
    static constexpr uint32_t kIoTimeoutMs = 1000;
    static constexpr uint32_t kWaitLimitMs = 5000;
    static constexpr size_t kSerialSize = 8;

    explicit CDoGetMFSN(const CHidDeviceRecord& device);
    virtual ~CDoGetMFSN();
    CDoGetMFSN(const CDoGetMFSN&) = delete;
    CDoGetMFSN& operator=(const CDoGetMFSN&) = delete;

    void SetServices(const ExchangeServices& services) { m_Services = services; }

    // The whole read (request thread).
    CString GetMFSN();

    // One input report (receive thread; tests drive it directly).
    void OnReceive(const uint8_t* report, size_t bytesRead);

private:
    // Traces and writes the request; false when the write failed.
    bool SendReport(const uint8_t* report);
    void OnCommandAnswer(const uint8_t* bytes, size_t n);
    void BreakOff();

    ExchangeTrace m_Trace;
    ExchangeServices m_Services;
    CHidDeviceRecord m_Device;
    uint8_t m_PlainBuf[1024] = {};
    uint8_t m_AnswerData[256] = {};
    std::atomic<bool> m_bDone{false};
    std::atomic<bool> m_bAnswerBroken{false};
    uint8_t m_ReservedStatus = 0;
    // The receive thread; the answer comes in Data Type 1 reports only.
    CExchangeChannel m_Channel{m_Device, {kObuReportLayout, AnswerFraming::Gathered, false}, m_Trace};
};
