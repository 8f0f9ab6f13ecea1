// The fingerprint screens' exchanges against the fingerprint-unit simulator,
// with a recording window in place of the screens: the requests byte for
// byte, the chained keys, the boxes, timers and images of a registration and
// a verification, the failure kinds and the stop after the fourth failure,
// and answers too long or broken for the screen.
#include <gtest/gtest.h>

#include <condition_variable>
#include <cstring>
#include <functional>
#include <memory>
#include <mutex>
#include <string>
#include <thread>
#include <vector>

#include "biometric/screen_exchange.h"
#include "framework/clock.h"
#include "tests/obulink/test_transaction.h"
#include "tests/sim/biu_simulator.h"
#include "tests/sim/obu_simulator.h"
#include "tests/sim/reference_aes.h"
#include "tests/sim/sim_hid_platform.h"

namespace {

const uint8_t kProduct[16] = {0x3C, 0x11, 0x22, 0x33, 0x44, 0x55, 0x66, 0x77,
                              0x88, 0x99, 0xAA, 0xBB, 0xCC, 0xDD, 0xEE, 0xF0};
const uint8_t kRandomA[8] = {0x90, 0x81, 0x72, 0x63, 0x54, 0x45, 0x36, 0xFE};
const uint8_t kRandomB[8] = {0x01, 0x02, 0x03, 0x04, 0x05, 0x06, 0x07, 0x08};

class FastClock : public ExchangeClock {
public:
    uint64_t NowMs() override { return corvane::MonotonicMs(); }
    void SleepMs(uint32_t) override {}
};

// What a screen window would have shown, in order, as one text each:
// "box:<text>", "app:<text>" (captioned with the application's name),
// "timer:<id>", "image1:<w>x<h>", "image2:<w>x<h>", "finish", "close".
class RecordingWindow : public ScreenWindow {
public:
    void ShowBox(const char* text, bool appCaption) override { Add(std::string(appCaption ? "app:" : "box:") + text); }
    void StartRetryTimer(unsigned id, unsigned) override { Add("timer:" + std::to_string(id)); }
    void ShowScanImage(bool confirmation, const ScanImage& image) override
    {
        images.push_back(image);
        Add(std::string(confirmation ? "image2:" : "image1:") + std::to_string(image.width) + "x" +
            std::to_string(image.height));
    }
    void FinishRegistration() override { Add("finish"); }
    void CloseScreen() override { Add("close"); }
    void Repaint() override {}
    void CloseReaderBoxes() override {}  // the boxes return at once

    // Waits until `count` events have come (or 5 s have passed).
    std::vector<std::string> WaitFor(size_t count)
    {
        for (int i = 0; i < 500 && Events().size() < count; ++i) corvane::SleepMs(10);
        return Events();
    }
    std::vector<std::string> Events()
    {
        std::lock_guard<std::mutex> hold(m_lock);
        return m_events;
    }
    std::vector<ScanImage> images;

private:
    void Add(std::string event)
    {
        std::lock_guard<std::mutex> hold(m_lock);
        m_events.push_back(std::move(event));
    }
    std::mutex m_lock;
    std::vector<std::string> m_events;
};

class ScreenExchanges : public ::testing::Test {
protected:
    void SetUp() override
    {
        unit.PlugInto(sim);
        ASSERT_EQ(record.OpenDevice(0), kHidDone);
    }
    void TearDown() override { record.CloseHandleAndReset(); }

    template <class Exchange>
    void Prepare(Exchange& exchange)
    {
        exchange.SetServices({&clock, &SystemMessagePump()});
        exchange.SetRandomSource(random);
        ASSERT_TRUE(exchange.StartReading());
    }
    // A registration of finger 1 that shows its first prompt and, with nothing
    // more taken from the unit, waits on it.
    void ExpectOnlyTheFirstPrompt(CRegistScan& scan, RecordingWindow& window)
    {
        Prepare(scan);
        scan.StartFingerRegist(1);
        window.WaitFor(1);
        corvane::SleepMs(300);
        EXPECT_EQ(window.Events(), (std::vector<std::string>{"box:등록 지문을 입력하세요."}));
        EXPECT_GT(scan.SilentForMs(), 0u);
    }
    std::vector<std::vector<uint8_t>> Commands() const
    {
        std::vector<std::vector<uint8_t>> commands;
        for (const auto& m : unit.Observed().messages)
            if (m[0] != 0x10) commands.push_back(m);
        return commands;
    }

    SimHidPlatform sim;
    ScopedHidPlatform active{sim};
    FastClock clock;
    FixedRandom random{{kRandomA, kRandomB}};
    BiuSimulator unit{kProduct};
    CBIUHIDDevice record;
    RecordingWindow window;
};

TEST(ScanRequest, FingerTakesTheSlotOfTheRegisteredCount)
{
    uint8_t plain[16];
    auto bytes34 = [&](int32_t count, uint8_t finger) {
        CRegistScan::ComposeScanRequest(plain, 2, 3, finger, count);
        return std::vector<uint8_t>{plain[3], plain[4]};
    };
    EXPECT_EQ(bytes34(0, 10), (std::vector<uint8_t>{0xA0, 0x00}));
    EXPECT_EQ(bytes34(1, 7), (std::vector<uint8_t>{0x07, 0x00}));
    EXPECT_EQ(bytes34(2, 5), (std::vector<uint8_t>{0x00, 0x50}));
    EXPECT_EQ(bytes34(3, 3), (std::vector<uint8_t>{0x00, 0x03}));
    EXPECT_EQ(bytes34(4, 9), (std::vector<uint8_t>{0x00, 0x00}));
    CRegistScan::ComposeScanRequest(plain, 3, 2, 1, 0);
    EXPECT_EQ(std::vector<uint8_t>(plain, plain + 8), (std::vector<uint8_t>{0x21, 3, 2, 0x10, 0, 0, 0, 0}));
}

TEST(ScanImageDecoding, OneBitRowsAreWidthOverEightBytesAndNothingIsReadPastTheAnswer)
{
    // Width 10: rows of one byte; pixels 8 and 9 of a row read the next row's byte.
    const uint8_t bits[] = {0x01, 0x03};
    ScanImage image = DecodeScanImage(bits, sizeof bits, 10, 2, true, 100);
    ASSERT_EQ(image.pixels.size(), 20u);
    EXPECT_EQ(image.pixels[0], 0x7F7F7Fu);
    EXPECT_EQ(image.pixels[1], 0u);
    EXPECT_EQ(image.pixels[8], 0x7F7F7Fu);   // bit 0 of the second row's byte
    EXPECT_EQ(image.pixels[9], 0x7F7F7Fu);   // bit 1 of it
    EXPECT_EQ(image.pixels[18], 0u);         // past the answer: black
    const uint8_t grey[] = {0x10, 0xFF};
    image = DecodeScanImage(grey, sizeof grey, 2, 3, false, 100);
    EXPECT_EQ(image.pixels[0], 0x101010u);
    EXPECT_EQ(image.pixels[1], 0xFFFFFFu);
    EXPECT_EQ(image.pixels[5], 0u);
    // An image larger than any answer is cut to what one could hold.
    image = DecodeScanImage(grey, sizeof grey, 65535, 65535, false, 90000);
    EXPECT_LE(image.pixels.size(), 720000u);
    EXPECT_EQ(DecodeScanImage(grey, 2, 0, 5, false, 100).pixels.size(), 0u);
}

TEST_F(ScreenExchanges, RegistrationScansFirstAndConfirmationAndFinishes)
{
    const int32_t registered[12] = {0, 1, 0, 1};
    unit.scans.push_back(BiuSimulator::OneBitScan(64, 48));
    unit.scans.push_back(BiuSimulator::EightBitScan(40, 50));
    CRegistScan scan(record, kProduct, window, 2, registered, 2);
    // A report an earlier exchange left on the handle is no answer of this screen.
    sim.QueueInput(0, BiuSimulator::Frame(std::vector<uint8_t>(16, 0x5A))[0]);
    Prepare(scan);
    EXPECT_TRUE(scan.IsRegistered(3));
    EXPECT_FALSE(scan.IsRegistered(5));
    scan.StartFingerRegist(5);
    EXPECT_EQ(scan.Step(), 2);
    const auto events = window.WaitFor(5);
    EXPECT_EQ(events, (std::vector<std::string>{"box:등록 지문을 입력하세요.", "image1:64x48",
                                                "box:확인 지문을 입력하세요.", "image2:40x50", "finish"}));
    EXPECT_EQ(scan.Step(), 3);
    EXPECT_EQ(scan.Phase(), 0);
    // The first image in grey and black stripes, the second in grey levels.
    EXPECT_EQ(window.images[0].pixels[1], 0x7F7F7Fu);
    EXPECT_EQ(window.images[0].pixels[0], 0u);
    EXPECT_EQ(window.images[1].pixels[1], 0x070707u);

    const auto commands = Commands();
    ASSERT_EQ(commands.size(), 2u);
    EXPECT_EQ(std::vector<uint8_t>(commands[0].begin(), commands[0].begin() + 16),
              (std::vector<uint8_t>{0x21, 2, 2, 0x00, 0x50, 0, 0, 0, 0x90, 0x81, 0x72, 0x63, 0x54, 0x45, 0x36, 0xFE}));
    EXPECT_EQ(std::vector<uint8_t>(commands[1].begin(), commands[1].begin() + 16),
              (std::vector<uint8_t>{0x21, 3, 2, 0x00, 0x50, 0, 0, 0, 1, 2, 3, 4, 5, 6, 7, 8}));
    const auto seen = unit.Observed();
    ASSERT_EQ(seen.commandKeys.size(), 2u);
    EXPECT_EQ(seen.commandKeys[0], BiuSimulator::KeyUsed::CommandSendKey);
    EXPECT_EQ(seen.commandKeys[1], BiuSimulator::KeyUsed::ChainedKey);
    // The handshake request: one report, 00 then 01 00 00 00 00 10 10 00.
    const auto written = sim.Written(0);
    ASSERT_EQ(written.size(), 3u);
    EXPECT_EQ(std::vector<uint8_t>(written[0].begin(), written[0].begin() + 9),
              (std::vector<uint8_t>{0, 1, 0, 0, 0, 0, 0x10, 0x10, 0}));
    EXPECT_EQ(written[0].size(), 65u);
    EXPECT_EQ(scan.SilentForMs(), 0u);
}

TEST_F(ScreenExchanges, ThreeFailureKindsAreToldAndTheFourthFailureClosesTheScreen)
{
    const int32_t none[12] = {};
    for (uint8_t status : {1, 6, 4, 7}) unit.scans.push_back(BiuSimulator::FailedScan(status));
    CRegistScan scan(record, kProduct, window, 1, none, 0);
    Prepare(scan);
    scan.StartFingerRegist(10);
    size_t expected = 3;  // prompt, failure box, timer
    for (int retry = 1; retry <= 3; ++retry) {
        auto events = window.WaitFor(expected);
        ASSERT_EQ(events.size(), expected);
        ASSERT_EQ(events.back(), "timer:1001");
        scan.OnRetryTimer(CRegistScan::kRepeatFirstTimer);  // the screen's thread
        expected += 3;  // the retry prompt, the next failure box, the timer
    }
    const auto events = window.WaitFor(expected);
    EXPECT_EQ(events, (std::vector<std::string>{
                          "box:등록 지문을 입력하세요.",
                          "box:지문 입력이 실패하였습니다.지문을 다시 입력하세요.", "timer:1001",
                          "box:등록 지문을 입력하세요.(1)회 실패", "box:비인증키 암호화.", "timer:1001",
                          "box:등록 지문을 입력하세요.(2)회 실패",
                          "box:지문 입력 시간이 초과 하였습니다.지문을 다시 입력하세요.", "timer:1001",
                          "box:등록 지문을 입력하세요.(3)회 실패",
                          "box:지문 입력이 3회 실패 하였습니다. 다시 시도 하세요.", "close"}));
    EXPECT_FALSE(scan.IsRunning());
    // Every request was a first scan of finger 10 in slot 0.
    for (const auto& c : Commands()) EXPECT_EQ(std::vector<uint8_t>(c.begin(), c.begin() + 5),
                                               (std::vector<uint8_t>{0x21, 2, 1, 0xA0, 0}));
    // Nothing follows the close: no timer, no request.
    scan.OnRetryTimer(CRegistScan::kRepeatFirstTimer);
    EXPECT_EQ(Commands().size(), 4u);
}

TEST_F(ScreenExchanges, AFailedConfirmationIsAskedAgain)
{
    const int32_t none[12] = {};
    unit.scans.push_back(BiuSimulator::EightBitScan(32, 40));
    unit.scans.push_back(BiuSimulator::FailedScan(4));
    unit.scans.push_back(BiuSimulator::EightBitScan(32, 40));
    CRegistScan scan(record, kProduct, window, 1, none, 1);
    Prepare(scan);
    scan.StartFingerRegist(6);
    auto events = window.WaitFor(5);
    ASSERT_EQ(events.back(), "timer:1002");
    scan.OnRetryTimer(CRegistScan::kRepeatConfirmationTimer);
    events = window.WaitFor(8);
    EXPECT_EQ(std::vector<std::string>(events.begin() + 3, events.end()),
              (std::vector<std::string>{"box:지문 입력 시간이 초과 하였습니다.지문을 다시 입력하세요.", "timer:1002",
                                        "box:확인 지문을 입력하세요.(1)회 실패", "image2:32x40", "finish"}));
    const auto commands = Commands();
    ASSERT_EQ(commands.size(), 3u);
    EXPECT_EQ(commands[2][1], 3);  // the confirmation again
    EXPECT_EQ(commands[2][3], 0x06);
}

// A failed scan's answer (16 bytes) in two reports of 8 bytes, Data Type 1
// then 2; every other answer as the unit frames it (images run over many
// reports, the last of Data Type 2).
std::vector<SimReport> FailuresInTwoReports(uint8_t, const std::vector<uint8_t>& sealed)
{
    return BiuSimulator::Frame(sealed, sealed.size() == 16 ? std::vector<size_t>{8, 8} : std::vector<size_t>{});
}

TEST_F(ScreenExchanges, AnImageInOneReportOnlyReturnsToTheFirstScan)
{
    const int32_t none[12] = {};
    unit.scans.push_back(BiuSimulator::EightBitScan(4, 4));  // 40 bytes: one report, Data Type 1
    CRegistScan scan(record, kProduct, window, 1, none, 0);
    Prepare(scan);
    scan.StartFingerRegist(2);
    window.WaitFor(2);
    corvane::SleepMs(300);
    // Drawn, and nothing more: no prompt, no confirmation request.
    EXPECT_EQ(window.Events(), (std::vector<std::string>{"box:등록 지문을 입력하세요.", "image1:4x4"}));
    EXPECT_EQ(Commands().size(), 1u);
    EXPECT_EQ(scan.Phase(), 0);
    EXPECT_EQ(scan.Step(), 2);
    EXPECT_GT(scan.SilentForMs(), 0u);  // the screen waits on for the unit
}

TEST_F(ScreenExchanges, AFirstScanFailureInSeveralReportsRepeatsTheFirstScan)
{
    const int32_t none[12] = {};
    unit.rawAnswer = FailuresInTwoReports;
    unit.scans.push_back(BiuSimulator::FailedScan(2));
    CRegistScan scan(record, kProduct, window, 1, none, 0);
    Prepare(scan);
    scan.StartFingerRegist(4);
    auto events = window.WaitFor(3);
    EXPECT_EQ(events, (std::vector<std::string>{"box:등록 지문을 입력하세요.", "box:비인증키 암호화.", "timer:1001"}));
    EXPECT_EQ(scan.Phase(), 0);
    EXPECT_EQ(scan.FailCount(), 1);
    scan.OnRetryTimer(CRegistScan::kRepeatFirstTimer);
    events = window.WaitFor(8);
    EXPECT_EQ(std::vector<std::string>(events.begin() + 3, events.end()),
              (std::vector<std::string>{"box:등록 지문을 입력하세요.(1)회 실패", "image1:32x40",
                                        "box:확인 지문을 입력하세요.", "image2:32x40", "finish"}));
    std::vector<uint8_t> kinds;
    for (const auto& c : Commands()) kinds.push_back(c[1]);
    EXPECT_EQ(kinds, (std::vector<uint8_t>{2, 2, 3}));
}

// Confirmation failures in several reports ask for the confirmation again,
// three times in a screen's life: the retry count is never reset, not even by
// a registration that went through. (The screen's timers are driven here as
// its thread would run them; after the first registration a first-scan timer
// starts a second one, so that a fourth confirmation failure comes before a
// fourth failure in a row would close the screen.)
TEST_F(ScreenExchanges, ConfirmationFailuresInSeveralReportsAreAskedAgainThreeTimesAtMost)
{
    const int32_t none[12] = {};
    unit.rawAnswer = FailuresInTwoReports;
    for (const BiuSimulator::Scan& s :
         {BiuSimulator::EightBitScan(32, 40), BiuSimulator::FailedScan(1), BiuSimulator::EightBitScan(32, 40),
          BiuSimulator::EightBitScan(32, 40), BiuSimulator::FailedScan(4), BiuSimulator::FailedScan(1),
          BiuSimulator::FailedScan(4)})
        unit.scans.push_back(s);
    CRegistScan scan(record, kProduct, window, 1, none, 0);
    Prepare(scan);
    scan.StartFingerRegist(7);
    const std::vector<std::string> failed = {
        "box:지문 입력이 실패하였습니다.지문을 다시 입력하세요.", "box:확인 지문을 다시 입력하세요.", "timer:1002"};
    const std::vector<std::string> timedOut = {
        "box:지문 입력 시간이 초과 하였습니다.지문을 다시 입력하세요.", "box:확인 지문을 다시 입력하세요.", "timer:1002"};
    std::vector<std::string> expected = {"box:등록 지문을 입력하세요.", "image1:32x40", "box:확인 지문을 입력하세요."};
    expected.insert(expected.end(), failed.begin(), failed.end());
    ASSERT_EQ(window.WaitFor(expected.size()), expected);  // retry 1
    EXPECT_EQ(scan.Phase(), 1);

    scan.OnRetryTimer(CRegistScan::kRepeatConfirmationTimer);
    for (const char* e : {"box:확인 지문을 입력하세요.(1)회 실패", "image2:32x40", "finish"}) expected.push_back(e);
    ASSERT_EQ(window.WaitFor(expected.size()), expected);
    for (int i = 0; i < 100 && scan.Phase() != 0; ++i) corvane::SleepMs(10);  // set after "finish"
    EXPECT_EQ(scan.Phase(), 0);
    EXPECT_EQ(scan.Step(), 3);

    scan.OnRetryTimer(CRegistScan::kRepeatFirstTimer);
    for (const char* e : {"box:등록 지문을 입력하세요.(1)회 실패", "image1:32x40", "box:확인 지문을 입력하세요."})
        expected.push_back(e);
    expected.insert(expected.end(), timedOut.begin(), timedOut.end());  // retry 2
    ASSERT_EQ(window.WaitFor(expected.size()), expected);

    scan.OnRetryTimer(CRegistScan::kRepeatConfirmationTimer);
    expected.push_back("box:확인 지문을 입력하세요.(1)회 실패");
    expected.insert(expected.end(), failed.begin(), failed.end());  // retry 3
    ASSERT_EQ(window.WaitFor(expected.size()), expected);

    scan.OnRetryTimer(CRegistScan::kRepeatConfirmationTimer);
    expected.push_back("box:확인 지문을 입력하세요.(2)회 실패");
    expected.push_back(timedOut[0]);  // retry 4: the failure is told, nothing more
    window.WaitFor(expected.size());
    corvane::SleepMs(300);
    EXPECT_EQ(window.Events(), expected);
    EXPECT_TRUE(scan.IsRunning());
    std::vector<uint8_t> kinds;
    for (const auto& c : Commands()) kinds.push_back(c[1]);
    EXPECT_EQ(kinds, (std::vector<uint8_t>{2, 3, 3, 2, 3, 3, 3}));
}

TEST_F(ScreenExchanges, AnAnswerLongerThanTheScreenHoldsIsDroppedAndTheSilenceShows)
{
    const int32_t none[12] = {};
    unit.rawAnswer = [](uint8_t, const std::vector<uint8_t>&) {
        std::vector<SimReport> reports;
        for (uint16_t i = 0; i < 3; ++i) {
            SimReport r(65, 0x5A);
            r[0] = 0; r[1] = i ? 2 : 1; r[2] = 0; r[3] = uint8_t(i);
            r[4] = 0x01; r[5] = 0x86; r[6] = 0xA0;  // 100000 bytes announced
            r[7] = 56; r[8] = 0;
            reports.push_back(r);
        }
        return reports;
    };
    CRegistScan scan(record, kProduct, window, 1, none, 0);
    ExpectOnlyTheFirstPrompt(scan, window);
}

TEST_F(ScreenExchanges, VerificationOfOneRegistrationTellsTheMatch)
{
    unit.verdicts.push_back({0, 3});
    CVerifyScan verify(record, kProduct, window, 3);
    Prepare(verify);
    verify.OnPromptTimer();
    EXPECT_EQ(window.WaitFor(3), (std::vector<std::string>{"box:검증 할 지문을 입력하세요.",
                                                           "app:등록ID [03]번 감면자 본인 확인 절차",
                                                           "box:등록ID : [3]로 등록된 지문입니다."}));
    const auto commands = Commands();
    ASSERT_EQ(commands.size(), 1u);
    EXPECT_EQ(std::vector<uint8_t>(commands[0].begin(), commands[0].begin() + 8),
              (std::vector<uint8_t>{0x23, 0, 3, 0, 0, 0, 0, 0}));
}

TEST_F(ScreenExchanges, AReportThatComesBeforeTheScreenAskedAnythingIsNotItsAnswer)
{
    // A late answer of one report comes once the screen is up, before the
    // operator chose a finger (registration) or the prompt (verification).
    const SimReport late = BiuSimulator::Frame(std::vector<uint8_t>(16, 0x5A))[0];
    {
        const int32_t none[12] = {};
        CRegistScan scan(record, kProduct, window, 2, none, 0);
        Prepare(scan);
        sim.QueueInput(0, late, 30);
        corvane::SleepMs(300);
        EXPECT_EQ(window.Events(), std::vector<std::string>{});
        EXPECT_EQ(sim.Written(0).size(), 0u);
        scan.StartFingerRegist(5);
        EXPECT_EQ(window.WaitFor(5), (std::vector<std::string>{"box:등록 지문을 입력하세요.", "image1:32x40",
                                                               "box:확인 지문을 입력하세요.", "image2:32x40",
                                                               "finish"}));
        scan.Join();
    }
    RecordingWindow verifyWindow;
    unit.verdicts.push_back({0, 3});
    CVerifyScan verify(record, kProduct, verifyWindow, 3);
    Prepare(verify);
    sim.QueueInput(0, late, 30);
    corvane::SleepMs(300);
    EXPECT_EQ(verifyWindow.Events(), std::vector<std::string>{});
    verify.OnPromptTimer();
    EXPECT_EQ(verifyWindow.WaitFor(3), (std::vector<std::string>{"box:검증 할 지문을 입력하세요.",
                                                                 "app:등록ID [03]번 감면자 본인 확인 절차",
                                                                 "box:등록ID : [3]로 등록된 지문입니다."}));
}

TEST_F(ScreenExchanges, VerificationAgainstAllTellsANoMatch)
{
    unit.verdicts.push_back({1, 2});
    CVerifyScan verify(record, kProduct, window, 0);
    Prepare(verify);
    verify.OnPromptTimer();
    EXPECT_EQ(window.WaitFor(2), (std::vector<std::string>{"box:검증 할 지문을 입력하세요.",
                                                           "app:본인 인증에 실패하였습니다!"}));
    const auto commands = Commands();
    ASSERT_EQ(commands.size(), 1u);
    EXPECT_EQ(std::vector<uint8_t>(commands[0].begin(), commands[0].begin() + 8),
              (std::vector<uint8_t>{0x24, 0, 0, 0, 0, 0, 0, 0}));
}

TEST_F(ScreenExchanges, AScanOrVerdictIsTakenOnlyWithTheCommandByteOfItsRequest)
{
    // The unit answers with the other verification command's byte, or the
    // verification's byte to a scan: sealed under the right key, yet not the
    // answer of what the screen asked.
    const auto key = ObuSimulator::DeviceKey(kProduct, kRandomA, unit.deviceRandom);
    unit.rawAnswer = [&](uint8_t command, const std::vector<uint8_t>& sealed) {
        std::vector<uint8_t> plain = ReferenceAes(key.data(), 32).DecryptCbc(sealed);
        plain[0] = command == 0x23 ? 0x24 : 0x23;
        return BiuSimulator::Frame(ReferenceAes(key.data(), 32).EncryptCbc(plain));
    };
    unit.verdicts.push_back({0, 3});
    {
        CVerifyScan verify(record, kProduct, window, 3);
        Prepare(verify);
        verify.OnPromptTimer();
        window.WaitFor(2);
        corvane::SleepMs(300);
        EXPECT_EQ(window.Events(), (std::vector<std::string>{"box:검증 할 지문을 입력하세요.",
                                                             "app:등록ID [03]번 감면자 본인 확인 절차"}));
        EXPECT_GT(verify.SilentForMs(), 0u);
    }
    RecordingWindow scanWindow;
    const int32_t none[12] = {};
    CRegistScan scan(record, kProduct, scanWindow, 1, none, 0);
    ExpectOnlyTheFirstPrompt(scan, scanWindow);
}

// A window whose boxes shown off the test's thread stay until the screen
// closes them (or 5 s have passed): a reader in a box that nobody answers.
class UnansweredBoxWindow : public RecordingWindow {
public:
    void ShowBox(const char* text, bool appCaption) override
    {
        RecordingWindow::ShowBox(text, appCaption);
        if (std::this_thread::get_id() == m_testThread) return;
        std::unique_lock<std::mutex> hold(m_lock);
        m_closed.wait_for(hold, std::chrono::milliseconds(5000), [this] { return m_closeAsked; });
        m_closeAsked = false;
    }
    void CloseReaderBoxes() override
    {
        std::lock_guard<std::mutex> hold(m_lock);
        m_closeAsked = true;
        m_closed.notify_all();
    }

private:
    const std::thread::id m_testThread = std::this_thread::get_id();
    std::mutex m_lock;
    std::condition_variable m_closed;
    bool m_closeAsked = false;
};

TEST_F(ScreenExchanges, TheScreensEndWithoutWaitingForABoxThatTheirReaderShows)
{
    // The reader sits in the verification's "등록ID" box, or the
    // registration's first-scan prompt, when the screen ends.
    const int32_t none[12] = {};
    const struct {
        const char* what;
        std::function<std::unique_ptr<CScreenExchange>(ScreenWindow&)> start;
        const char* box;
    } cases[] = {
        {"verification",
         [&](ScreenWindow& w) {
             auto verify = std::make_unique<CVerifyScan>(record, kProduct, w, 1);
             Prepare(*verify);
             verify->OnPromptTimer();
             return std::unique_ptr<CScreenExchange>(std::move(verify));
         },
         "app:등록ID [01]번 감면자 본인 확인 절차"},
        {"registration",
         [&](ScreenWindow& w) {
             auto scan = std::make_unique<CRegistScan>(record, kProduct, w, 1, none, 0);
             Prepare(*scan);
             scan->StartFingerRegist(1);
             return std::unique_ptr<CScreenExchange>(std::move(scan));
         },
         "box:등록 지문을 입력하세요."},
    };
    for (const auto& c : cases) {
        UnansweredBoxWindow boxes;
        std::unique_ptr<CScreenExchange> screen = c.start(boxes);
        const auto events = boxes.WaitFor(c.box[0] == 'a' ? 2 : 1);
        ASSERT_FALSE(events.empty()) << c.what;
        ASSERT_EQ(events.back(), c.box) << c.what;
        const uint64_t start = corvane::MonotonicMs();
        screen.reset();
        EXPECT_LT(corvane::MonotonicMs() - start, 1500u) << c.what;
    }
}

TEST_F(ScreenExchanges, ASilentUnitLeavesTheVerificationWaiting)
{
    unit.answerHandshake = false;
    CVerifyScan verify(record, kProduct, window, 1);
    Prepare(verify);
    verify.OnPromptTimer();
    corvane::SleepMs(300);
    EXPECT_EQ(window.Events(), (std::vector<std::string>{"box:검증 할 지문을 입력하세요."}));
    EXPECT_GE(verify.SilentForMs(), 250u);
    verify.Join();
    EXPECT_FALSE(verify.IsRunning());
}

}  // namespace
