// The fingerprint screens' exchange with the unit: what the registration
// screen (CMainPage) and the verification screen (CVerify) do on the wire and
// decide from the unit's answers, apart from their windows.
//
// Each screen has its own reader thread on a copy of the controller's device
// record (100 ms reads and writes), the random-key handshake of the unit
// (fixed handshake AppRandom, the session keys of obulink/session_key.h), and
// 16-byte requests that each carry a fresh AppRandom. The reader thread and
// what it takes are those of every exchange (CExchangeChannel): a report only
// while a request is outstanding, the random-key answer only to the random-key
// request, and an answer only when its command byte is the request's. A
// report that comes before the screen has asked anything, or between an
// answer and the next request, is dropped. Unlike the unit's
// transactions, a screen sends several requests in one session: every request
// after the first goes under the key of the answer before it (the command
// receive key), and the screen decides after each answer what comes next.
//
// What the screens show goes through ScreenWindow, which the windows implement
// (and tests record): message boxes (shown from the thread that decides them,
// the reader thread mostly, with the screen as owner), the retry timers, the
// scanned images, the end of a registration and the end of the screen. A
// screen's end never waits for an operator: it clears the run flag, then
// closes the boxes its reader shows until the reader has ended.
//
// Bounds: answers are gathered into a buffer of a fixed capacity (90000 bytes
// for a scan, 1024 for a verdict) and a longer one is dropped; only whole
// 16-byte blocks are decrypted; an image is decoded only from the pixels that
// came, the rest of it black, and never larger than what the answer can hold.
#pragma once

#include <atomic>
#include <cstddef>
#include <cstdint>
#include <vector>

#include "obulink/exchange_channel.h"
#include "obulink/exchange_trace.h"
#include "obulink/exchange_wait.h"
#include "obulink/hid_device.h"
#include "obulink/hid_packet.h"
#include "obulink/session_key.h"

// A scanned image as the screens draw it: width x height pixels, 0x00RRGGBB,
// rows from the top.
struct ScanImage {
    int width = 0;
    int height = 0;
    std::vector<uint32_t> pixels;
};

// Decodes `available` pixel bytes of an image of `width` x `height`. One bit a
// pixel (`oneBit`): rows of width / 8 bytes, the pixel's byte at row start +
// x / 8, its bit x mod 8 from the lowest; a set bit is grey 0x7F7F7F, a clear
// one black. Otherwise one byte a pixel, value v grey v. Bytes past
// `available` read as 0; the height is cut so that the image holds no more
// than 8 pixels per byte of `capacity`.
ScanImage DecodeScanImage(const uint8_t* bytes, size_t available, int width, int height, bool oneBit,
                          size_t capacity);

class ScreenWindow {
public:
    virtual ~ScreenWindow() = default;
    // An OK box owned by the screen; returns when the operator has closed it.
    // `appCaption`: captioned with the application's name instead of "확인".
    virtual void ShowBox(const char* text, bool appCaption = false) = 0;
    // Starts timer `id` (1001, 1002) to fire once after `ms`.
    virtual void StartRetryTimer(unsigned id, unsigned ms) = 0;
    // Draws the first (`confirmation` false) or the second scanned image.
    virtual void ShowScanImage(bool confirmation, const ScanImage& image) = 0;
    // Step 3 of the registration: the success page and the done button.
    virtual void FinishRegistration() = 0;
    // Ends the screen as OK.
    virtual void CloseScreen() = 0;
    // Repaints the whole screen without erasing.
    virtual void Repaint() = 0;
    // Closes the boxes that threads other than the calling one show (as OK),
    // so that a screen's reader that sits in one, or is about to show one,
    // goes on and ends; asked again and again while the screen waits for it.
    virtual void CloseReaderBoxes() = 0;
};

class CScreenExchange : private CExchangeChannel::Receiver {
public:
    virtual ~CScreenExchange();
    CScreenExchange(const CScreenExchange&) = delete;
    CScreenExchange& operator=(const CScreenExchange&) = delete;

    // Start-up: the fixed handshake AppRandom and send key, 100 ms reads and
    // writes, the input reports waiting on the handle dropped, the reader
    // thread. False when the thread cannot start.
    bool StartReading();
    // Clears the run flag: the reader leaves within one read time-out and
    // nothing more is shown or sent.
    void StopRunning() { m_Channel.StopRunning(); }
    bool IsRunning() const { return m_Channel.IsRunning(); }
    // Clears the run flag and waits for the reader thread, closing the boxes
    // it shows (the window's CloseReaderBoxes) until it has ended: within a
    // read time-out and a pause after its box has closed.
    void Join();

    // How long the screen has waited for the unit since its last request
    // (0 when it waits for nothing).
    uint64_t SilentForMs() const;

    void SetServices(const ExchangeServices& services) { m_Services = services; }
    void SetRandomSource(AppRandomSource& source) { m_pRandom = &source; }

    // The reader thread's handling of one input report (tests drive it too).
    void OnReceive(const uint8_t* report, size_t bytesRead);

    static constexpr uint32_t kIoTimeoutMs = 100;
    static constexpr uint32_t kPromptPauseMs = 500;

protected:
    CScreenExchange(const CHidDeviceRecord& device, const uint8_t productKey[16], ScreenWindow& window,
                    size_t answerCapacity);

    // Sends the random-key request under the handshake send key.
    void RequestRandomKey();
    // Sends a 16-byte request (`plain` bytes 0-7; 8-15 get a fresh AppRandom)
    // under `key`, unless the screen has stopped.
    void SendCommand(const uint8_t key[32], uint8_t plain[16]);
    // Restarts the silence watch with no request sent.
    void WaitOnUnit();
    // A box, unless the screen has stopped.
    void Box(const char* text, bool appCaption = false);
    // The command receive key: product key, current AppRandom, DeviceRandom,
    // read under the send lock (a request being made changes the AppRandom).
    void BuildReceiveKey(uint8_t key[32]);
    // A pause before a request; none once the screen has stopped (nothing
    // is sent any more).
    void Pause(uint32_t ms)
    {
        if (IsRunning()) m_Services.clock->SleepMs(ms);
    }

    // After the DeviceRandom is known; m_SendKey holds the command send key.
    virtual void OnRandomKeyAnswer() = 0;
    // The answer to the request, decrypted into m_Plain (m_nPlain bytes)
    // under `key`, the command receive key; `dataType` is its last report's.
    virtual void OnAnswer(uint8_t dataType, const uint8_t key[32]) = 0;
    // Trace of each report taken (label before the header lines).
    virtual void TraceReport(const uint8_t* report, bool randomKeyAnswer);

    ScreenWindow& m_Window;
    ExchangeTrace m_Trace{"", "[%02x]"};
    ExchangeServices m_Services;
    AppRandomSource* m_pRandom;
    CHidDeviceRecord m_Device;
    uint8_t m_ProductNum[16] = {};
    uint8_t m_AppRandom[8] = {};
    uint8_t m_DeviceRandom[8] = {};
    uint8_t m_SendKey[32] = {};
    std::vector<uint8_t> m_Plain;  // the decrypted answer
    size_t m_nPlain = 0;
    CExchangeChannel m_Channel;

private:
    // Writes one report of a request.
    bool WriteReport(const uint8_t* report);

    // What the channel hands over (CExchangeChannel::Receiver).
    void ReportSeen(const uint8_t* report, const CExchangeChannel::Intake& in) override;
    void RandomKeyAnswerTaken(const CExchangeChannel::Intake& in) override;
    void MalformedAnswer(const CExchangeChannel::Intake& in) override;
    const uint8_t* OpenAnswer(const CExchangeChannel::Intake& in) override;
    void AnswerTaken(const CExchangeChannel::Intake& in, const uint8_t* opened) override;

    uint8_t m_AnswerKey[32] = {};  // the key of the answer being taken
    std::atomic<uint64_t> m_AwaitingSince{0};
};

// The registration screen's exchange (CMainPage): command 0x21, a first scan
// and a confirmation scan of one finger.
class CRegistScan : public CScreenExchange {
public:
    static constexpr size_t kAnswerCapacity = 90000;

    CRegistScan(const CHidDeviceRecord& device, const uint8_t productKey[16], ScreenWindow& window,
                uint8_t user, const int32_t registered[12], int32_t registeredCount);
    // The reader ends before this part goes: it calls into it.
    ~CRegistScan() override { Join(); }

    bool IsRegistered(int finger) const { return finger >= 1 && finger <= 10 && m_nRegistered[finger] == 1; }
    // Step 1 to 2 with the chosen finger: the handshake of the scans.
    void StartFingerRegist(uint8_t finger);
    // Step 2 to 3 (the window has shown the success page).
    void SetStep(int step) { m_nStep = step; }
    int Step() const { return m_nStep; }
    // Timers 1001 (repeat the first scan) and 1002 (repeat the confirmation).
    void OnRetryTimer(unsigned id);

    // The 16-byte request of a scan: kind 2 first, 3 confirmation.
    static void ComposeScanRequest(uint8_t plain[16], uint8_t kind, uint8_t user, uint8_t finger,
                                   int32_t registeredCount);

    static constexpr unsigned kRepeatFirstTimer = 1001;
    static constexpr unsigned kRepeatConfirmationTimer = 1002;
    static constexpr unsigned kRetryDelayMs = 500;

    int FailCount() const { return m_nFailCount; }
    int Phase() const { return m_nPhase; }

protected:
    void OnRandomKeyAnswer() override;
    void OnAnswer(uint8_t dataType, const uint8_t key[32]) override;
    void TraceReport(const uint8_t* report, bool randomKeyAnswer) override;

private:
    // 0 a failed confirmation, 1 an image, 2 a failed first scan.
    int OnCommandAnswer();
    void SendScan(const uint8_t key[32], uint8_t kind);

    uint8_t m_byUser;
    int32_t m_nRegistered[12] = {};
    int32_t m_nRegisteredCount;
    std::atomic<int> m_nStep{1};
    uint8_t m_byFinger = 0;
    std::atomic<int> m_nPhase{0};
    std::atomic<int> m_nFailCount{0};
    int m_nRetryCount = 0;
    bool m_bClosed = false;
};

// The verification screen's exchange (CVerify): command 0x23 (one
// registration) or 0x24 (all), one verdict.
class CVerifyScan : public CScreenExchange {
public:
    static constexpr size_t kAnswerCapacity = 1024;

    CVerifyScan(const CHidDeviceRecord& device, const uint8_t productKey[16], ScreenWindow& window, int8_t regId);
    // The reader ends before this part goes: it calls into it.
    ~CVerifyScan() override { Join(); }

    // Timer 1000 (once): the prompt, then the handshake.
    void OnPromptTimer();

    static void ComposeVerifyRequest(uint8_t plain[16], int8_t regId);

protected:
    void OnRandomKeyAnswer() override;
    void OnAnswer(uint8_t dataType, const uint8_t key[32]) override;

private:
    int8_t m_byRegId;
};
