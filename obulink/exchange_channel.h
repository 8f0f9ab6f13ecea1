// CExchangeChannel: the receive path of one conversation with a device, which
// every exchange is built on: the secure exchange (CSecureExchange), the clear
// serial-number read (CDoGetMFSN) and the fingerprint screens
// (CScreenExchange).
//
// It owns the receive thread (its run flag, start, stop and join) and the one
// rule by which a report read is taken, which every receive path goes
// through (Receive): only as the answer to the request that is outstanding.
//   - No request outstanding (before the first one, between an answer and
//     the next request): every report of the device is dropped and traced.
//   - A random-key request outstanding: only a report that holds a whole
//     one-block message (Data Type 1, Packet Index 0, DataLength 16, Length
//     16) is its answer, whatever it decrypts to (the exchange judges that);
//     anything else is dropped and traced.
//   - A command outstanding: its answer is gathered over its reports (or
//     taken from one report), opened by the exchange (decrypted, or read in
//     clear), and taken only when its command byte is the request's (Accept);
//     any other is dropped and traced, and the gathering starts again.
// Once a request's answer has been taken, nothing more is taken until the
// next request goes out: a device's late answer to an earlier request, or a
// report that answers nothing, never passes for the answer of this one.
// What is outstanding is read and settled under the send lock, and an answer
// is taken only for the request it was read under, so that a request sent
// meanwhile is never settled by an earlier one's answer.
//
// Requests go out under the send lock and only while the channel runs, so
// that nothing reaches the device once the exchange has ended: Stop clears
// the run flag under the same lock.
#pragma once

#include <atomic>
#include <condition_variable>
#include <cstddef>
#include <cstdint>
#include <functional>
#include <mutex>
#include <thread>

#include "obulink/exchange_trace.h"
#include "obulink/exchange_wait.h"
#include "obulink/hid_device.h"
#include "obulink/hid_packet.h"

enum class AnswerFraming {
    Gathered,      // gathered by Packet Index up to DataLength
    SingleReport,  // one Data Type 1 report holds the whole answer (its Length bytes)
};

// How a channel's answers come.
struct ChannelFraming {
    HidReportLayout layout;
    AnswerFraming answers = AnswerFraming::Gathered;
    // Reports of Data Type 2 carry answer data (the serial-number read's
    // answer comes in Data Type 1 reports only; single-report answers too).
    bool followingReports = true;
    // The longest answer gathered.
    size_t capacity = AnswerAccumulator::kCapacity;
    // Single-report answers: a report of Length 0 is passed over (more to
    // come) instead of being taken as an answer.
    bool skipEmptySingleReport = false;
};

// The receive thread's loop: reads one report at a time into a buffer large
// enough for the record's input report and hands each report that was read to
// `onReport` (buffer, bytes read). Runs while `run` is set and, when `done` is
// given, until it is set. A read that times out is followed by the next; so is
// a read that failed with an error that may pass (kHidIoError), once the rest
// of the read's time-out has gone by on `clock` (or `run` was cleared), so
// that a device failing every read at once is not spun on. A read that cannot
// succeed again (device gone, record not open, no input buffers) and an
// exception from `onReport` end the loop after `onFault` has run. Nothing is
// thrown out of it.
void ReceiveLoop(CHidDeviceRecord& device, const std::atomic<bool>& run, const std::atomic<bool>* done,
                 ExchangeClock& clock, const std::function<void(const uint8_t*, size_t)>& onReport,
                 const std::function<void()>& onFault);

class CExchangeChannel {
public:
    using ReportHandler = std::function<void(const uint8_t*, size_t)>;
    using FaultHandler = std::function<void()>;
    // Writes one report of a request; false when it could not be written.
    using ReportWriter = std::function<bool(size_t index, const uint8_t* report)>;
    // A request as it goes out: its length (0: nothing to send) and the
    // command byte its answer carries.
    struct SealedRequest {
        size_t length = 0;
        uint8_t answerCommand = 0;
    };
    // Fills the request's message, at most kMaxRequest bytes.
    using RequestSealer = std::function<SealedRequest(uint8_t* message)>;

    static constexpr size_t kMaxRequest = 128;
    static constexpr size_t kRandomKeyMessage = 16;

    enum class Awaiting : uint8_t { Nothing, RandomKeyAnswer, Answer };

    // What one report read is to the exchange.
    struct Intake {
        enum Kind {
            Foreign,          // another report id or Data Type, or shorter than a header: passed over silently
            Unrequested,      // answers no outstanding request: dropped (TraceDropped)
            RandomKeyAnswer,  // the random-key answer: `data`, 16 bytes and more of the report
            NeedMore,         // a part of the answer (or an empty single report passed over); more to come
            Malformed,        // an answer that lies about its length or outgrows the gathering
            Answer,           // the whole answer: `data`, `length` bytes
        } kind = Foreign;
        HidPacketHeader header;
        const uint8_t* data = nullptr;
        size_t length = 0;
        size_t available = 0;
        uint32_t request = 0;  // the serial of the request outstanding when it was read
    };

    // `device` is the exchange's own record copy; `trace` its trace lines.
    CExchangeChannel(CHidDeviceRecord& device, const ChannelFraming& framing, const ExchangeTrace& trace);
    ~CExchangeChannel();
    CExchangeChannel(const CExchangeChannel&) = delete;
    CExchangeChannel& operator=(const CExchangeChannel&) = delete;

    // What an exchange does with the reports its channel reads; the channel
    // decides what each one is (Receive).
    class Receiver {
    public:
        // Every report of the channel's report id and Data Types, before the
        // channel acts on it (`in.kind` tells what it is): the report traces.
        virtual void ReportSeen(const uint8_t* report, const Intake& in) = 0;
        // The random-key answer; taking it has settled the request.
        virtual void RandomKeyAnswerTaken(const Intake& in) = 0;
        // An answer that lies about its length or outgrows the gathering.
        virtual void MalformedAnswer(const Intake& in) = 0;
        // A whole answer, opened (decrypted; a clear answer as it is): its
        // `in.length` bytes, byte 0 its command; null when it cannot be
        // opened (the exchange has dealt with that).
        virtual const uint8_t* OpenAnswer(const Intake& in) = 0;
        // The opened answer, taken as the outstanding request's.
        virtual void AnswerTaken(const Intake& in, const uint8_t* opened) = 0;

    protected:
        ~Receiver() = default;
    };

    // Sets the run flag and starts the receive thread, which reads until the
    // flag is cleared (and, with `done`, until that is set). False when the
    // thread cannot start.
    bool Start(ExchangeClock& clock, const std::atomic<bool>* done, ReportHandler onReport, FaultHandler onFault);
    // Clears the run flag under the send lock and waits for the receive thread
    // (unless called on it): it ends after its current read and dispatch.
    void Stop();
    // Clears the run flag without waiting: the reader leaves within one read
    // time-out, and nothing more is sent.
    void StopRunning() { m_bRun = false; }
    // Waits at most `ms` for the receive thread to end; true once it has
    // ended, when none was started, or when called on it (it cannot wait for
    // itself).
    bool WaitForReaderEnd(uint32_t ms);
    // Lets requests out with no receive thread: for tests that hand the
    // reports over themselves, step by step.
    void AllowSendingWithoutReaderForTests() { m_bRun = true; }
    bool IsRunning() const { return m_bRun.load(); }

    // Sends one request: under the send lock and only while running, `seal`
    // fills the message, which is cut into reports of the framing's layout
    // and written by `write`, and from then on its answer (`awaited`) is
    // outstanding. Any answer still being gathered for an earlier request is
    // let go.
    enum class SendResult { Sent, NotRunning, NothingToSend, WriteFailed };
    SendResult Send(Awaiting awaited, const RequestSealer& seal, const ReportWriter& write);
    // Held by an exchange while it reads or changes what its requests use
    // (random values, keys), so that it never sees a request half made. Not
    // to be held around Send.
    std::unique_lock<std::mutex> HoldSends() { return std::unique_lock<std::mutex>(m_SendLock); }

    // One input report of the receive thread (or of a test driving it by
    // hand), as every exchange takes it: classified (Take), traced by
    // `receiver`, a dropped one traced, a whole answer opened by `receiver`
    // and taken only when Accept takes it.
    void Receive(const uint8_t* report, size_t bytesRead, Receiver& receiver);

    // The steps of Receive. Take classifies one input report by the request
    // outstanding; a random-key answer taken there settles its request.
    Intake Take(const uint8_t* report, size_t bytesRead);
    // A whole answer that Take gave, opened: taken when the request it was
    // read for is still the outstanding one, still awaits an answer, and
    // `command` is that request's command byte; taking it settles the
    // request. Otherwise it is dropped and traced, and the channel waits on.
    bool Accept(const Intake& answer, uint8_t command);
    // The trace line of a report that was dropped.
    void TraceDropped(const Intake& intake) const;

private:
    CHidDeviceRecord& m_Device;
    const ChannelFraming m_Framing;
    const ExchangeTrace m_Trace;
    std::thread m_hThread;
    std::atomic<bool> m_bRun{false};
    std::mutex m_SendLock;
    // The request outstanding, under m_SendLock: what it awaits, its
    // answer's command byte, and its serial, bumped by every request (the
    // gathering, receive thread only, restarts when it sees a new one).
    Awaiting m_Awaiting = Awaiting::Nothing;
    uint8_t m_AnswerCommand = 0;
    uint32_t m_RequestSerial = 0;
    uint32_t m_GatheringFor = 0;
    // The receive thread's end, for WaitForReaderEnd.
    std::mutex m_EndLock;
    std::condition_variable m_Ended;
    bool m_bReaderEnded = true;
    AnswerAccumulator m_Answer;
};
