// CSecureExchange: the secured transaction that every OBU transaction (and,
// with its own profile, every biometric-unit transaction) is built on.
//
// One transaction is one object on the caller's stack:
//   entry (Run, request thread)
//     draws the handshake AppRandom, starts the receive thread, sends the
//     random-key request (command 0x10, handshake send key), waits for the done
//     flag while pumping window messages, stops and joins the receive thread,
//     then classifies the outcome.
//   receive thread
//     reads input reports; while the random-key request is outstanding, the
//     first report that holds a whole one-block message is its answer
//     (handshake receive key): it yields the DeviceRandom, and after a pause
//     the thread sends the transaction's command (command send key, a fresh
//     AppRandom). The answer is gathered over one or more reports, decrypted
//     (command receive key), its status and data kept, and the done flag set.
//
// A report that cannot be written (failed or timed out) ends the exchange at
// once as "no answer", and nothing more is written.
//
// The receive path is a CExchangeChannel (exchange_channel.h): a report is
// taken only as the answer to the request outstanding, the random-key answer
// only while the random-key request is, and a decrypted answer only when its
// command byte is the command's; anything else is dropped and traced.
//
// A hostile or broken device only ever yields a failure outcome: reports are
// read into a buffer as large as the device's input report, the gathering and
// the answer data are bounded, an answer whose length cannot be decrypted (0,
// not a multiple of 16, a Length beyond the report's data) ends the exchange
// as "no answer", nothing raised on the receive thread leaves it, and once the
// wait has ended no command is sent any more.
//
// Extension points for the transactions built on it:
//   ComposeCommand       (required) the command message: byte 0, head bytes
//                        1-7 as the command needs, data from byte 16; returns
//                        its length (a multiple of 16, at most 128). Bytes
//                        8-15 already hold the fresh AppRandom.
//   StartBanner/FinishBanner, TracesProductNum
//   TraceReceivedReport, TraceRandomKeyRequest, TraceRandomKeyAnswer, TraceCommand,
//   TraceBeforeCommandReport, TraceAnswerReceived, TraceAnswerDecrypted:
//                        the transaction's own trace lines; the defaults are
//                        those that every OBU transaction writes.
//   SendReport           writes one report (override to trace it first, then
//                        call this one, which notes a failed write).
//   DrawHandshakeRandom  the handshake AppRandom (the biometric unit's is fixed).
//   OnHandshakeRefused   what a refused random-key answer leaves behind.
//   KeepAnswer           what is kept of a decrypted answer (status, data).
// and the ExchangeProfile, which carries the differences between the two
// devices: report layout, time-outs, wait limit, pause before the command,
// whether a bad random-key answer is refused, answers gathered over several
// reports or taken from one report, whether the receive thread stops once
// the answer is handled, and whether reports left on the handle by an
// earlier exchange are dropped first.
#pragma once

#include <atomic>
#include <cstddef>
#include <cstdint>

#include "framework/cstring.h"
#include "obulink/exchange_channel.h"
#include "obulink/exchange_trace.h"
#include "obulink/exchange_wait.h"
#include "obulink/hid_device.h"
#include "obulink/hid_packet.h"
#include "obulink/session_key.h"

struct ExchangeProfile {
    HidReportLayout layout = kObuReportLayout;
    uint32_t ioTimeoutMs = 1000;           // read and write time-outs of the device record copy
    uint32_t waitLimitMs = 10000;          // how long the request thread waits for the done flag
    uint32_t pauseBeforeCommandMs = 200;   // after the random-key answer, before the command
    bool refuseBadRandomKeyAnswer = true;  // a random-key answer that is not 0x10 and seven zeros ends the exchange
    AnswerFraming answerFraming = AnswerFraming::Gathered;
    bool stopReadingWhenDone = true;       // the receive thread ends once the answer is handled
    const char* traceLineEnd = "";         // "" or "\n"
    // Single-report answers: a report of Length 0 is passed over (the reader
    // waits for the next) instead of ending the exchange as a broken answer.
    bool skipEmptySingleReport = false;
    // Input reports already waiting on the handle when the exchange starts
    // are dropped before the receive thread reads: they answer an earlier
    // exchange, on a handle that stays open between exchanges.
    bool dropWaitingInput = false;
};

inline constexpr ExchangeProfile kObuExchangeProfile = {};

// How an exchange ended, and the rule that words it.
enum class ExchangeOutcome {
    NoAnswer,   // "0": no (usable) answer within the limit
    Refused,    // "2": refused random-key answer, or status bit 1 set
    Failed,     // "1": any other non-zero status byte
    Succeeded,  // status byte 0: the transaction's success text
};

ExchangeOutcome ClassifyOutcome(bool done, bool answerUsable, uint16_t status);
// "0", "2" or "1"; the success text for Succeeded.
CString OutcomeText(ExchangeOutcome outcome, const CString& successText);

// The random-key handshake's two messages, as every exchange with a handshake
// makes and reads them (the transactions and the fingerprint screens):
// the request, command 0x10, bytes 1-7 zero and `appRandom`, in `plain`,
// encrypted under `key` (the handshake send key) into `cipher`;
void SealRandomKeyRequest(const uint8_t key[32], const uint8_t appRandom[8], uint8_t plain[16], uint8_t cipher[16]);
// and its answer, one block decrypted under `key` (the handshake receive key)
// into `plain`: true when it reads 0x10 and seven zero bytes.
bool OpenRandomKeyAnswer(const uint8_t key[32], const uint8_t sealed[16], uint8_t plain[16]);

class CSecureExchange : private CExchangeChannel::Receiver {
public:
    static constexpr uint8_t kRandomKeyCommand = 0x10;
    // Bytes of the report from its data on that the random-key answer's
    // handling (and its trace hook) may read.
    static constexpr size_t kRandomKeyAnswerView = 64;

    CSecureExchange(const CHidDeviceRecord& device, const uint8_t productKey[16],
                    const ExchangeProfile& profile = kObuExchangeProfile);
    virtual ~CSecureExchange();
    CSecureExchange(const CSecureExchange&) = delete;
    CSecureExchange& operator=(const CSecureExchange&) = delete;

    // The whole exchange (entry steps); returns how it ended.
    ExchangeOutcome Run();

    // Replaces the clock, pump or random source (tests).
    void SetServices(const ExchangeServices& services) { m_Services = services; }
    void SetRandomSource(AppRandomSource& source) { m_pRandom = &source; }

    // The receive thread's handling of one input report (also driven directly
    // by tests of the receive state machine).
    void OnReceive(const uint8_t* report, size_t bytesRead);

    bool IsDone() const { return m_bDone.load(); }
    bool IsAnswerUsable() const { return !m_bAnswerBroken.load(); }
    uint16_t Status() const { return m_Status; }
    const uint8_t* AnswerData() const { return m_AnswerData; }

    static constexpr size_t kAnswerDataSize = 256;
    static constexpr size_t kPlainBufSize = 1024;
    static constexpr size_t kCipherBufSize = 128;

protected:
    virtual size_t ComposeCommand(uint8_t* message) = 0;
    virtual const char* StartBanner() const = 0;
    virtual const char* FinishBanner() const = 0;
    virtual bool TracesProductNum() const { return true; }

    virtual void DrawHandshakeRandom(uint8_t out[8]) { m_pRandom->Draw(out); }
    virtual void SendReport(const uint8_t* report);
    virtual void OnHandshakeRefused();
    virtual void KeepAnswer(const uint8_t* plain, size_t n);

    // Every report of the device's report id and a Data Type the exchange
    // takes, before it is handled (the biometric unit traces its header here).
    virtual void TraceReceivedReport(const uint8_t* /*report*/) {}
    virtual void TraceRandomKeyRequest(const uint8_t* plain, const uint8_t* cipher);
    // `received`: the report from its data byte on, kRandomKeyAnswerView bytes.
    virtual void TraceRandomKeyAnswer(const uint8_t* received, const uint8_t* plain);
    virtual void TraceCommand(const uint8_t* /*plain*/, size_t /*n*/, const uint8_t* /*cipher*/) {}
    virtual void TraceBeforeCommandReport(size_t /*reportIndex*/, const uint8_t* /*cipher*/) {}
    virtual void TraceAnswerReceived(const uint8_t* /*cipher*/, size_t /*n*/) {}
    virtual void TraceAnswerHead(const uint8_t* plain);
    virtual void TraceAnswerDecrypted(const uint8_t* /*plain*/, size_t /*n*/) {}

    // Steps of the exchange.
    void RequestRandomKey(const uint8_t key[32]);
    void OnRandomKeyAnswer(const uint8_t key[32], const uint8_t* received);
    void SendCommand(const uint8_t key[32]);
    bool WaitForAnswer();
    // Ends the exchange as "no usable answer".
    void BreakOff();

    const ExchangeProfile m_Profile;
    ExchangeTrace m_Trace;
    ExchangeServices m_Services;
    AppRandomSource* m_pRandom;

    CHidDeviceRecord m_Device;
    uint8_t m_RecvKey[32] = {};
    uint8_t m_SendKey[32] = {};
    uint8_t m_AesKey[32] = {};
    uint8_t m_PlainBuf[kPlainBufSize] = {};
    uint8_t m_CipherBuf[kCipherBufSize] = {};
    uint8_t m_DeviceRandom[8] = {};
    uint8_t m_AppRandom[8] = {};
    int32_t m_bRandomKnown = 0;
    uint8_t m_AnswerData[kAnswerDataSize] = {};
    uint8_t m_ProductNum[16] = {};
    uint16_t m_Status = 0;
    std::atomic<bool> m_bAnswerBroken{false};
    std::atomic<bool> m_bWriteFailed{false};  // a report of this exchange could not be written
    std::atomic<bool> m_bDone{false};
    // The receive thread and the rule of what is taken as an answer; a
    // command is sent only while the exchange still runs.
    CExchangeChannel m_Channel;

private:
    // Writes one report of a request through SendReport.
    bool WriteRequestReport(size_t index, const uint8_t* report);

    // What the channel hands over (CExchangeChannel::Receiver).
    void ReportSeen(const uint8_t* report, const CExchangeChannel::Intake& in) override;
    void RandomKeyAnswerTaken(const CExchangeChannel::Intake& in) override;
    void MalformedAnswer(const CExchangeChannel::Intake& in) override;
    const uint8_t* OpenAnswer(const CExchangeChannel::Intake& in) override;
    void AnswerTaken(const CExchangeChannel::Intake& in, const uint8_t* opened) override;

    uint8_t m_Opened[kPlainBufSize] = {};  // the answer being taken, decrypted
};
