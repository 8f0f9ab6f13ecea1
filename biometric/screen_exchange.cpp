#include "biometric/screen_exchange.h"

#include <cstdio>
#include <cstring>

#include "biometric/biu_exchange.h"
#include "obulink/aes.h"
#include "obulink/secure_exchange.h"

namespace {

const uint8_t kZeroChain[16] = {};

uint16_t BigEndian16(const uint8_t* p)
{
    return static_cast<uint16_t>((p[0] << 8) | p[1]);
}

}  // namespace

ScanImage DecodeScanImage(const uint8_t* bytes, size_t available, int width, int height, bool oneBit,
                          size_t capacity)
{
    ScanImage image;
    if (width <= 0 || height <= 0) return image;
    // No more pixels than the answer could ever carry.
    const size_t maxPixels = capacity * 8;
    if (static_cast<size_t>(width) * static_cast<size_t>(height) > maxPixels)
        height = static_cast<int>(maxPixels / static_cast<size_t>(width));
    if (height <= 0) return image;
    image.width = width;
    image.height = height;
    image.pixels.assign(static_cast<size_t>(width) * static_cast<size_t>(height), 0);
    auto byteAt = [&](size_t i) -> uint8_t { return i < available ? bytes[i] : 0; };
    const size_t rowBytes = oneBit ? static_cast<size_t>(width) / 8 : static_cast<size_t>(width);
    for (int y = 0; y < height; ++y) {
        const size_t rowStart = static_cast<size_t>(y) * rowBytes;
        for (int x = 0; x < width; ++x) {
            uint32_t colour;
            if (oneBit) {
                const uint8_t b = byteAt(rowStart + static_cast<size_t>(x) / 8);
                colour = (b >> (x % 8)) & 1 ? 0x7F7F7Fu : 0u;
            } else {
                const uint32_t v = byteAt(rowStart + static_cast<size_t>(x));
                colour = (v << 16) | (v << 8) | v;
            }
            image.pixels[static_cast<size_t>(y) * static_cast<size_t>(width) + static_cast<size_t>(x)] = colour;
        }
    }
    return image;
}

// ------------------------------------------------------------ CScreenExchange

CScreenExchange::CScreenExchange(const CHidDeviceRecord& device, const uint8_t productKey[16],
                                 ScreenWindow& window, size_t answerCapacity)
    : m_Window(window), m_pRandom(&SystemAppRandom()), m_Device(device), m_Plain(answerCapacity, 0),
      m_Channel(m_Device, {kBiuReportLayout, AnswerFraming::Gathered, true, answerCapacity}, m_Trace)
{
    std::memcpy(m_ProductNum, productKey, sizeof m_ProductNum);
}

CScreenExchange::~CScreenExchange()
{
    Join();
}

bool CScreenExchange::StartReading()
{
    CBiuTransaction::FixedHandshakeRandom(m_AppRandom);
    HandshakeSendKey(m_SendKey, m_ProductNum);
    m_Device.m_dwReadTimeout = kIoTimeoutMs;
    m_Device.m_dwWriteTimeout = kIoTimeoutMs;
    // What waits on the handle, which stays open between commands, answers
    // an earlier exchange; read now, it would pass for this screen's answers.
    m_Device.FlushInput();
    return m_Channel.Start(
        *m_Services.clock, nullptr, [this](const uint8_t* report, size_t bytesRead) { OnReceive(report, bytesRead); },
        [this] {
            // The unit is gone or cannot be read: nothing more will come. The
            // silence watch offers the operator the way out.
            m_Trace.Label("[수신 오류]");
        });
}

void CScreenExchange::Join()
{
    // The run flag first: the reader shows no box any more and sends
    // nothing; one that it shows already, or has just begun to show, is
    // closed until the reader has ended (no operator need press OK).
    m_Channel.StopRunning();
    constexpr uint32_t kBoxCloseStepMs = 50;
    while (!m_Channel.WaitForReaderEnd(kBoxCloseStepMs)) m_Window.CloseReaderBoxes();
    m_Channel.Stop();
}

uint64_t CScreenExchange::SilentForMs() const
{
    const uint64_t since = m_AwaitingSince.load();
    if (since == 0) return 0;
    const uint64_t now = m_Services.clock->NowMs() + 1;
    return now > since ? now - since : 0;
}

void CScreenExchange::TraceReport(const uint8_t* report, bool randomKeyAnswer)
{
    m_Trace.Label(randomKeyAnswer ? "[수신된 헤더 정보-Get Key]" : "[수신된 헤더 정보]");
    m_Trace.PacketHeaderLines(report);
}

void CScreenExchange::OnReceive(const uint8_t* report, size_t bytesRead)
{
    if (!m_Channel.IsRunning()) return;
    m_Channel.Receive(report, bytesRead, *this);
}

void CScreenExchange::ReportSeen(const uint8_t* report, const CExchangeChannel::Intake& in)
{
    TraceReport(report, in.kind == CExchangeChannel::Intake::RandomKeyAnswer);
}

void CScreenExchange::MalformedAnswer(const CExchangeChannel::Intake& /*in*/)
{
    // Longer than the screen can hold, or a report that lies about its
    // length: dropped; the next Packet Index 0 starts again.
    m_Trace.Label("[수신 데이터 길이 초과]");
}

void CScreenExchange::RandomKeyAnswerTaken(const CExchangeChannel::Intake& in)
{
    m_AwaitingSince = 0;
    uint8_t key[32];
    HandshakeReceiveKey(key, m_ProductNum, m_AppRandom);
    uint8_t plain[16] = {};
    OpenRandomKeyAnswer(key, in.data, plain);  // the screens send their command whatever it reads
    {
        auto hold = m_Channel.HoldSends();
        std::memcpy(m_DeviceRandom, plain + MessageHead::kRandomOffset, sizeof m_DeviceRandom);
        CommandSendKey(m_SendKey, m_ProductNum, m_DeviceRandom);
    }
    OnRandomKeyAnswer();
}

const uint8_t* CScreenExchange::OpenAnswer(const CExchangeChannel::Intake& in)
{
    BuildReceiveKey(m_AnswerKey);
    const size_t n = in.length;
    std::fill(m_Plain.begin(), m_Plain.end(), 0);
    m_nPlain = 0;
    if (n == 0 || n % CAESClass::kBlockSize != 0 || n > m_Plain.size()) {
        m_Trace.Label("[복호화 불가 - 응답 무시]");
        return nullptr;
    }
    CAESClass aes;
    aes.MakeKey(m_AnswerKey, kZeroChain, 32, 16);
    aes.Decrypt(in.data, m_Plain.data(), n);
    return m_Plain.data();
}

void CScreenExchange::AnswerTaken(const CExchangeChannel::Intake& in, const uint8_t* /*opened*/)
{
    m_AwaitingSince = 0;
    m_nPlain = in.length;
    OnAnswer(in.header.dataType, m_AnswerKey);
}

bool CScreenExchange::WriteReport(const uint8_t* report)
{
    return m_Device.WriteReport(report, kBiuReportLayout.reportLength) == kHidDone;
}

void CScreenExchange::RequestRandomKey()
{
    m_Channel.Send(
        CExchangeChannel::Awaiting::RandomKeyAnswer,
        [this](uint8_t* message) {
            uint8_t key[32];
            HandshakeSendKey(key, m_ProductNum);
            uint8_t plain[16];
            SealRandomKeyRequest(key, m_AppRandom, plain, message);
            m_AwaitingSince = m_Services.clock->NowMs() + 1;
            return CExchangeChannel::SealedRequest{MessageHead::kSize, CSecureExchange::kRandomKeyCommand};
        },
        [this](size_t, const uint8_t* report) { return WriteReport(report); });
}

void CScreenExchange::SendCommand(const uint8_t key[32], uint8_t plain[16])
{
    m_Channel.Send(
        CExchangeChannel::Awaiting::Answer,
        [&](uint8_t* message) {
            m_pRandom->Draw(m_AppRandom);
            std::memcpy(plain + MessageHead::kRandomOffset, m_AppRandom, sizeof m_AppRandom);
            m_Trace.Labelled("[요청 메시지]", plain, MessageHead::kSize);
            CAESClass aes;
            aes.MakeKey(key, kZeroChain, 32, 16);
            aes.Encrypt(plain, message, MessageHead::kSize);
            m_AwaitingSince = m_Services.clock->NowMs() + 1;
            return CExchangeChannel::SealedRequest{MessageHead::kSize, plain[0]};
        },
        [this](size_t, const uint8_t* report) { return WriteReport(report); });
}

void CScreenExchange::WaitOnUnit()
{
    m_AwaitingSince = m_Services.clock->NowMs() + 1;
}

void CScreenExchange::Box(const char* text, bool appCaption)
{
    if (IsRunning()) m_Window.ShowBox(text, appCaption);
}

void CScreenExchange::BuildReceiveKey(uint8_t key[32])
{
    // The screen's thread sends the retries, the reader thread the rest.
    auto hold = m_Channel.HoldSends();
    CommandReceiveKey(key, m_ProductNum, m_AppRandom, m_DeviceRandom);
}

// ---------------------------------------------------------------- CRegistScan

CRegistScan::CRegistScan(const CHidDeviceRecord& device, const uint8_t productKey[16], ScreenWindow& window,
                         uint8_t user, const int32_t registered[12], int32_t registeredCount)
    : CScreenExchange(device, productKey, window, kAnswerCapacity), m_byUser(user),
      m_nRegisteredCount(registeredCount)
{
    std::memcpy(m_nRegistered, registered, sizeof m_nRegistered);
    m_nRegistered[0] = 0;
    m_nRegistered[11] = 0;
}

void CRegistScan::ComposeScanRequest(uint8_t plain[16], uint8_t kind, uint8_t user, uint8_t finger,
                                     int32_t registeredCount)
{
    std::memset(plain, 0, 16);
    plain[0] = kBiuRegistScan;
    plain[1] = kind;
    plain[2] = user;
    switch (registeredCount) {
    case 0: plain[3] = static_cast<uint8_t>(finger << 4); break;
    case 1: plain[3] = static_cast<uint8_t>(finger & 0x0F); break;
    case 2: plain[4] = static_cast<uint8_t>(finger << 4); break;
    case 3: plain[4] = static_cast<uint8_t>(finger & 0x0F); break;
    default: break;  // four fingers registered: no slot
    }
}

void CRegistScan::SendScan(const uint8_t key[32], uint8_t kind)
{
    uint8_t plain[16];
    ComposeScanRequest(plain, kind, m_byUser, m_byFinger, m_nRegisteredCount);
    SendCommand(key, plain);
}

void CRegistScan::StartFingerRegist(uint8_t finger)
{
    m_byFinger = finger;
    // Scanning from the request on: the reader thread may take the answers
    // (and finish the registration) before this thread goes on.
    m_nStep = 2;
    RequestRandomKey();
}

void CRegistScan::TraceReport(const uint8_t* report, bool randomKeyAnswer)
{
    if (randomKeyAnswer) {
        m_Trace.Label("[수신된 헤더 정보-Get Key]");
    } else {
        if (report[2] == 0 && report[3] == 0) m_Trace.Label("[수신된 헤더 정보---------------]");
        m_Trace.Label("[수신된 헤더 정보] - Regist User");
    }
    m_Trace.PacketHeaderLines(report);
}

void CRegistScan::OnRandomKeyAnswer()
{
    Box("등록 지문을 입력하세요.");
    Pause(kPromptPauseMs);
    m_nFailCount = 0;
    SendScan(m_SendKey, 2);
}

void CRegistScan::OnRetryTimer(unsigned id)
{
    if (!IsRunning()) return;
    const bool first = id == kRepeatFirstTimer;
    uint8_t key[32];
    BuildReceiveKey(key);
    char text[96];
    std::snprintf(text, sizeof text, first ? "등록 지문을 입력하세요.(%d)회 실패" : "확인 지문을 입력하세요.(%d)회 실패",
                  m_nFailCount.load());
    Box(text);
    Pause(kPromptPauseMs);
    SendScan(key, first ? 2 : 3);
}

int CRegistScan::OnCommandAnswer()
{
    const int phase = m_nPhase;
    const uint8_t status = m_Plain[1];
    static const char* const kFailures[] = {
        "지문 입력이 실패하였습니다.지문을 다시 입력하세요.",
        "비인증키 암호화.",
        "지문 입력 시간이 초과 하였습니다.지문을 다시 입력하세요.",
    };
    for (int bit = 0; bit < 3; ++bit) {
        if (!(status & (1 << bit))) continue;
        if (++m_nFailCount > 3) {
            m_Window.ShowBox("지문 입력이 3회 실패 하였습니다. 다시 시도 하세요.");
            StopRunning();
            m_bClosed = true;
            m_Window.CloseScreen();
        } else {
            Box(kFailures[bit]);
        }
        return phase == 0 ? 2 : 0;
    }

    // A scanned image: width, height, format, then the pixels from byte 24.
    constexpr size_t kPixelsAt = 24;
    const int width = m_nPlain >= 20 ? BigEndian16(&m_Plain[18]) : 0;
    const int height = m_nPlain >= 22 ? BigEndian16(&m_Plain[20]) : 0;
    const size_t available = m_nPlain > kPixelsAt ? m_nPlain - kPixelsAt : 0;
    if (phase == 0) {
        const bool oneBit = m_Plain[22] == 0;
        m_Window.ShowScanImage(false, DecodeScanImage(&m_Plain[kPixelsAt], available, width, height, oneBit,
                                                      kAnswerCapacity));
        return 1;
    }
    m_Window.ShowScanImage(true, DecodeScanImage(&m_Plain[kPixelsAt], available, width, height, false,
                                                 kAnswerCapacity));
    if (m_nStep == 2) {
        m_nStep = 3;
        m_Window.FinishRegistration();
    } else if (m_nStep == 3) {
        StopRunning();
        m_bClosed = true;
        m_Window.CloseScreen();
    }
    m_Window.Repaint();
    return 1;
}

void CRegistScan::OnAnswer(uint8_t dataType, const uint8_t key[32])
{
    m_Trace.Label("[Return 되는 처리 결과]");
    m_Trace.HeadLines(m_Plain.data());
    const int r = OnCommandAnswer();
    if (m_bClosed || !IsRunning()) return;  // after the screen closed, nothing follows

    const int phase = m_nPhase;
    if (dataType == HidPacketHeader::kFollowingReport) {
        // An answer of several reports.
        if (phase == 0 && r == 1) {
            Box("확인 지문을 입력하세요.");
            Pause(kPromptPauseMs);
            SendScan(key, 3);  // under the answer's key
            m_nPhase = 1;
            m_nFailCount = 0;
        } else if (phase == 0 && r == 2) {
            m_Window.StartRetryTimer(kRepeatFirstTimer, kRetryDelayMs);
        } else if (phase == 1 && r == 1) {
            m_nPhase = 0;
        } else if (phase == 1 && r == 0) {
            if (++m_nRetryCount <= 3) {
                Box("확인 지문을 다시 입력하세요.");
                Pause(kPromptPauseMs);
                m_Window.StartRetryTimer(kRepeatConfirmationTimer, kRetryDelayMs);
            }
        }
        return;
    }
    // An answer in one report.
    switch (r) {
    case 0:
        Pause(kPromptPauseMs);
        m_Window.StartRetryTimer(kRepeatConfirmationTimer, kRetryDelayMs);
        break;
    case 2:
        m_Window.StartRetryTimer(kRepeatFirstTimer, kRetryDelayMs);
        m_nPhase = 0;
        break;
    default:
        // An image: back to the first scan's phase, and nothing is sent. The
        // screen waits on for the unit, so that its silence still shows.
        m_nPhase = 0;
        WaitOnUnit();
        break;
    }
}

// ---------------------------------------------------------------- CVerifyScan

CVerifyScan::CVerifyScan(const CHidDeviceRecord& device, const uint8_t productKey[16], ScreenWindow& window,
                         int8_t regId)
    : CScreenExchange(device, productKey, window, kAnswerCapacity), m_byRegId(regId)
{
}

void CVerifyScan::ComposeVerifyRequest(uint8_t plain[16], int8_t regId)
{
    std::memset(plain, 0, 16);
    if (regId >= 1 && regId <= 4) {
        plain[0] = kBiuVerifyUser;
        plain[2] = static_cast<uint8_t>(regId);
    } else {
        plain[0] = kBiuVerifyAll;
    }
}

void CVerifyScan::OnPromptTimer()
{
    Box("검증 할 지문을 입력하세요.");
    Pause(kPromptPauseMs);
    RequestRandomKey();
}

void CVerifyScan::OnRandomKeyAnswer()
{
    if (m_byRegId < 1 || m_byRegId > 4) m_byRegId = 0;
    if (m_byRegId != 0) {
        char text[64];
        std::snprintf(text, sizeof text, "등록ID [%02x]번 감면자 본인 확인 절차", static_cast<unsigned>(m_byRegId));
        Box(text, true);
    }
    uint8_t plain[16];
    ComposeVerifyRequest(plain, m_byRegId);
    SendCommand(m_SendKey, plain);
}

void CVerifyScan::OnAnswer(uint8_t /*dataType*/, const uint8_t* /*key*/)
{
    if (m_Plain[1] & 1) {
        Box("본인 인증에 실패하였습니다!", true);
        return;
    }
    char text[64];
    std::snprintf(text, sizeof text, "등록ID : [%d]로 등록된 지문입니다.", m_Plain[2]);
    Box(text);
}
