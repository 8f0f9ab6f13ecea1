// CDoGetMFSN: the OBU's manufacturer serial number (MFSN), read in clear.
//
// One 16-byte request (command 0x00, every other byte 0) in one report; the
// OBU answers a clear message in Data Type 1 reports whose Reserved byte
// carries its status: the 16-byte head, then the 8 serial-number bytes.
// The answer is taken as the secure exchange takes its answers
// (CExchangeChannel): only while the request is outstanding, and only with
// command byte 0x00; any other message (another command's answer, a late one
// of an exchange whose wait ran out) is dropped and traced, and the read
// waits on. An answer of 16 to 23 bytes gives 0 for the serial bytes it lacks.
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

class CDoGetMFSN : private CExchangeChannel::Receiver {
public:
    static constexpr uint32_t kIoTimeoutMs = 1000;
    static constexpr uint32_t kWaitLimitMs = 5000;
    static constexpr size_t kSerialSize = 8;
    static constexpr uint8_t kCommand = 0x00;

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
    void BreakOff();

    // What the channel hands over (CExchangeChannel::Receiver).
    void ReportSeen(const uint8_t* report, const CExchangeChannel::Intake& in) override;
    void RandomKeyAnswerTaken(const CExchangeChannel::Intake& in) override;
    void MalformedAnswer(const CExchangeChannel::Intake& in) override;
    const uint8_t* OpenAnswer(const CExchangeChannel::Intake& in) override;
    void AnswerTaken(const CExchangeChannel::Intake& in, const uint8_t* opened) override;

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
