#include "obulink/exchange_channel.h"

#include <vector>

namespace {

// A receive buffer is never smaller than this, whatever the record says.
constexpr size_t kReceiveBufferMinimum = 256;

// Waits out what is left of a failed read's time-out, in steps short enough
// that a cleared run flag ends the wait soon (and one without a time-out
// waits only until then).
void WaitOutReadTimeout(uint32_t timeoutMs, uint64_t elapsedMs, const std::atomic<bool>& run, ExchangeClock& clock)
{
    constexpr uint32_t kStepMs = 100;
    uint64_t left = elapsedMs < timeoutMs ? timeoutMs - elapsedMs : 0;
    while (left > 0 && run.load()) {
        const uint32_t step = left < kStepMs ? static_cast<uint32_t>(left) : kStepMs;
        clock.SleepMs(step);
        left -= step;
    }
}

// The random-key answer is a one-block message in one report.
bool HoldsWholeRandomKeyAnswer(const HidPacketHeader& header, size_t available)
{
    return header.dataType == HidPacketHeader::kFirstReport && header.packetIndex == 0 &&
           header.dataLength == CExchangeChannel::kRandomKeyMessage &&
           header.length == CExchangeChannel::kRandomKeyMessage && available >= CExchangeChannel::kRandomKeyMessage;
}

}  // namespace

void ReceiveLoop(CHidDeviceRecord& device, const std::atomic<bool>& run, const std::atomic<bool>* done,
                 ExchangeClock& clock, const std::function<void(const uint8_t*, size_t)>& onReport,
                 const std::function<void()>& onFault)
{
    // As large as the device's input report, so that no report can overrun it.
    const size_t size = device.m_wInputReportLength > kReceiveBufferMinimum ? device.m_wInputReportLength
                                                                            : kReceiveBufferMinimum;
    // Nothing may leave the receive thread (it would end the process): an
    // exception, a failed allocation of the buffer included, ends the loop as
    // a device that cannot be read does.
    bool faulted = false;
    try {
        std::vector<uint8_t> buffer(size);
        do {
            size_t bytesRead = 0;
            const uint64_t started = clock.NowMs();
            const uint8_t result = device.ReadReport(buffer.data(), buffer.size(), bytesRead);
            if (result == kHidDone) {
                onReport(buffer.data(), bytesRead < buffer.size() ? bytesRead : buffer.size());
            } else if (result == kHidIoError) {
                // This read failed, the next may not: an answer that follows
                // still counts.
                WaitOutReadTimeout(device.m_dwReadTimeout, clock.NowMs() - started, run, clock);
            } else if (result != kHidTimeout) {
                // The device is gone or cannot be read: no answer can come, and
                // reading on would only spin until the wait runs out.
                faulted = true;
                break;
            }
        } while (run.load() && !(done && done->load()));
    } catch (...) {
        faulted = true;
    }
    if (!faulted) return;
    try {
        onFault();
    } catch (...) {
        // The fault's own handling found no memory: the wait runs out instead.
    }
}

CExchangeChannel::CExchangeChannel(CHidDeviceRecord& device, const ChannelFraming& framing,
                                   const ExchangeTrace& trace)
    : m_Device(device), m_Framing(framing), m_Trace(trace), m_Answer(framing.capacity)
{
}

CExchangeChannel::~CExchangeChannel()
{
    Stop();
}

bool CExchangeChannel::Start(ExchangeClock& clock, const std::atomic<bool>* done, ReportHandler onReport,
                             FaultHandler onFault)
{
    m_bRun = true;
    {
        std::lock_guard<std::mutex> hold(m_EndLock);
        m_bReaderEnded = false;
    }
    try {
        m_hThread = std::thread([this, &clock, done, onReport = std::move(onReport), onFault = std::move(onFault)] {
            ReceiveLoop(m_Device, m_bRun, done, clock, onReport, onFault);
            std::lock_guard<std::mutex> hold(m_EndLock);
            m_bReaderEnded = true;
            m_Ended.notify_all();
        });
    } catch (const std::exception&) {
        m_bRun = false;
        std::lock_guard<std::mutex> hold(m_EndLock);
        m_bReaderEnded = true;
        return false;
    }
    return true;
}

bool CExchangeChannel::WaitForReaderEnd(uint32_t ms)
{
    if (!m_hThread.joinable() || m_hThread.get_id() == std::this_thread::get_id()) return true;
    std::unique_lock<std::mutex> hold(m_EndLock);
    return m_Ended.wait_for(hold, std::chrono::milliseconds(ms), [this] { return m_bReaderEnded; });
}

void CExchangeChannel::Stop()
{
    {
        std::lock_guard<std::mutex> hold(m_SendLock);
        m_bRun = false;
    }
    if (m_hThread.joinable() && m_hThread.get_id() != std::this_thread::get_id()) m_hThread.join();
}

CExchangeChannel::SendResult CExchangeChannel::Send(Awaiting awaited, const RequestSealer& seal,
                                                    const ReportWriter& write)
{
    std::lock_guard<std::mutex> hold(m_SendLock);
    if (!m_bRun.load()) return SendResult::NotRunning;
    uint8_t message[kMaxRequest] = {};
    const SealedRequest request = seal(message);
    if (request.length == 0 || request.length > kMaxRequest) return SendResult::NothingToSend;
    // Outstanding before the first report goes out: the answer may be read
    // as soon as the device has the request.
    m_AnswerCommand = request.answerCommand;
    m_Awaiting = awaited;
    ++m_RequestSerial;
    const std::vector<HidReport> reports = FrameMessage(m_Framing.layout, message, request.length);
    for (size_t i = 0; i < reports.size(); ++i)
        if (!write(i, reports[i].data())) return SendResult::WriteFailed;
    return SendResult::Sent;
}

void CExchangeChannel::Receive(const uint8_t* report, size_t bytesRead, Receiver& receiver)
{
    const Intake in = Take(report, bytesRead);
    if (in.kind == Intake::Foreign) return;
    receiver.ReportSeen(report, in);
    switch (in.kind) {
    case Intake::Foreign:
    case Intake::NeedMore: return;
    case Intake::Unrequested: return TraceDropped(in);
    case Intake::Malformed: return receiver.MalformedAnswer(in);
    case Intake::RandomKeyAnswer: return receiver.RandomKeyAnswerTaken(in);
    case Intake::Answer: break;
    }
    const uint8_t* opened = receiver.OpenAnswer(in);
    if (opened && Accept(in, opened[0])) receiver.AnswerTaken(in, opened);
}

CExchangeChannel::Intake CExchangeChannel::Take(const uint8_t* report, size_t bytesRead)
{
    Intake in;
    if (bytesRead < HidReportLayout::kDataOffset || report[0] != m_Framing.layout.reportId) return in;
    in.header = HidPacketHeader::ReadFrom(report);
    in.data = report + HidReportLayout::kDataOffset;
    in.available = bytesRead - HidReportLayout::kDataOffset;
    const bool following = m_Framing.followingReports && m_Framing.answers == AnswerFraming::Gathered;
    if (in.header.dataType != HidPacketHeader::kFirstReport &&
        !(following && in.header.dataType == HidPacketHeader::kFollowingReport))
        return in;

    Awaiting awaiting;
    {
        std::lock_guard<std::mutex> hold(m_SendLock);
        awaiting = m_Awaiting;
        in.request = m_RequestSerial;
        // The random-key answer settles its request as it is taken.
        if (awaiting == Awaiting::RandomKeyAnswer && HoldsWholeRandomKeyAnswer(in.header, in.available))
            m_Awaiting = Awaiting::Nothing;
    }
    switch (awaiting) {
    case Awaiting::Nothing:
        in.kind = Intake::Unrequested;
        return in;
    case Awaiting::RandomKeyAnswer:
        if (!HoldsWholeRandomKeyAnswer(in.header, in.available)) {
            in.kind = Intake::Unrequested;
            return in;
        }
        in.kind = Intake::RandomKeyAnswer;
        in.length = kRandomKeyMessage;
        return in;
    case Awaiting::Answer: break;
    }

    if (m_Framing.answers == AnswerFraming::SingleReport) {
        in.length = in.header.length;
        if (in.length > in.available)
            in.kind = Intake::Malformed;
        else if (in.length == 0 && m_Framing.skipEmptySingleReport)
            in.kind = Intake::NeedMore;
        else
            in.kind = Intake::Answer;
        return in;
    }
    if (m_GatheringFor != in.request) {
        m_Answer.Clear();
        m_GatheringFor = in.request;
    }
    switch (m_Answer.Add(in.header, in.data, in.available)) {
    case AnswerAccumulator::Step::NeedMore: in.kind = Intake::NeedMore; return in;
    case AnswerAccumulator::Step::Malformed:
        m_Answer.Clear();
        in.kind = Intake::Malformed;
        return in;
    case AnswerAccumulator::Step::Complete: break;
    }
    in.kind = Intake::Answer;
    in.data = m_Answer.Bytes();
    in.length = m_Answer.Count();
    return in;
}

bool CExchangeChannel::Accept(const Intake& answer, uint8_t command)
{
    {
        std::lock_guard<std::mutex> hold(m_SendLock);
        if (m_Awaiting == Awaiting::Answer && m_RequestSerial == answer.request && command == m_AnswerCommand) {
            m_Awaiting = Awaiting::Nothing;
            return true;
        }
    }
    m_Trace.Label("[다른 요청의 응답 - 버림]");
    m_Answer.Clear();
    return false;
}

void CExchangeChannel::TraceDropped(const Intake& intake) const
{
    if (intake.kind != Intake::Unrequested) return;
    m_Trace.Label("[요청 없이 받은 보고 - 버림]");
}
