// The biometric-unit controller and the biometric commands (ids 61 to 71)
// through the command table, with the fingerprint-unit simulator behind the
// HID seam and a recording stand-in for the two fingerprint screens.
#include <gtest/gtest.h>

#include <atomic>
#include <condition_variable>
#include <cstring>
#include <mutex>
#include <string>
#include <thread>
#include <vector>

#include "agent/commands/obu_issue_ctrl.h"
#include "biometric/biu_controller.h"
#include "biometric/biu_message_box.h"
#include "framework/clock.h"
#include "tests/agent/window_thread.h"
#include "tests/obulink/test_transaction.h"
#include "tests/sim/biu_simulator.h"
#include "tests/sim/click_pump.h"
#include "tests/sim/scaled_clock.h"
#include "tests/sim/sim_hid_platform.h"

namespace {

constexpr double kScale = 25;
const char kKeyText[] = "31415926535897932384626433832795";
const uint8_t kProduct[16] = {0x31, 0x41, 0x59, 0x26, 0x53, 0x58, 0x97, 0x93,
                              0x23, 0x84, 0x62, 0x64, 0x33, 0x83, 0x27, 0x95};
const uint8_t kRandom[8] = {1, 2, 3, 4, 5, 6, 7, 8};

class IdlePump : public MessagePump {
public:
    void DispatchPending(uint32_t idleMs) override { corvane::SleepMs(idleMs); }
};

class OkBoxes : public BiuMessageBoxes {
public:
    int Show(BiuOwnerWindow, const char* text, const char*, unsigned) override
    {
        std::lock_guard<std::mutex> hold(lock);
        texts.push_back(text);
        return kBiuBoxResultOk;
    }
    std::mutex lock;
    std::vector<std::string> texts;
};

// Records what each screen was given.
class RecordingScreens : public FingerprintScreens {
public:
    void RunRegistration(const FingerprintRegistration& input) override
    {
        registrations.push_back(input);
        handles.push_back(input.device->m_hDevice);
        keys.emplace_back(input.productKey, input.productKey + 16);
    }
    void RunVerification(const FingerprintVerification& input) override
    {
        verifications.push_back(input);
        handles.push_back(input.device->m_hDevice);
        keys.emplace_back(input.productKey, input.productKey + 16);
    }
    std::vector<FingerprintRegistration> registrations;
    std::vector<FingerprintVerification> verifications;
    std::vector<HidHandle> handles;
    std::vector<std::vector<uint8_t>> keys;
};

// A registration screen that stays open until the test lets it end.
class HeldScreens : public FingerprintScreens {
public:
    void RunRegistration(const FingerprintRegistration&) override
    {
        std::unique_lock<std::mutex> hold(m_lock);
        m_open = true;
        m_changed.notify_all();
        m_changed.wait(hold, [this] { return m_released; });
        m_open = false;
    }
    void RunVerification(const FingerprintVerification&) override {}
    bool WaitOpen()
    {
        for (int i = 0; i < 500; ++i) {
            {
                std::lock_guard<std::mutex> hold(m_lock);
                if (m_open) return true;
            }
            corvane::SleepMs(10);
        }
        return false;
    }
    void Release()
    {
        std::lock_guard<std::mutex> hold(m_lock);
        m_released = true;
        m_changed.notify_all();
    }

private:
    std::mutex m_lock;
    std::condition_variable m_changed;
    bool m_open = false;
    bool m_released = false;
};

// One command on a thread of its own, as another connection's request.
class CommandThread {
public:
    CommandThread(COBUIssueCtrl& ctrl, int id, const char* param)
        : m_thread([this, &ctrl, id, param] {
              CString result;
              ctrl.RunCommand(id, param, result);
              m_result = result.str();
              m_done = true;
          })
    {
    }
    ~CommandThread()
    {
        if (m_thread.joinable()) m_thread.join();
    }
    // True once the command has answered, waiting at most `ms`.
    bool AnsweredWithin(uint32_t ms)
    {
        for (uint32_t waited = 0; !m_done && waited < ms; waited += 10) corvane::SleepMs(10);
        return m_done;
    }
    std::string Result()
    {
        if (m_thread.joinable()) m_thread.join();
        return m_result;
    }

private:
    std::atomic<bool> m_done{false};
    std::string m_result;
    std::thread m_thread;
};

class BiometricCommands : public ::testing::Test {
protected:
    void SetUp() override
    {
        g_BIUIssueCtrl.CloseBIU(g_BIUIssueCtrl.HoldDevice());
        g_BIUIssueCtrl.SetServices({&clock, &pump}, &random);
        g_BIUIssueCtrl.UseScreens(&screens);
    }
    void TearDown() override
    {
        g_BIUIssueCtrl.CloseBIU(g_BIUIssueCtrl.HoldDevice());
        g_BIUIssueCtrl.UseScreens(nullptr);
        g_BIUIssueCtrl.SetServices(ExchangeServices{});
    }
    SimHidDevice& AttachUnit(const char* product = "[wendra] fingerprint unit")
    {
        return unit.PlugInto(sim, product);
    }
    CString Run(int id, const CString& param = "")
    {
        CString result = "(none)";
        EXPECT_TRUE(ctrl.RunCommand(id, param, result)) << id;
        return result;
    }

    SimHidPlatform sim{kScale};
    ScopedHidPlatform active{sim};
    ScaledClock clock{kScale};
    IdlePump pump;
    FixedRandom random{{kRandom}};
    BiuSimulator unit{kProduct};
    OkBoxes boxes;
    ScopedBiuMessageBoxes boxScope{boxes};
    RecordingScreens screens;
    COBUIssueCtrl ctrl;
};

TEST(BiuController, ProductKeyPacksTwoCharactersAByteByTheirLowBits)
{
    CQv_BIUIssueCtrl biu;
    ScaledClock fast(1000);
    IdlePump pump;
    biu.SetServices({&fast, &pump});
    biu.SetProductKey(biu.HoldDevice(), kKeyText);
    EXPECT_EQ(std::vector<uint8_t>(biu.ProductKey(), biu.ProductKey() + 16),
              std::vector<uint8_t>(kProduct, kProduct + 16));
    biu.SetProductKey(biu.HoldDevice(), "A1a2000000000000000000000000000F");
    EXPECT_EQ(biu.ProductKey()[0], 0x11);  // 'A' is 1, not 10
    EXPECT_EQ(biu.ProductKey()[1], 0x12);
    EXPECT_EQ(biu.ProductKey()[15], 0x06);  // 'F' is 6
    // A short key is read only as far as it goes; the rest is zero.
    biu.SetProductKey(biu.HoldDevice(), "123");
    EXPECT_EQ(biu.ProductKey()[0], 0x12);
    EXPECT_EQ(biu.ProductKey()[1], 0x30);
    EXPECT_EQ(biu.ProductKey()[2], 0x00);
    EXPECT_EQ(biu.SetProductKey(biu.HoldDevice(), ""), "");
}

TEST(BiuController, RegistrationTextNamesOnlyFingersOneToTen)
{
    FingerprintRegistration r;
    CQv_BIUIssueCtrl::ReadRegistration("2", "13:0", r);
    EXPECT_EQ(r.user, 2);
    EXPECT_EQ(r.registeredCount, 3);
    for (int i = 0; i < 12; ++i) EXPECT_EQ(r.registered[i], (i == 1 || i == 3 || i == 10) ? 1 : 0) << i;

    CQv_BIUIssueCtrl::ReadRegistration("1", "0000", r);
    EXPECT_EQ(r.registeredCount, 0);
    for (int i = 0; i < 12; ++i) EXPECT_EQ(r.registered[i], 0);

    // Characters outside '1'..':' write no flag anywhere (';' would be index
    // 11, 'z' index 74, '/' index -1) and count as no finger.
    CQv_BIUIssueCtrl::ReadRegistration("1", ";z/5", r);
    EXPECT_EQ(r.registeredCount, 1);
    EXPECT_EQ(r.registered[5], 1);
    EXPECT_EQ(r.registered[11], 0);
    EXPECT_EQ(r.registered[0], 0);

    // Short and empty texts are read only as far as they go.
    CQv_BIUIssueCtrl::ReadRegistration("", "7", r);
    EXPECT_EQ(r.user, 0);
    EXPECT_EQ(r.registeredCount, 1);
    EXPECT_EQ(r.registered[7], 1);
    // Only the first four finger characters count.
    CQv_BIUIssueCtrl::ReadRegistration("1", "12345", r);
    EXPECT_EQ(r.registeredCount, 4);
    EXPECT_EQ(r.registered[5], 0);
}

TEST(BiuController, VerificationIdOutsideOneToFourChecksEveryRegistration)
{
    EXPECT_EQ(CQv_BIUIssueCtrl::ReadRegId("3"), 3);
    EXPECT_EQ(CQv_BIUIssueCtrl::ReadRegId("1xyz"), 1);
    for (const char* text : {"0", "5", "9", "/", "", ":"}) EXPECT_EQ(CQv_BIUIssueCtrl::ReadRegId(text), 0) << text;
}

TEST_F(BiometricCommands, WithoutAUnitEveryDeviceCommandAnswersZeroAndShowsNoScreen)
{
    EXPECT_EQ(Run(61, kKeyText), "0");
    EXPECT_EQ(Run(63), "0");
    for (int id : {64, 65, 66, 69, 70}) EXPECT_EQ(Run(id, "1"), "0") << id;
    EXPECT_EQ(Run(67, "1120"), "0");
    EXPECT_EQ(Run(68, "1"), "0");
    EXPECT_EQ(Run(71, std::string(152, '1')), "0");
    EXPECT_EQ(Run(62), "1");
    EXPECT_TRUE(screens.registrations.empty());
    EXPECT_TRUE(screens.verifications.empty());
}

TEST_F(BiometricCommands, ConnectOpensTheLastUnitAndCloseAndStateFollowIt)
{
    sim.AddDevice("Wendra-OBU");
    AttachUnit("[wendra] first");
    AttachUnit("[wendra] second");
    EXPECT_EQ(Run(61, kKeyText), "2");  // the key step's "" is not part of it
    EXPECT_FALSE(sim.IsOpen(1));
    EXPECT_TRUE(sim.IsOpen(2));
    EXPECT_EQ(std::vector<uint8_t>(g_BIUIssueCtrl.ProductKey(), g_BIUIssueCtrl.ProductKey() + 16),
              std::vector<uint8_t>(kProduct, kProduct + 16));
    EXPECT_EQ(Run(63), "2");
    // Opening again closes the handle first.
    EXPECT_EQ(Run(61, kKeyText), "2");
    EXPECT_EQ(sim.OpenHandles(), 1);
    EXPECT_EQ(Run(62), "2");
    EXPECT_EQ(sim.OpenHandles(), 0);
    EXPECT_EQ(Run(63), "0");
    EXPECT_EQ(Run(62), "1");
    EXPECT_EQ(Run(64), "0");  // state 0 after the close
}

TEST_F(BiometricCommands, ConnectionStateIsAnsweredWhileAScreenRunsAndCloseWaitsForIt)
{
    AttachUnit();
    ASSERT_EQ(Run(61, kKeyText), "2");
    HeldScreens held;
    g_BIUIssueCtrl.UseScreens(&held);
    CommandThread registration(ctrl, 67, "1000");
    ASSERT_TRUE(held.WaitOpen());
    // Other connections: the state at once; the close (which would pull the
    // handle from under the screen) after the screen.
    CommandThread state(ctrl, 63, "");
    const bool stateAnswered = state.AnsweredWithin(2000);
    CommandThread close(ctrl, 62, "");
    const bool closeAnswered = close.AnsweredWithin(300);
    held.Release();
    EXPECT_TRUE(stateAnswered);
    EXPECT_FALSE(closeAnswered);
    EXPECT_EQ(state.Result(), "2");
    EXPECT_EQ(registration.Result(), "2");
    EXPECT_EQ(close.Result(), "2");
    EXPECT_EQ(sim.OpenHandles(), 0);
}

// Every unit command, what it answers refused (nested in another command of its
// thread, or on the window thread while another thread holds the unit: id 63
// takes no hold and answers the record's state) and the pause it makes all the
// same.
struct RefusedRow {
    int id;
    std::string param;
    const char* answer;
    uint64_t pauseMs;
};
const std::string kZeroKeyText(32, '0');
const RefusedRow kRefusedRows[] = {
    {61, kZeroKeyText, "1", 200}, {62, "", "1", 0},     {63, "", "2", 0},
    {64, "", "1", 200},           {65, "", "1", 200},   {66, "", "1", 200},
    {67, "1120", "1", 1200},      {68, "1", "1", 400},  {69, "1", "1", 200},
    {70, "1", "1", 200},          {71, std::string(152, '1'), "1", 200},
};

// Runs every row, noting each answer and whether it paused as long as it must.
void RunRefusedRows(COBUIssueCtrl& ctrl, ScaledClock& clock, std::vector<std::string>& answers,
                    std::vector<std::string>& expected)
{
    for (const RefusedRow& row : kRefusedRows) {
        const uint64_t start = clock.NowMs();
        CString answer;
        ctrl.RunCommand(row.id, row.param, answer);
        const bool paused = clock.NowMs() - start >= row.pauseMs;
        answers.push_back(std::to_string(row.id) + " " + answer.str() + (paused ? "" : " without its pause"));
        expected.push_back(std::to_string(row.id) + " " + row.answer);
    }
}

// An open unit with a user, whose user information answers `alone`.
class RefusedBiometricCommands : public BiometricCommands {
protected:
    void SetUp() override
    {
        BiometricCommands::SetUp();
        AttachUnit();
        ASSERT_EQ(Run(61, kKeyText), "2");
        unit.userInfo = {1, 1, 0x12, 0x34, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0};
        alone = Run(66);
        ASSERT_EQ(alone.GetLength(), 21u);
    }
    CString alone;
};

TEST_F(RefusedBiometricCommands, ACommandStartedInsideAnotherOnesWaitIsRefusedAndTheOtherAnswersAsIfAlone)
{

    // The panel's buttons clicked while the user information waits on the
    // same thread: each answers as for a unit found but not opened, and none
    // reaches the unit or its handle; the key is set all the same.
    std::vector<std::string> nested, expected;
    ClickPump clicks([&] { RunRefusedRows(ctrl, clock, nested, expected); });
    g_BIUIssueCtrl.SetServices({&clock, &clicks}, &random);
    EXPECT_EQ(Run(66), alone);
    ASSERT_TRUE(clicks.Clicked());
    EXPECT_EQ(nested, expected);
    EXPECT_EQ(std::vector<uint8_t>(g_BIUIssueCtrl.ProductKey(), g_BIUIssueCtrl.ProductKey() + 16),
              std::vector<uint8_t>(16, 0));
    EXPECT_EQ(unit.Observed().commands, 2);
    EXPECT_TRUE(screens.registrations.empty());
    EXPECT_TRUE(screens.verifications.empty());
    EXPECT_EQ(sim.OpenHandles(), 1);
    EXPECT_EQ(Run(63), "2");
}

TEST_F(RefusedBiometricCommands, WhileAScreenHoldsTheUnitAnotherPageClientWaitsAndTheWindowThreadIsAnsweredAtOnce)
{

    HeldScreens held;
    g_BIUIssueCtrl.UseScreens(&held);
    CommandThread registration(ctrl, 67, "1000");
    ASSERT_TRUE(held.WaitOpen());
    CommandThread second(ctrl, 66, "");
    std::vector<std::string> answers, expected;
    bool answeredAtOnce = false;
    bool secondAnswered = true;
    {
        WindowThread window([&] { RunRefusedRows(ctrl, clock, answers, expected); });
        answeredAtOnce = window.DoneWithin(3000);
        secondAnswered = second.AnsweredWithin(300);
        held.Release();
    }
    EXPECT_TRUE(answeredAtOnce);
    EXPECT_EQ(answers, expected);
    EXPECT_FALSE(secondAnswered) << "the second page client waits for the screen";
    EXPECT_EQ(registration.Result(), "2");
    EXPECT_EQ(second.Result(), alone.str()) << "and then runs as if alone";
    EXPECT_EQ(std::vector<uint8_t>(g_BIUIssueCtrl.ProductKey(), g_BIUIssueCtrl.ProductKey() + 16),
              std::vector<uint8_t>(kProduct, kProduct + 16))
        << "the key in use stays";
    EXPECT_EQ(sim.OpenHandles(), 1);
}

TEST_F(BiometricCommands, TransactionsRunOnTheOpenUnit)
{
    AttachUnit();
    ASSERT_EQ(Run(61, kKeyText), "2");
    unit.userInfo = {1, 1, 0x12, 0x34, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0};
    EXPECT_EQ(Run(66).GetLength(), 21u);
    unit.unit.issueStatus = 1;
    EXPECT_EQ(Run(65).GetLength(), 208u);
    EXPECT_EQ(Run(69, "3"), "");
    EXPECT_EQ(Run(70, "2"), "");
    const auto seen = unit.Observed();
    ASSERT_EQ(seen.deletions.size(), 2u);
    EXPECT_EQ(seen.deletions[0], std::make_pair(uint8_t(0x25), uint8_t(3)));
    EXPECT_EQ(seen.deletions[1], std::make_pair(uint8_t(0x26), uint8_t(2)));
    EXPECT_EQ(Run(64), "");
}

TEST_F(BiometricCommands, DeletionsPassTheFirstCharacterOnUncheckedAndAnEmptyParameterSendsNothing)
{
    AttachUnit();
    ASSERT_EQ(Run(61, kKeyText), "2");
    // The first character minus '0', whatever it is; the rest is not read.
    EXPECT_EQ(Run(69, "0"), "");
    EXPECT_EQ(Run(70, "07"), "");
    EXPECT_EQ(Run(69, "7"), "");
    EXPECT_EQ(Run(70, "9"), "");
    EXPECT_EQ(Run(69, ":"), "");
    EXPECT_EQ(Run(70, "A"), "");
    EXPECT_EQ(unit.Observed().deletions,
              (std::vector<std::pair<uint8_t, uint8_t>>{
                  {0x25, 0}, {0x26, 0}, {0x25, 7}, {0x26, 9}, {0x25, 10}, {0x26, 0x11}}));
    // No character, no user: nothing goes to the unit, the answer is the same.
    const int handshakes = unit.Observed().handshakes;
    EXPECT_EQ(Run(69, ""), "");
    EXPECT_EQ(Run(70, ""), "");
    EXPECT_EQ(unit.Observed().handshakes, handshakes);
    EXPECT_EQ(unit.Observed().deletions.size(), 6u);
}

TEST_F(BiometricCommands, HolderInformationIsRepairedOfCommasAndNeedsItsWholeText)
{
    AttachUnit();
    ASSERT_EQ(Run(61, kKeyText), "2");
    EXPECT_EQ(Run(71, "1234"), "");  // too short: nothing sent
    EXPECT_TRUE(unit.Observed().holderRequests.empty());
    std::string text(152, '1');
    text.replace(0, 3, "%2C");  // one character after the repair: 150 left, too short
    EXPECT_EQ(Run(71, text), "");
    EXPECT_TRUE(unit.Observed().holderRequests.empty());
    EXPECT_EQ(Run(71, std::string(152, '2')), "");
    ASSERT_EQ(unit.Observed().holderRequests.size(), 1u);
    EXPECT_EQ(unit.Observed().holderRequests[0][16], 0x22);
}

TEST_F(BiometricCommands, RegistrationSplitsUserAndFingersAndRepairsColonsOnly)
{
    AttachUnit();
    ASSERT_EQ(Run(61, kKeyText), "2");
    EXPECT_EQ(Run(67, "3%3A2%2C0"), "2");
    ASSERT_EQ(screens.registrations.size(), 1u);
    const FingerprintRegistration& r = screens.registrations[0];
    EXPECT_EQ(r.user, 3);
    // ':' (finger 10), '2', then '%', '2' of the unrepaired "%2C": only 10 and 2.
    EXPECT_EQ(r.registered[10], 1);
    EXPECT_EQ(r.registered[2], 1);
    EXPECT_EQ(r.registeredCount, 3);  // ':', '2' and the '2' after '%'
    EXPECT_EQ(screens.keys[0], std::vector<uint8_t>(kProduct, kProduct + 16));
    EXPECT_TRUE(IsValidHidHandle(screens.handles[0]));

    EXPECT_EQ(Run(67, "4"), "2");  // user only: no finger
    EXPECT_EQ(screens.registrations[1].user, 4);
    EXPECT_EQ(screens.registrations[1].registeredCount, 0);
    EXPECT_EQ(Run(67, ""), "2");
    EXPECT_EQ(screens.registrations[2].user, 0);
}

TEST_F(BiometricCommands, VerificationHandsTheRegistrationIdToTheScreen)
{
    AttachUnit();
    ASSERT_EQ(Run(61, kKeyText), "2");
    EXPECT_EQ(Run(68, "3"), "2");
    EXPECT_EQ(Run(68, "0"), "2");
    EXPECT_EQ(Run(68, "7"), "2");
    ASSERT_EQ(screens.verifications.size(), 3u);
    EXPECT_EQ(screens.verifications[0].regId, 3);
    EXPECT_EQ(screens.verifications[1].regId, 0);
    EXPECT_EQ(screens.verifications[2].regId, 0);
}

TEST_F(BiometricCommands, FingerprintCommandsPauseAfterTheScreen)
{
    AttachUnit();
    ASSERT_EQ(Run(61, kKeyText), "2");
    uint64_t start = clock.NowMs();
    Run(67, "1000");
    EXPECT_GE(clock.NowMs() - start, 1200u);  // 1000 after the screen, 200 of the command
    start = clock.NowMs();
    Run(68, "1");
    EXPECT_GE(clock.NowMs() - start, 400u);
    EXPECT_LT(clock.NowMs() - start, 1200u);
}

}  // namespace
