// The OBU transactions and the OBU controller against the OBU simulator:
// the exact messages the OBU receives, the answers and their texts, the trace
// lines of each transaction, the serial-number read, the product key and the
// device states. Waits run on a scaled clock.
#include "obulink/obu_controller.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <atomic>
#include <functional>
#include <string>
#include <thread>
#include <vector>

#include "obulink/mfsn_read.h"
#include "obulink/obu_transactions.h"
#include "tests/obulink/test_transaction.h"
#include "tests/sim/obu_command_text.h"
#include "tests/sim/obu_simulator.h"
#include "tests/sim/scaled_clock.h"
#include "tests/sim/sim_hid_platform.h"

namespace {

const uint8_t kProduct[16] = {0x00, 0x11, 0x22, 0x33, 0x44, 0x55, 0x66, 0x77,
                              0x88, 0x99, 0xAA, 0xBB, 0xCC, 0xDD, 0xEE, 0xFF};
const char kProductText[] = "00112233445566778899aAbBcCdDeEfF";
const uint8_t kHandshakeRandom[8] = {0x01, 0x12, 0x23, 0x34, 0x45, 0x56, 0x67, 0x78};
const uint8_t kCommandRandom[8] = {0x90, 0x81, 0x72, 0x63, 0x54, 0x45, 0x36, 0xFE};

class FastPump : public MessagePump {
public:
    void DispatchPending(uint32_t) override { corvane::SleepMs(1); }
};

// The controller, each operation under a hold of its own (as a command's one
// step).
class OneHoldEach : public CObuSelfIssueCtrl {
public:
    CString OpenOBU() { return CObuSelfIssueCtrl::OpenOBU(HoldDevice()); }
    CString CloseOBU() { return CObuSelfIssueCtrl::CloseOBU(HoldDevice()); }
    CString GetMFSN() { return CObuSelfIssueCtrl::GetMFSN(HoldDevice()); }
    CString GetOBUInfo() { return CObuSelfIssueCtrl::GetOBUInfo(HoldDevice()); }
    CString ResetOBU() { return CObuSelfIssueCtrl::ResetOBU(HoldDevice()); }
    CString ActiveOBU(const CString& text) { return CObuSelfIssueCtrl::ActiveOBU(HoldDevice(), text); }
    CString ChangeOBUInfo(const CString& text) { return CObuSelfIssueCtrl::ChangeOBUInfo(HoldDevice(), text); }
    CString ReactiveOBU(const CString& text) { return CObuSelfIssueCtrl::ReactiveOBU(HoldDevice(), text); }
    CString SetProductKey(const CString& text) { return CObuSelfIssueCtrl::SetProductKey(HoldDevice(), text); }
};

int IndexOf(const std::vector<std::string>& lines, const std::string& text)
{
    for (size_t i = 0; i < lines.size(); ++i)
        if (lines[i] == text) return static_cast<int>(i);
    return -1;
}

class ObuWithSimulator : public ::testing::Test {
protected:
    static constexpr double kScale = 50;

    void SetUp() override
    {
        obu.keepsInformation = true;
        sim.AddDevice("Wendra-OBU").peer = &obu;
        ctrl.SetServices({&clock, &pump}, &random);
        ASSERT_EQ(ctrl.SetProductKey(kProductText), "");
    }
    void TearDown() override { ctrl.CloseOBU(); }

    // The messages the OBU received, decrypted, after the handshakes.
    std::vector<std::vector<uint8_t>> Commands() const
    {
        std::vector<std::vector<uint8_t>> out;
        for (const auto& m : obu.Observed().messages)
            if (!m.empty() && m[0] != 0x10 && !(m.size() == 16 && m == std::vector<uint8_t>(16, 0))) out.push_back(m);
        return out;
    }

    SimHidPlatform sim{kScale};
    ScopedHidPlatform active{sim};
    ScaledClock clock{kScale};
    FastPump pump;
    FixedRandom random{{kHandshakeRandom, kCommandRandom}};
    ObuSimulator obu{kProduct};
    OneHoldEach ctrl;
    RecordingTraceSink traces;
    ScopedTraceSink traceScope{traces};
};

}  // namespace

TEST_F(ObuWithSimulator, ActivationSendsTheRecordAndAnswersTheInformationText)
{
    ObuFields f;
    ASSERT_EQ(ctrl.OpenOBU(), "2");
    EXPECT_EQ(ctrl.ActiveOBU(f.Text()), f.InformationText('1'));

    const auto commands = Commands();
    ASSERT_EQ(commands.size(), 1u);
    std::vector<uint8_t> expected(80, 0);
    expected[0] = 0x01;
    std::copy(kCommandRandom, kCommandRandom + 8, expected.begin() + 8);
    const auto record = f.Record(0x01, 0xF8);
    std::copy(record.begin(), record.end(), expected.begin() + 16);
    EXPECT_EQ(commands[0], expected);

    // Handshake report, then the command in two reports: 55 + 25 bytes.
    const auto written = sim.Written(0);
    ASSERT_EQ(written.size(), 3u);
    EXPECT_EQ(std::vector<uint8_t>(written[1].begin(), written[1].begin() + 9),
              (std::vector<uint8_t>{0x01, 0x01, 0x00, 0x00, 0x00, 0x00, 0x50, 0x37, 0x00}));
    EXPECT_EQ(std::vector<uint8_t>(written[2].begin(), written[2].begin() + 9),
              (std::vector<uint8_t>{0x01, 0x02, 0x00, 0x01, 0x00, 0x00, 0x50, 0x19, 0x00}));
    for (size_t i = 9 + 25; i < 64; ++i) EXPECT_EQ(written[2][i], 0) << i;
}

TEST_F(ObuWithSimulator, ReactivationAndChangeDifferInKindAndFlags)
{
    ObuFields f;
    ASSERT_EQ(ctrl.OpenOBU(), "2");
    EXPECT_EQ(ctrl.ReactiveOBU(f.Text()), f.InformationText('4'));
    ObuFields changed;
    changed.field1 = "9999999999999999";
    changed.field2 = "8888888888888888";
    changed.field3 = "7777777777";
    changed.flags = "10101";
    EXPECT_EQ(ctrl.ChangeOBUInfo(changed.Text()).str().substr(0, 35), "3_9999999999999999_6543210987654321")
        << "fields 1 and 3 changed, field 2 kept";

    const auto commands = Commands();
    ASSERT_EQ(commands.size(), 2u);
    EXPECT_EQ(commands[0][0], 0x04);
    EXPECT_EQ(commands[0][16], 0x04);
    EXPECT_EQ(commands[0][33], 0xF8);
    EXPECT_EQ(commands[1][0], 0x03);
    EXPECT_EQ(commands[1][16], 0x03);
    EXPECT_EQ(commands[1][33], 0xA8);
    for (size_t i = 49; i < 80; ++i) EXPECT_EQ(commands[1][i], 0) << i;
}

TEST_F(ObuWithSimulator, InformationReadAndReset)
{
    ObuFields f;
    ASSERT_EQ(ctrl.OpenOBU(), "2");
    ASSERT_EQ(ctrl.ActiveOBU(f.Text()), f.InformationText('1'));
    EXPECT_EQ(ctrl.GetOBUInfo(), f.InformationText('1'));
    EXPECT_EQ(ctrl.ResetOBU(), "");
    EXPECT_EQ(ctrl.GetOBUInfo(), "0_0000000000000000_0000000000000000_0000000000_00000000_00000000_0_00");

    const auto commands = Commands();
    ASSERT_EQ(commands.size(), 4u);
    for (size_t c : {1u, 2u}) {
        ASSERT_EQ(commands[c].size(), 16u);
        EXPECT_EQ(commands[c][0], c == 1 ? 0x05 : 0x02);
        for (size_t i = 1; i < 8; ++i) EXPECT_EQ(commands[c][i], 0);
    }
    // One report for a 16-byte command: DataLength 16, Length 16, zeros after.
    const auto written = sim.Written(0);
    const SimReport& query = written[4];  // handshake+2 for the activation, then handshake, query
    EXPECT_EQ(std::vector<uint8_t>(query.begin(), query.begin() + 9),
              (std::vector<uint8_t>{0x01, 0x01, 0x00, 0x00, 0x00, 0x00, 0x10, 0x10, 0x00}));
    for (size_t i = 25; i < 64; ++i) EXPECT_EQ(query[i], 0) << i;
}

TEST_F(ObuWithSimulator, StatusClasses)
{
    ObuFields f;
    ASSERT_EQ(ctrl.OpenOBU(), "2");
    struct { uint8_t status; const char* text; } cases[] = {{0x02, "2"}, {0x03, "2"}, {0x01, "1"}, {0x80, "1"}};
    for (const auto& c : cases) {
        obu.status = c.status;
        EXPECT_EQ(ctrl.ActiveOBU(f.Text()), c.text) << int(c.status);
        EXPECT_EQ(ctrl.GetOBUInfo(), c.text) << int(c.status);
        EXPECT_EQ(ctrl.ResetOBU(), c.text) << int(c.status);
    }
    obu.status = 0;
    obu.status2 = 0x55;  // only the status byte counts
    EXPECT_EQ(ctrl.ResetOBU(), "");
    obu.answerCommand = false;
    EXPECT_EQ(ctrl.GetOBUInfo(), "0");
}

TEST_F(ObuWithSimulator, WrongProductKeyIsRefusedAtTheHandshake)
{
    ASSERT_EQ(ctrl.SetProductKey("0F112233445566778899AABBCCDDEEFF"), "");
    ASSERT_EQ(ctrl.OpenOBU(), "2");
    ObuFields f;
    EXPECT_EQ(ctrl.ActiveOBU(f.Text()), "2");
    EXPECT_EQ(ctrl.GetOBUInfo(), "2");
    EXPECT_EQ(obu.Observed().commands, 0);
    EXPECT_EQ(sim.Written(0).size(), 2u) << "one handshake request each, nothing else";
}

TEST_F(ObuWithSimulator, ProductKeyTexts)
{
    // Upper and lower case spell the same key: the OBU answers both.
    ASSERT_EQ(ctrl.OpenOBU(), "2");
    EXPECT_EQ(ctrl.ResetOBU(), "");
    ASSERT_EQ(ctrl.SetProductKey("00112233445566778899AABBCCDDEEFF"), "");
    EXPECT_EQ(ctrl.ResetOBU(), "");
    ctrl.CloseOBU();

    // Only the first 32 characters are read, and any character is taken:
    // past 'F' (or 'f') it counts by its low four bits.
    struct { const char* text; uint8_t key[16]; } cases[] = {
        {"00112233445566778899AABBCCDDEEFF0", {0x00, 0x11, 0x22, 0x33, 0x44, 0x55, 0x66, 0x77,
                                               0x88, 0x99, 0xAA, 0xBB, 0xCC, 0xDD, 0xEE, 0xFF}},
        {"0011223344556677889GAABBCCDDEEFF and more", {0x00, 0x11, 0x22, 0x33, 0x44, 0x55, 0x66, 0x77,
                                                       0x88, 0x97, 0xAA, 0xBB, 0xCC, 0xDD, 0xEE, 0xFF}},
        {"gG zZ:;<=>?\xB0\xA1-_.,000000000000000", {0x77, 0x0A, 0xAA, 0xBC, 0xDE, 0xF0, 0x1D, 0xFE,
                                                   0xC0, 0x00, 0x00, 0x00, 0x00, 0x00, 0x00, 0x00}},
    };
    for (const auto& c : cases) {
        ObuSimulator keyed(c.key);
        SimHidPlatform platform(kScale);
        ScopedHidPlatform scope(platform);
        platform.AddDevice("Wendra-OBU").peer = &keyed;
        EXPECT_EQ(ctrl.SetProductKey(c.text), "") << c.text;
        ASSERT_EQ(ctrl.OpenOBU(), "2");
        EXPECT_EQ(ctrl.ResetOBU(), "") << "the OBU keyed " << c.text << " answers";
        EXPECT_EQ(keyed.Observed().commands, 1) << c.text;
        ctrl.CloseOBU();
    }

    // A text shorter than a key is refused, and the key in use stays.
    ASSERT_EQ(ctrl.SetProductKey(kProductText), "");
    ASSERT_EQ(ctrl.OpenOBU(), "2");
    for (const char* shortText : {"0011223344556677889AABBCCDDEEFF", ""}) {
        EXPECT_EQ(ctrl.SetProductKey(shortText), "1") << shortText;
        EXPECT_EQ(ctrl.ResetOBU(), "") << "the OBU still accepts the key set before " << shortText;
    }
}

TEST_F(ObuWithSimulator, WriteTextsAreSentWhateverTheirFieldsHold)
{
    ASSERT_EQ(ctrl.OpenOBU(), "2");
    // What the information read answers goes back as it came: ':' stands
    // for a four-bit value of 10.
    ObuFields f;
    f.field3 = "01234567:9";
    f.field4 = "2026:208";
    EXPECT_EQ(ctrl.ActiveOBU(f.Text()), f.InformationText('1'));
    EXPECT_EQ(ctrl.GetOBUInfo(), f.InformationText('1'));

    // An information change that writes field 1 only and leaves the others blank.
    ObuFields change;
    change.field1 = "9999999999999999";
    change.field2 = std::string(16, ' ');
    change.field3 = std::string(10, ' ');
    change.field4 = std::string(8, ' ');
    change.field5 = std::string(8, ' ');
    change.field6 = " ";
    change.flags = "10000";
    ObuFields after = f;
    after.field1 = change.field1;
    EXPECT_EQ(ctrl.ChangeOBUInfo(change.Text()), after.InformationText('3'));

    const auto commands = Commands();
    ASSERT_EQ(commands.size(), 3u);
    const auto record = change.Record(0x03, 0x80);
    EXPECT_EQ(std::vector<uint8_t>(commands[2].begin() + 16, commands[2].begin() + 49), record);
    EXPECT_EQ(commands[2][33], 0x80);
}

TEST_F(ObuWithSimulator, WriteTextsShorterThanTheirColumnsSendNothing)
{
    ASSERT_EQ(ctrl.OpenOBU(), "2");
    ObuFields f;
    ObuFields badFlags;
    badFlags.flags = "101";
    for (const std::string& text : {f.Text().substr(0, 66), std::string()}) {
        EXPECT_EQ(ctrl.ActiveOBU(text), "1") << text;
        EXPECT_EQ(ctrl.ReactiveOBU(text), "1") << text;
    }
    EXPECT_EQ(ctrl.ChangeOBUInfo(f.Text()), "1") << "no flags";
    EXPECT_EQ(ctrl.ChangeOBUInfo(badFlags.Text()), "1");
    EXPECT_TRUE(sim.Written(0).empty());
}

TEST_F(ObuWithSimulator, DeviceStates)
{
    ObuFields f;
    // Open twice: the second closes the first handle and opens again.
    EXPECT_EQ(ctrl.OpenOBU(), "2");
    EXPECT_EQ(ctrl.OpenOBU(), "2");
    EXPECT_EQ(sim.OpenHandles(), 1);
    EXPECT_EQ(ctrl.CloseOBU(), "2");
    EXPECT_EQ(ctrl.CloseOBU(), "1");
    EXPECT_EQ(ctrl.DeviceState(), 0);

    // Not open: every transaction answers "0" without touching the device.
    EXPECT_EQ(ctrl.GetMFSN(), "0");
    EXPECT_EQ(ctrl.GetOBUInfo(), "0");
    EXPECT_EQ(ctrl.ResetOBU(), "0");
    EXPECT_EQ(ctrl.ActiveOBU(f.Text()), "0");
    EXPECT_TRUE(sim.Written(0).empty());
    // The S-code needs no OBU.
    EXPECT_EQ(ctrl.CreateScode("123456789ABCDEF0_KeyText-0123456!").GetLength(), 16u);
}

TEST(ObuController, NoObuFoundOrNotOpenable)
{
    SimHidPlatform sim;
    ScopedHidPlatform active{sim};
    OneHoldEach ctrl;
    RecordingTraceSink traces;
    ScopedTraceSink scope(traces);
    EXPECT_EQ(ctrl.OpenOBU(), "0");
    EXPECT_GE(IndexOf(traces.Lines(), "[APP] 단말기 연결 실패"), 0);
    EXPECT_EQ(ctrl.GetOBUInfo(), "0");

    sim.AddDevice("Other device");
    SimHidDevice& obu = sim.AddDevice("Wendra-OBU v2");
    obu.opensBeforeFailing = 1;  // counted, then cannot be opened
    EXPECT_EQ(ctrl.OpenOBU(), "1");
    EXPECT_EQ(ctrl.GetOBUInfo(), "1");
    EXPECT_EQ(ctrl.GetMFSN(), "1");
    EXPECT_TRUE(sim.Written(1).empty());
    EXPECT_EQ(ctrl.CloseOBU(), "1");
}

TEST(ObuController, TheLastOfTwoObusIsOpened)
{
    SimHidPlatform sim;
    ScopedHidPlatform active{sim};
    sim.AddDevice("Wendra-OBU A");
    sim.AddDevice("Wendra-OBU B");
    OneHoldEach ctrl;
    EXPECT_EQ(ctrl.OpenOBU(), "2");
    EXPECT_FALSE(sim.IsOpen(0));
    EXPECT_TRUE(sim.IsOpen(1));
    EXPECT_EQ(ctrl.CloseOBU(), "2");
    EXPECT_FALSE(sim.IsOpen(1));
}

TEST(ObuController, ForeignDeviceAfterTheObuWhoseProductStringCannotBeReadGetsNothing)
{
    SimHidPlatform sim(50);
    ScopedHidPlatform active{sim};
    ObuSimulator obu(kProduct);
    sim.AddDevice("Wendra-OBU").peer = &obu;
    sim.AddDeviceWithUnreadableProduct();
    OneHoldEach ctrl;
    ScaledClock clock(50);
    FastPump pump;
    ctrl.SetServices({&clock, &pump});
    EXPECT_EQ(ctrl.OpenOBU(), "2");
    EXPECT_TRUE(sim.IsOpen(0));
    EXPECT_FALSE(sim.IsOpen(1));
    EXPECT_EQ(ctrl.GetMFSN(), "123456789ABCDEF0");
    EXPECT_TRUE(sim.Written(1).empty());
    EXPECT_EQ(ctrl.CloseOBU(), "2");

    // Alone, it is no OBU at all.
    SimHidPlatform foreignOnly;
    ScopedHidPlatform scope{foreignOnly};
    foreignOnly.AddDeviceWithUnreadableProduct();
    EXPECT_EQ(ctrl.OpenOBU(), "0");
    EXPECT_EQ(ctrl.GetMFSN(), "0");
    EXPECT_TRUE(foreignOnly.Written(0).empty());
}

TEST_F(ObuWithSimulator, SerialNumberRead)
{
    ASSERT_EQ(ctrl.OpenOBU(), "2");
    EXPECT_EQ(ctrl.GetMFSN(), "123456789ABCDEF0");
    const auto written = sim.Written(0);
    ASSERT_EQ(written.size(), 1u);
    SimReport request(64, 0);
    request[0] = 0x01;
    request[1] = 0x01;
    request[6] = 0x10;
    request[7] = 0x10;
    EXPECT_EQ(written[0], request);

    obu.mfsnStatus = 0x31;
    EXPECT_EQ(ctrl.GetMFSN(), "1");
    obu.mfsnStatus = 0x05;
    EXPECT_EQ(ctrl.GetMFSN(), "\x05");
    obu.mfsnStatus = 0;
    // An answer in two reports: the status is the Reserved byte of the last.
    obu.mfsnChunks = {20, 4};
    obu.mfsnStatuses = {0, 0x31};
    EXPECT_EQ(ctrl.GetMFSN(), "1");
    obu.mfsnStatuses = {0x31, 0};
    EXPECT_EQ(ctrl.GetMFSN(), "123456789ABCDEF0");
    obu.mfsnChunks.clear();
    obu.answerMfsn = false;
    const uint64_t start = clock.NowMs();
    EXPECT_EQ(ctrl.GetMFSN(), "0");
    EXPECT_GE(clock.NowMs() - start, 5000u);
    EXPECT_EQ(obu.Observed().commands, 0);
}

TEST(ObuController, FailedWritesAnswerAsNoAnswerAtOnce)
{
    // Scale 10: the three exchanges' budget (each ends with its receive
    // thread's current read) is then half a second of real time, enough for
    // thread starts under Wine.
    for (HidIoResult result : {HidIoResult::Failed, HidIoResult::TimedOut}) {
        SimHidPlatform sim(10);
        ScopedHidPlatform active{sim};
        ObuSimulator obu(kProduct);
        SimHidDevice& device = sim.AddDevice("Wendra-OBU");
        device.peer = &obu;
        device.writeResult = result;
        OneHoldEach ctrl;
        ScaledClock clock(10);
        FastPump pump;
        ctrl.SetServices({&clock, &pump});
        ASSERT_EQ(ctrl.OpenOBU(), "2");
        const uint64_t start = clock.NowMs();
        EXPECT_EQ(ctrl.GetMFSN(), "0");
        EXPECT_EQ(ctrl.ActiveOBU(ObuFields().Text()), "0");
        EXPECT_EQ(ctrl.GetOBUInfo(), "0");
        EXPECT_LT(clock.NowMs() - start, 5000u) << "three exchanges, none of them waited out";
        EXPECT_TRUE(sim.Written(0).empty());
        EXPECT_EQ(ctrl.CloseOBU(), "2");
    }
}

TEST_F(ObuWithSimulator, SerialNumberAnswersThatAreShortLongOrForeign)
{
    ASSERT_EQ(ctrl.OpenOBU(), "2");
    obu.answerMfsn = false;
    auto report = [](uint8_t type, uint32_t total, uint8_t length) {
        SimReport r(64, 0);
        r[0] = 0x01; r[1] = type; r[4] = uint8_t(total >> 16); r[5] = uint8_t(total >> 8); r[6] = uint8_t(total);
        r[7] = length;
        for (size_t i = 10; i < 64; ++i) r[i] = static_cast<uint8_t>(0x10 + i - 9);
        return r;  // byte 0, the command, is the serial-number read's: 0x00
    };
    struct Case {
        const char* what;
        std::vector<SimReport> answer;
        const char* text;
        bool atOnce;
    } cases[] = {
        {"16 to 23 bytes: the missing serial bytes are 0", {report(1, 20, 20)}, "2021222300000000", true},
        {"shorter than the head", {report(1, 8, 8)}, "0", true},
        {"longer than the receive buffer", {report(1, 5000, 55)}, "0", true},
        {"a Length past the report", {report(1, 60, 60)}, "0", true},
        {"Data Type 2 only", {report(2, 24, 24)}, "0", false},
        {"another report id", {[&] { SimReport r = report(1, 24, 24); r[0] = 0x02; return r; }()}, "0", false},
    };
    for (const auto& c : cases) {
        obu.beforeMfsnAnswer = c.answer;  // in reply to the request, never before it
        const uint64_t start = clock.NowMs();
        EXPECT_EQ(ctrl.GetMFSN(), c.text) << c.what;
        EXPECT_EQ(clock.NowMs() - start < 5000u, c.atOnce) << c.what;
        ASSERT_EQ(ctrl.OpenOBU(), "2");
    }
}

TEST_F(ObuWithSimulator, SerialNumberReadTakesOnlyTheAnswerOfCommandZero)
{
    // Reports that reach the read after its request, before its answer: none
    // is the serial number's, each is dropped with a line, and the read waits on.
    std::vector<uint8_t> otherAnswer(24, 0);
    otherAnswer[0] = 0x05;  // the information read's answer, in clear
    for (size_t i = 16; i < 24; ++i) otherAnswer[i] = static_cast<uint8_t>(0xE0 + i - 16);
    const std::vector<uint8_t> lateOneBlock = {0xA7, 0x1C, 0x5E, 0x02, 0x93, 0x4B, 0xF0, 0x6D,
                                               0x18, 0xC2, 0x7A, 0x35, 0xE9, 0x04, 0xBB, 0x61};  // sealed
    const struct {
        const char* what;
        std::vector<uint8_t> message;
    } cases[] = {{"another command's clear answer", otherAnswer}, {"a late one-block answer", lateOneBlock}};
    ASSERT_EQ(ctrl.OpenOBU(), "2");
    for (const auto& c : cases) {
        obu.beforeMfsnAnswer = ObuSimulator::Frame(c.message, {});
        const size_t before = traces.Lines().size();
        EXPECT_EQ(ctrl.GetMFSN(), "123456789ABCDEF0") << c.what;
        const auto lines = traces.Lines();
        EXPECT_EQ(std::count(lines.begin() + static_cast<std::ptrdiff_t>(before), lines.end(),
                             "[APP] [다른 요청의 응답 - 버림]"),
                  1)
            << c.what;
    }
}

TEST_F(ObuWithSimulator, TracesOfEachTransaction)
{
    ObuFields f;
    ASSERT_EQ(ctrl.OpenOBU(), "2");
    struct Case {
        const char* name;
        std::function<CString()> run;
        const char* banner;
        bool productNum, reportTrace, handshakeExtra;
        const char* answerLabel;
    } cases[] = {
        {"activation", [&] { return ctrl.ActiveOBU(f.Text()); },
         "[APP] ================> Start : Do Active OBU  <==================", true, false, false,
         "[APP] [OBU 발급 요청-결과값->복호화]"},
        {"re-activation", [&] { return ctrl.ReactiveOBU(f.Text()); },
         "[APP] ================> Start : Do ReActive OBU  <==================", true, true, false,
         "[APP] [OBU 발급 요청-결과값->복호화]"},
        {"change", [&] { ObuFields c; c.flags = "11111"; return ctrl.ChangeOBUInfo(c.Text()); },
         "[APP] ================> Start : Change OBU Info <==================", false, true, false,
         "[APP] [OBU 정보 요청-결과값->복호화]"},
        {"read", [&] { return ctrl.GetOBUInfo(); },
         "[APP] ================> Start : Get OBU Info <==================", true, true, true,
         "[APP] [OBU 정보 요청-결과값->복호화]"},
        {"reset", [&] { return ctrl.ResetOBU(); },
         "[APP] ================> Start : Reset OBU <==================", true, true, false,
         "[APP] [OBU 정보 요청-결과값->복호화]"},
    };
    for (const auto& c : cases) {
        RecordingTraceSink sink;
        ScopedTraceSink scope(sink);
        c.run();
        const auto lines = sink.Lines();
        EXPECT_GE(IndexOf(lines, c.banner), 0) << c.name;
        EXPECT_EQ(IndexOf(lines, "[APP] [m_ProductNum]") >= 0, c.productNum) << c.name;
        EXPECT_EQ(IndexOf(lines, "[APP] [암호화된 요청정보]") >= 0, c.reportTrace) << c.name;
        EXPECT_EQ(IndexOf(lines, "[APP] [Randomkey 요청 받은 값]") >= 0, c.handshakeExtra) << c.name;
        EXPECT_GE(IndexOf(lines, c.answerLabel), 0) << c.name;
        for (const auto& line : lines) {
            EXPECT_EQ(line.find("[00][11][22][33]"), std::string::npos) << c.name << ": key in " << line;
            EXPECT_TRUE(line.empty() || line.back() != '\n') << "no line ends with a line feed";
        }
    }
}

// ---- The waits, pinned ----

TEST_F(ObuWithSimulator, EveryTransactionReadsAndWritesWithOneSecondTimeOutsAndStopsReadingWithTheAnswer)
{
    ASSERT_EQ(ctrl.OpenOBU(), "2");
    ObuFields f;
    ObuFields change;
    change.flags = "11111";
    struct Case {
        const char* name;
        std::function<CString()> run;
        size_t writes;
    } cases[] = {
        {"serial number", [&] { return ctrl.GetMFSN(); }, 1},
        {"activation", [&] { return ctrl.ActiveOBU(f.Text()); }, 3},
        {"change", [&] { return ctrl.ChangeOBUInfo(change.Text()); }, 3},
        {"re-activation", [&] { return ctrl.ReactiveOBU(f.Text()); }, 3},
        {"read", [&] { return ctrl.GetOBUInfo(); }, 2},
        {"reset", [&] { return ctrl.ResetOBU(); }, 2},
    };
    for (const auto& c : cases) {
        const size_t before = sim.IoLog(0).size();
        const CString result = c.run();
        EXPECT_NE(result, "0") << c.name;
        const auto log = sim.IoLog(0);
        size_t writes = 0;
        for (size_t i = before; i < log.size(); ++i) {
            EXPECT_EQ(log[i].timeoutMs, 1000u) << c.name << (log[i].write ? ": write " : ": read ") << i - before;
            writes += log[i].write;
        }
        EXPECT_EQ(writes, c.writes) << c.name;
        // The receive thread ends with the answer: the read that brought it
        // is the last (a further read would cost up to 1000 ms more).
        ASSERT_GT(log.size(), before) << c.name;
        EXPECT_FALSE(log.back().write) << c.name;
        EXPECT_EQ(log.back().result, HidIoResult::Done) << c.name;
    }
}

TEST(ObuController, SerialNumberReadGivesUpAfterFiveSeconds)
{
    constexpr double kScale = 10;  // 5000 ms in half a second: room for a slow machine
    SimHidPlatform sim(kScale);
    ScopedHidPlatform active{sim};
    ObuSimulator obu(kProduct);
    obu.answerMfsn = false;
    sim.AddDevice("Wendra-OBU").peer = &obu;
    OneHoldEach ctrl;
    ScaledClock clock(kScale);
    FastPump pump;
    ctrl.SetServices({&clock, &pump});
    ASSERT_EQ(ctrl.OpenOBU(), "2");
    const uint64_t start = clock.NowMs();
    EXPECT_EQ(ctrl.GetMFSN(), "0");
    const uint64_t elapsed = clock.NowMs() - start;
    EXPECT_GE(elapsed, 5000u);
    EXPECT_LT(elapsed, 5000u + 1000u + 2000u) << "the limit and the end of one read, not more";
    EXPECT_EQ(obu.Observed().mfsnReads, 1);
}

TEST(ObuController, KeyIsTakenWithAPauseOf200Ms)
{
    SimHidPlatform sim(50);
    ScopedHidPlatform active{sim};
    OneHoldEach ctrl;
    RecordingClock clock(50);
    FastPump pump;
    ctrl.SetServices({&clock, &pump});
    const uint64_t start = clock.NowMs();
    EXPECT_EQ(ctrl.SetProductKey(kProductText), "");
    EXPECT_GE(clock.NowMs() - start, 200u);
    EXPECT_EQ(clock.Sleeps(), std::vector<uint32_t>{200});
    EXPECT_EQ(ctrl.SetProductKey("0011"), "1");
    EXPECT_EQ(clock.Sleeps().size(), 1u) << "a refused key is not paused for";
}
