#include "obulink/secure_exchange.h"

#include <cstring>
#include <vector>

#include "obulink/aes.h"

namespace {

const uint8_t kZeroChain[16] = {};

}  // namespace

ExchangeOutcome ClassifyOutcome(bool done, bool answerUsable, uint16_t status)
{
    if (!done || !answerUsable) return ExchangeOutcome::NoAnswer;
    const uint8_t statusByte = static_cast<uint8_t>(status & 0xFF);
    if (statusByte & 0x02) return ExchangeOutcome::Refused;
    if (statusByte != 0) return ExchangeOutcome::Failed;
    return ExchangeOutcome::Succeeded;
}

CString OutcomeText(ExchangeOutcome outcome, const CString& successText)
{
    switch (outcome) {
    case ExchangeOutcome::NoAnswer: return "0";
    case ExchangeOutcome::Refused: return "2";
    case ExchangeOutcome::Failed: return "1";
    case ExchangeOutcome::Succeeded: break;
    }
    return successText;
}

namespace {

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

}  // namespace

void ReceiveLoop(CHidDeviceRecord& device, const std::atomic<bool>& run, const std::atomic<bool>& done,
                 bool stopWhenDone, ExchangeClock& clock,
                 const std::function<void(const uint8_t*, size_t)>& onReport, const std::function<void()>& onFault)
{
    // As large as the device's input report, so that no report can overrun it.
    const size_t size = device.m_wInputReportLength > CSecureExchange::kReceiveBufferMinimum
                            ? device.m_wInputReportLength
                            : CSecureExchange::kReceiveBufferMinimum;
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
        } while (run.load() && !(stopWhenDone && done.load()));
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

CSecureExchange::CSecureExchange(const CHidDeviceRecord& device, const uint8_t productKey[16],
                                 const ExchangeProfile& profile)
    : m_Profile(profile), m_Trace(profile.traceLineEnd), m_pRandom(&SystemAppRandom()), m_Device(device)
{
    std::memcpy(m_ProductNum, productKey, sizeof m_ProductNum);
}

CSecureExchange::~CSecureExchange()
{
    StopReceiving();  // Run has always joined; nothing is left to do here normally
}

void CSecureExchange::StopReceiving()
{
    if (!m_hThread.joinable()) return;
    {
        std::lock_guard<std::mutex> hold(m_SendLock);
        m_bRun = false;
    }
    // The thread ends after its current read (at most the read time-out) and
    // the dispatch in progress.
    m_hThread.join();
}

ExchangeOutcome CSecureExchange::Run()
{
    DrawHandshakeRandom(m_AppRandom);
    if (TracesProductNum()) m_Trace.Withheld("[m_ProductNum]", sizeof m_ProductNum);
    std::memset(m_SendKey, 0, sizeof m_SendKey);
    std::memset(m_RecvKey, 0, sizeof m_RecvKey);
    HandshakeSendKey(m_SendKey, m_ProductNum);
    m_Device.m_dwReadTimeout = m_Profile.ioTimeoutMs;
    m_Device.m_dwWriteTimeout = m_Profile.ioTimeoutMs;
    if (m_Profile.dropWaitingInput) m_Device.FlushInput();

    m_bDone = false;
    m_bAnswerBroken = false;
    m_bWriteFailed = false;
    m_bRandomKnown = 0;
    m_bRun = true;
    try {
        m_hThread = std::thread([this] { ReceiveThread(); });
    } catch (const std::exception&) {
        m_bRun = false;
        return ExchangeOutcome::NoAnswer;
    }
    try {
        m_Trace.Label(StartBanner());
        RequestRandomKey(m_SendKey);
        // A request that could not be written gets no answer: nothing to wait for.
        if (!m_bWriteFailed.load()) WaitForAnswer();
    } catch (...) {
        StopReceiving();  // the thread must not outlive the parts it calls into
        throw;
    }
    StopReceiving();
    return ClassifyOutcome(m_bDone.load(), !m_bAnswerBroken.load(), m_Status);
}

void CSecureExchange::ReceiveThread()
{
    ReceiveLoop(
        m_Device, m_bRun, m_bDone, m_Profile.stopReadingWhenDone, *m_Services.clock,
        [this](const uint8_t* report, size_t bytesRead) { OnReceive(report, bytesRead); },
        [this] { BreakOff(); });
}

bool CSecureExchange::WaitForAnswer()
{
    return WaitForFlag(m_bDone, m_Profile.waitLimitMs, m_Services);
}

void CSecureExchange::BreakOff()
{
    // Runs on the receive thread only; an answer already handled stands (a
    // reader that goes on after it may still meet a broken report or device).
    if (m_bDone.load()) return;
    m_bAnswerBroken = true;
    m_bDone = true;
}

void CSecureExchange::SendReport(const uint8_t* report)
{
    if (m_Device.WriteReport(report, m_Profile.layout.reportLength) != kHidDone) m_bWriteFailed = true;
}

void CSecureExchange::RequestRandomKey(const uint8_t key[32])
{
    std::memcpy(m_AesKey, key, sizeof m_AesKey);
    std::memset(m_CipherBuf, 0, sizeof m_CipherBuf);
    std::memset(m_PlainBuf, 0, MessageHead::kSize);
    m_PlainBuf[0] = kRandomKeyCommand;
    std::memcpy(m_PlainBuf + MessageHead::kRandomOffset, m_AppRandom, sizeof m_AppRandom);

    CAESClass aes;
    aes.MakeKey(m_AesKey, kZeroChain, 32, 16);
    aes.Encrypt(m_PlainBuf, m_CipherBuf, MessageHead::kSize);
    TraceRandomKeyRequest(m_PlainBuf, m_CipherBuf);

    for (const HidReport& report : FrameMessage(m_Profile.layout, m_CipherBuf, MessageHead::kSize)) {
        SendReport(report.data());
        if (m_bWriteFailed.load()) return;
    }
}

void CSecureExchange::TraceRandomKeyRequest(const uint8_t* plain, const uint8_t* cipher)
{
    m_Trace.Labelled("[APP Randomkey]", m_AppRandom, sizeof m_AppRandom);
    m_Trace.Withheld("[AES 암호화 키]", sizeof m_AesKey);
    m_Trace.Labelled("[RandomKey 정보 요청-암호화전]", plain, MessageHead::kSize);
    m_Trace.Labelled("[Randomkey 정보 요청-암호화후]", cipher, MessageHead::kSize);
}

void CSecureExchange::OnReceive(const uint8_t* report, size_t bytesRead)
{
    const HidReportLayout& layout = m_Profile.layout;
    if (bytesRead < HidReportLayout::kDataOffset || report[0] != layout.reportId) return;
    const HidPacketHeader header = HidPacketHeader::ReadFrom(report);
    const uint8_t* data = report + HidReportLayout::kDataOffset;
    const size_t available = bytesRead - HidReportLayout::kDataOffset;

    if (m_Profile.answerFraming == AnswerFraming::SingleReport) {
        if (header.dataType != HidPacketHeader::kFirstReport) return;
    } else if (header.dataType != HidPacketHeader::kFirstReport &&
               header.dataType != HidPacketHeader::kFollowingReport) {
        return;
    }
    TraceReceivedReport(report);

    if (header.dataType == HidPacketHeader::kFirstReport && !m_bRandomKnown) {
        // The answer's 16 bytes and what follows them in the report, zero
        // where the report ends, so that the traces may show 64 bytes.
        uint8_t received[kRandomKeyAnswerView] = {};
        std::memcpy(received, data, available < sizeof received ? available : sizeof received);
        HandshakeReceiveKey(m_RecvKey, m_ProductNum, m_AppRandom);
        OnRandomKeyAnswer(m_RecvKey, received);
        return;
    }

    if (m_Profile.answerFraming == AnswerFraming::SingleReport) {
        if (header.length == 0 && m_Profile.skipEmptySingleReport) return;
        if (header.length > available) return BreakOff();
        CommandReceiveKey(m_RecvKey, m_ProductNum, m_AppRandom, m_DeviceRandom);
        OnCommandAnswer(m_RecvKey, data, header.length);
        return;
    }

    switch (m_Answer.Add(header, data, available)) {
    case AnswerAccumulator::Step::NeedMore: return;
    case AnswerAccumulator::Step::Malformed: return BreakOff();
    case AnswerAccumulator::Step::Complete: break;
    }
    CommandReceiveKey(m_RecvKey, m_ProductNum, m_AppRandom, m_DeviceRandom);
    OnCommandAnswer(m_RecvKey, m_Answer.Bytes(), m_Answer.Count());
}

void CSecureExchange::OnRandomKeyAnswer(const uint8_t key[32], const uint8_t* received)
{
    std::memcpy(m_AesKey, key, sizeof m_AesKey);
    std::memset(m_PlainBuf, 0, sizeof m_PlainBuf);
    CAESClass aes;
    aes.MakeKey(m_AesKey, kZeroChain, 32, 16);
    aes.DecryptBlock(received, m_PlainBuf);
    aes.Xor(m_PlainBuf, kZeroChain);

    std::memcpy(m_DeviceRandom, m_PlainBuf + MessageHead::kRandomOffset, sizeof m_DeviceRandom);
    m_bRandomKnown = 1;
    TraceRandomKeyAnswer(received, m_PlainBuf);

    bool accepted = m_PlainBuf[0] == kRandomKeyCommand;
    for (size_t i = 1; i < MessageHead::kRandomOffset; ++i) accepted = accepted && m_PlainBuf[i] == 0;
    if (!accepted && m_Profile.refuseBadRandomKeyAnswer) {
        OnHandshakeRefused();
        m_bDone = true;
        return;
    }

    std::memset(m_SendKey, 0, sizeof m_SendKey);
    CommandSendKey(m_SendKey, m_ProductNum, m_DeviceRandom);
    m_Services.clock->SleepMs(m_Profile.pauseBeforeCommandMs);

    // The request thread may have given up meanwhile: then the command must
    // not reach the device, or it could act on a command the page was told
    // had no answer.
    std::lock_guard<std::mutex> hold(m_SendLock);
    if (m_bRun.load()) SendCommand(m_SendKey);
}

void CSecureExchange::TraceRandomKeyAnswer(const uint8_t* /*received*/, const uint8_t* plain)
{
    m_Trace.Labelled("[OBU Randomkey]", m_DeviceRandom, sizeof m_DeviceRandom);
    m_Trace.Label("[Return 되는 처리 결과 Get RandomKey]");
    m_Trace.HeadLines(plain);
}

void CSecureExchange::OnHandshakeRefused()
{
    m_Status = 2;
    std::memset(m_AnswerData, 0, sizeof m_AnswerData);
    m_AnswerData[0] = 2;
}

void CSecureExchange::SendCommand(const uint8_t key[32])
{
    std::memcpy(m_AesKey, key, sizeof m_AesKey);
    std::memset(m_PlainBuf, 0, kCipherBufSize);
    std::memset(m_CipherBuf, 0, sizeof m_CipherBuf);
    m_pRandom->Draw(m_AppRandom);
    std::memcpy(m_PlainBuf + MessageHead::kRandomOffset, m_AppRandom, sizeof m_AppRandom);
    m_Trace.Labelled("[APP Randomkey]", m_AppRandom, sizeof m_AppRandom);

    const size_t n = ComposeCommand(m_PlainBuf);
    if (n == 0 || n % CAESClass::kBlockSize != 0 || n > kCipherBufSize) return BreakOff();

    CAESClass aes;
    aes.MakeKey(m_AesKey, kZeroChain, 32, 16);
    aes.Encrypt(m_PlainBuf, m_CipherBuf, n);
    TraceCommand(m_PlainBuf, n, m_CipherBuf);

    const std::vector<HidReport> reports = FrameMessage(m_Profile.layout, m_CipherBuf, n);
    for (size_t i = 0; i < reports.size(); ++i) {
        TraceBeforeCommandReport(i, m_CipherBuf);
        SendReport(reports[i].data());
        // The rest of a message whose report failed would be of no use, and
        // no answer can come: the exchange ends now, as without an answer.
        if (m_bWriteFailed.load()) return BreakOff();
    }
}

void CSecureExchange::OnCommandAnswer(const uint8_t key[32], const uint8_t* bytes, size_t n)
{
    // Only whole blocks can be decrypted; anything else is a broken answer.
    if (n == 0 || n % CAESClass::kBlockSize != 0 || n > kPlainBufSize) return BreakOff();
    TraceAnswerReceived(bytes, n);

    std::memcpy(m_AesKey, key, sizeof m_AesKey);
    uint8_t work[kPlainBufSize] = {};
    std::memcpy(work, bytes, n);
    std::memset(m_PlainBuf, 0, sizeof m_PlainBuf);
    CAESClass aes;
    aes.MakeKey(m_AesKey, kZeroChain, 32, 16);
    aes.Decrypt(work, m_PlainBuf, n);

    TraceAnswerHead(m_PlainBuf);
    TraceAnswerDecrypted(m_PlainBuf, n);
    KeepAnswer(m_PlainBuf, n);
    m_bDone = true;
    m_Trace.Label(FinishBanner());
}

void CSecureExchange::TraceAnswerHead(const uint8_t* plain)
{
    m_Trace.Labelled("[OBU Randomkey]", plain + MessageHead::kRandomOffset, MessageHead::kRandomSize);
    m_Trace.Label("[Return 되는 처리 결과]");
    m_Trace.HeadLines(plain);
}

void CSecureExchange::KeepAnswer(const uint8_t* plain, size_t n)
{
    m_Status = MessageHead::ReadFrom(plain).Status();
    std::memset(m_AnswerData, 0, sizeof m_AnswerData);
    const size_t dataLength = n > MessageHead::kSize ? n - MessageHead::kSize : 0;
    std::memcpy(m_AnswerData, plain + MessageHead::kSize,
                dataLength < sizeof m_AnswerData ? dataLength : sizeof m_AnswerData);
}
