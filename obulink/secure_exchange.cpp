#include "obulink/secure_exchange.h"

#include <cstring>

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

void SealRandomKeyRequest(const uint8_t key[32], const uint8_t appRandom[8], uint8_t plain[16], uint8_t cipher[16])
{
    std::memset(plain, 0, MessageHead::kSize);
    plain[0] = CSecureExchange::kRandomKeyCommand;
    std::memcpy(plain + MessageHead::kRandomOffset, appRandom, MessageHead::kRandomSize);
    CAESClass aes;
    aes.MakeKey(key, kZeroChain, 32, 16);
    aes.Encrypt(plain, cipher, MessageHead::kSize);
}

bool OpenRandomKeyAnswer(const uint8_t key[32], const uint8_t sealed[16], uint8_t plain[16])
{
    CAESClass aes;
    aes.MakeKey(key, kZeroChain, 32, 16);
    aes.DecryptBlock(sealed, plain);
    aes.Xor(plain, kZeroChain);
    bool accepted = plain[0] == CSecureExchange::kRandomKeyCommand;
    for (size_t i = 1; i < MessageHead::kRandomOffset; ++i) accepted = accepted && plain[i] == 0;
    return accepted;
}

CSecureExchange::CSecureExchange(const CHidDeviceRecord& device, const uint8_t productKey[16],
                                 const ExchangeProfile& profile)
    : m_Profile(profile), m_Trace(profile.traceLineEnd), m_pRandom(&SystemAppRandom()), m_Device(device),
      m_Channel(m_Device,
                {profile.layout, profile.answerFraming, true, AnswerAccumulator::kCapacity,
                 profile.skipEmptySingleReport},
                m_Trace)
{
    std::memcpy(m_ProductNum, productKey, sizeof m_ProductNum);
}

CSecureExchange::~CSecureExchange()
{
    m_Channel.Stop();  // Run has always stopped it; nothing is left to do here normally
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
    if (!m_Channel.Start(
            *m_Services.clock, m_Profile.stopReadingWhenDone ? &m_bDone : nullptr,
            [this](const uint8_t* report, size_t bytesRead) { OnReceive(report, bytesRead); },
            [this] { BreakOff(); }))
        return ExchangeOutcome::NoAnswer;
    try {
        m_Trace.Label(StartBanner());
        RequestRandomKey(m_SendKey);
        // A request that could not be written gets no answer: nothing to wait for.
        if (!m_bWriteFailed.load()) WaitForAnswer();
    } catch (...) {
        m_Channel.Stop();  // the thread must not outlive the parts it calls into
        throw;
    }
    m_Channel.Stop();
    return ClassifyOutcome(m_bDone.load(), !m_bAnswerBroken.load(), m_Status);
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

bool CSecureExchange::WriteRequestReport(size_t /*index*/, const uint8_t* report)
{
    SendReport(report);
    return !m_bWriteFailed.load();
}

void CSecureExchange::RequestRandomKey(const uint8_t key[32])
{
    m_Channel.Send(
        CExchangeChannel::Awaiting::RandomKeyAnswer,
        [&](uint8_t* message) {
            std::memcpy(m_AesKey, key, sizeof m_AesKey);
            std::memset(m_CipherBuf, 0, sizeof m_CipherBuf);
            SealRandomKeyRequest(m_AesKey, m_AppRandom, m_PlainBuf, m_CipherBuf);
            TraceRandomKeyRequest(m_PlainBuf, m_CipherBuf);
            std::memcpy(message, m_CipherBuf, MessageHead::kSize);
            return CExchangeChannel::SealedRequest{MessageHead::kSize, kRandomKeyCommand};
        },
        [this](size_t index, const uint8_t* report) { return WriteRequestReport(index, report); });
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
    m_Channel.Receive(report, bytesRead, *this);
}

void CSecureExchange::ReportSeen(const uint8_t* report, const CExchangeChannel::Intake& /*in*/)
{
    TraceReceivedReport(report);
}

void CSecureExchange::MalformedAnswer(const CExchangeChannel::Intake& /*in*/)
{
    BreakOff();
}

void CSecureExchange::RandomKeyAnswerTaken(const CExchangeChannel::Intake& in)
{
    // The answer's 16 bytes and what follows them in the report, zero
    // where the report ends, so that the traces may show 64 bytes.
    uint8_t received[kRandomKeyAnswerView] = {};
    std::memcpy(received, in.data, in.available < sizeof received ? in.available : sizeof received);
    HandshakeReceiveKey(m_RecvKey, m_ProductNum, m_AppRandom);
    OnRandomKeyAnswer(m_RecvKey, received);
}

void CSecureExchange::OnRandomKeyAnswer(const uint8_t key[32], const uint8_t* received)
{
    std::memcpy(m_AesKey, key, sizeof m_AesKey);
    std::memset(m_PlainBuf, 0, sizeof m_PlainBuf);
    const bool accepted = OpenRandomKeyAnswer(m_AesKey, received, m_PlainBuf);

    std::memcpy(m_DeviceRandom, m_PlainBuf + MessageHead::kRandomOffset, sizeof m_DeviceRandom);
    m_bRandomKnown = 1;
    TraceRandomKeyAnswer(received, m_PlainBuf);

    if (!accepted && m_Profile.refuseBadRandomKeyAnswer) {
        OnHandshakeRefused();
        m_bDone = true;
        return;
    }

    std::memset(m_SendKey, 0, sizeof m_SendKey);
    CommandSendKey(m_SendKey, m_ProductNum, m_DeviceRandom);
    m_Services.clock->SleepMs(m_Profile.pauseBeforeCommandMs);

    // The request thread may have given up meanwhile: then the command must
    // not reach the device (the channel sends nothing once stopped), or it
    // could act on a command the page was told had no answer.
    SendCommand(m_SendKey);
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
    const CExchangeChannel::SendResult sent = m_Channel.Send(
        CExchangeChannel::Awaiting::Answer,
        [&](uint8_t* message) {
            std::memcpy(m_AesKey, key, sizeof m_AesKey);
            std::memset(m_PlainBuf, 0, kCipherBufSize);
            std::memset(m_CipherBuf, 0, sizeof m_CipherBuf);
            m_pRandom->Draw(m_AppRandom);
            std::memcpy(m_PlainBuf + MessageHead::kRandomOffset, m_AppRandom, sizeof m_AppRandom);
            m_Trace.Labelled("[APP Randomkey]", m_AppRandom, sizeof m_AppRandom);

            const size_t n = ComposeCommand(m_PlainBuf);
            if (n == 0 || n % CAESClass::kBlockSize != 0 || n > kCipherBufSize) return CExchangeChannel::SealedRequest{};

            CAESClass aes;
            aes.MakeKey(m_AesKey, kZeroChain, 32, 16);
            aes.Encrypt(m_PlainBuf, m_CipherBuf, n);
            TraceCommand(m_PlainBuf, n, m_CipherBuf);
            std::memcpy(message, m_CipherBuf, n);
            return CExchangeChannel::SealedRequest{n, m_PlainBuf[0]};
        },
        [this](size_t index, const uint8_t* report) {
            TraceBeforeCommandReport(index, m_CipherBuf);
            return WriteRequestReport(index, report);
        });
    // A command that cannot be made, or the rest of a message whose report
    // failed, would be of no use, and no answer can come: the exchange ends
    // now, as without an answer.
    if (sent == CExchangeChannel::SendResult::NothingToSend || sent == CExchangeChannel::SendResult::WriteFailed)
        BreakOff();
}

const uint8_t* CSecureExchange::OpenAnswer(const CExchangeChannel::Intake& in)
{
    // Only whole blocks can be decrypted; anything else is a broken answer.
    const size_t n = in.length;
    if (n == 0 || n % CAESClass::kBlockSize != 0 || n > kPlainBufSize) {
        BreakOff();
        return nullptr;
    }
    CommandReceiveKey(m_RecvKey, m_ProductNum, m_AppRandom, m_DeviceRandom);
    std::memcpy(m_AesKey, m_RecvKey, sizeof m_AesKey);
    uint8_t work[kPlainBufSize] = {};
    std::memcpy(work, in.data, n);
    std::memset(m_Opened, 0, sizeof m_Opened);
    CAESClass aes;
    aes.MakeKey(m_AesKey, kZeroChain, 32, 16);
    aes.Decrypt(work, m_Opened, n);
    return m_Opened;
}

void CSecureExchange::AnswerTaken(const CExchangeChannel::Intake& in, const uint8_t* opened)
{
    TraceAnswerReceived(in.data, in.length);
    std::memcpy(m_PlainBuf, opened, sizeof m_PlainBuf);
    TraceAnswerHead(m_PlainBuf);
    TraceAnswerDecrypted(m_PlainBuf, in.length);
    KeepAnswer(m_PlainBuf, in.length);
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
