// The secure exchange against the OBU simulator (whole runs on the receive
// thread, with a scaled clock) and its receive state machine driven report by
// report with hostile answers (run under AddressSanitizer in the host build).
#include "obulink/secure_exchange.h"

#include <gtest/gtest.h>

#include <atomic>
#include <cstring>
#include <new>
#include <random>
#include <string>
#include <vector>

#include "framework/clock.h"
#include "tests/obulink/test_transaction.h"
#include "tests/sim/obu_simulator.h"
#include "tests/sim/reference_aes.h"
#include "tests/sim/scaled_clock.h"
#include "tests/sim/sim_hid_platform.h"

namespace {

const uint8_t kProduct[16] = {0x3C, 0x11, 0x22, 0x33, 0x44, 0x55, 0x66, 0x77,
                              0x88, 0x99, 0xAA, 0xBB, 0xCC, 0xDD, 0xEE, 0xF0};
const uint8_t kHandshakeRandom[8] = {0x01, 0x12, 0x23, 0x34, 0x45, 0x56, 0x67, 0x78};
const uint8_t kCommandRandom[8] = {0x90, 0x81, 0x72, 0x63, 0x54, 0x45, 0x36, 0xFE};

class CountingPump : public MessagePump {
public:
    void DispatchPending(uint32_t idleMs) override
    {
        ++calls;
        corvane::SleepMs(idleMs);
    }
    std::atomic<int> calls{0};
};

// ---- Whole exchanges against the simulator ----

class ExchangeWithObu : public ::testing::Test {
protected:
    static constexpr double kScale = 50;  // 10000 ms of waiting take 200 ms

    void SetUp() override
    {
        sim.AddDevice("Wendra-OBU").peer = &obu;
        ASSERT_EQ(device.OpenDevice(0), kHidDone);
    }
    void TearDown() override { device.CloseHandleAndReset(); }

    ExchangeOutcome Run(TestTransaction& tx)
    {
        tx.SetServices({&clock, &pump});
        tx.SetRandomSource(random);
        const uint64_t start = clock.NowMs();
        const ExchangeOutcome outcome = tx.Run();
        elapsedMs = clock.NowMs() - start;
        return outcome;
    }

    SimHidPlatform sim{kScale};
    ScopedHidPlatform active{sim};
    ScaledClock clock{kScale};
    CountingPump pump;
    FixedRandom random{{kHandshakeRandom, kCommandRandom}};
    ObuSimulator obu{kProduct};
    CHIDDevice device;
    uint64_t elapsedMs = 0;
};

TEST_F(ExchangeWithObu, HandshakeThenCommandThenAnswer)
{
    obu.answerData = {0x01, 0x12, 0x34, 0x56};
    obu.status2 = 0x7F;  // the other Param1 byte does not count
    TestTransaction tx(device, kProduct, 0x05, 16);
    EXPECT_EQ(Run(tx), ExchangeOutcome::Succeeded);
    EXPECT_LT(elapsedMs, 10000u);

    const auto seen = obu.Observed();
    EXPECT_EQ(seen.handshakes, 1);
    EXPECT_EQ(seen.commands, 1);
    ASSERT_EQ(seen.messages.size(), 2u);
    EXPECT_EQ(std::vector<uint8_t>(seen.messages[0].begin() + 8, seen.messages[0].end()),
              std::vector<uint8_t>(kHandshakeRandom, kHandshakeRandom + 8));
    const auto& command = seen.messages[1];
    ASSERT_EQ(command.size(), 16u);
    EXPECT_EQ(command[0], 0x05);
    for (int i = 1; i < 8; ++i) EXPECT_EQ(command[i], 0) << i;
    EXPECT_EQ(std::vector<uint8_t>(command.begin() + 8, command.end()),
              std::vector<uint8_t>(kCommandRandom, kCommandRandom + 8));

    EXPECT_EQ(tx.Status(), 0x7F00);
    EXPECT_EQ(tx.AnswerData()[0], 0x01);
    EXPECT_EQ(tx.AnswerData()[3], 0x56);
    EXPECT_EQ(tx.AnswerData()[4], 0x00);
    EXPECT_GT(pump.calls.load(), 0);  // window messages were pumped while waiting
}

TEST_F(ExchangeWithObu, SystemRandomGivesTheHandshakeAndTheCommandValuesOfTheirOwn)
{
    TestTransaction tx(device, kProduct, 0x05, 16);
    tx.SetServices({&clock, &pump});  // the system's AppRandom
    EXPECT_EQ(tx.Run(), ExchangeOutcome::Succeeded);
    const auto seen = obu.Observed();
    ASSERT_EQ(seen.messages.size(), 2u);
    const std::vector<uint8_t> handshake(seen.messages[0].begin() + 8, seen.messages[0].end());
    const std::vector<uint8_t> command(seen.messages[1].begin() + 8, seen.messages[1].end());
    EXPECT_NE(handshake, command);
}

TEST_F(ExchangeWithObu, OnePauseOf200MsBeforeTheCommand)
{
    RecordingClock recording(kScale);
    TestTransaction tx(device, kProduct, 0x05, 16);
    tx.SetRandomSource(random);
    tx.SetServices({&recording, &pump});
    EXPECT_EQ(tx.Run(), ExchangeOutcome::Succeeded);
    EXPECT_EQ(recording.Sleeps(), std::vector<uint32_t>{200});
}

TEST_F(ExchangeWithObu, EightyByteCommandWithAnAnswerSplitInThree)
{
    obu.answerData.assign(48, 0x5C);
    obu.answerChunks = {20, 20, 24};
    TestTransaction tx(device, kProduct, 0x01, 80);
    EXPECT_EQ(Run(tx), ExchangeOutcome::Succeeded);
    const auto seen = obu.Observed();
    ASSERT_EQ(seen.messages.size(), 2u);
    ASSERT_EQ(seen.messages[1].size(), 80u);
    EXPECT_EQ(seen.messages[1][79], TestTransaction::DataByte(63));
    // Two command reports after the one handshake report.
    EXPECT_EQ(seen.reports.size(), 3u);
    EXPECT_EQ(tx.AnswerData()[47], 0x5C);
    EXPECT_EQ(tx.AnswerData()[48], 0x00);
}

TEST_F(ExchangeWithObu, StatusBytesGiveTheirOutcomes)
{
    for (auto [status, outcome] : {std::pair{uint8_t(0x03), ExchangeOutcome::Refused},
                                   std::pair{uint8_t(0x02), ExchangeOutcome::Refused},
                                   std::pair{uint8_t(0x01), ExchangeOutcome::Failed},
                                   std::pair{uint8_t(0x80), ExchangeOutcome::Failed}}) {
        ObuSimulator fresh(kProduct);
        fresh.status = status;
        SimHidPlatform platform(kScale);
        ScopedHidPlatform scope(platform);
        platform.AddDevice("Wendra-OBU").peer = &fresh;
        CHIDDevice obuDevice;
        ASSERT_EQ(obuDevice.OpenDevice(0), kHidDone);
        TestTransaction tx(obuDevice, kProduct, 0x02, 16);
        EXPECT_EQ(Run(tx), outcome) << int(status);
        obuDevice.CloseHandleAndReset();
    }
}

TEST_F(ExchangeWithObu, SilenceEndsWithNoAnswerAfterTheLimit)
{
    obu.answerHandshake = false;
    TestTransaction tx(device, kProduct, 0x05, 16);
    EXPECT_EQ(Run(tx), ExchangeOutcome::NoAnswer);
    EXPECT_GE(elapsedMs, 10000u);
    EXPECT_LT(elapsedMs, 10000u + 1000u + 5000u);  // the limit, one read and scheduling slack
    EXPECT_EQ(obu.Observed().commands, 0);
}

TEST_F(ExchangeWithObu, SilenceAfterTheCommand)
{
    obu.answerCommand = false;
    TestTransaction tx(device, kProduct, 0x05, 16);
    EXPECT_EQ(Run(tx), ExchangeOutcome::NoAnswer);
    EXPECT_EQ(obu.Observed().commands, 1);
}

TEST_F(ExchangeWithObu, AnswerCutShortRunsIntoTheLimit)
{
    obu.answerData.assign(64, 0x33);  // 80 bytes in two reports, only the first sent
    obu.rawAnswer = [](const std::vector<uint8_t>& sealed) { return std::vector<SimReport>{ObuSimulator::Frame(sealed, {})[0]}; };
    TestTransaction tx(device, kProduct, 0x05, 16);
    EXPECT_EQ(Run(tx), ExchangeOutcome::NoAnswer);
    EXPECT_GE(elapsedMs, 10000u);
}

TEST_F(ExchangeWithObu, ObuOfAnotherProductKeyIsRefusedAndGetsNoCommand)
{
    obu.answerProductKey.assign(16, 0x42);
    TestTransaction tx(device, kProduct, 0x01, 80);
    EXPECT_EQ(Run(tx), ExchangeOutcome::Refused);
    EXPECT_EQ(tx.Status(), 2);
    EXPECT_EQ(tx.AnswerData()[0], 2);
    EXPECT_EQ(obu.Observed().commands, 0);
    EXPECT_LT(elapsedMs, 10000u);
}

TEST_F(ExchangeWithObu, RandomKeyAnswerWithANonZeroByteIsRefused)
{
    obu.handshakeByte1 = 0x01;
    TestTransaction tx(device, kProduct, 0x05, 16);
    EXPECT_EQ(Run(tx), ExchangeOutcome::Refused);
    EXPECT_EQ(obu.Observed().commands, 0);
}

TEST_F(ExchangeWithObu, HandshakeAnswerAfterTheLimitSendsNoCommand)
{
    obu.handshakeDelayMs = 10300;  // arrives while the receive thread does its last read
    TestTransaction tx(device, kProduct, 0x01, 80);
    EXPECT_EQ(Run(tx), ExchangeOutcome::NoAnswer);
    EXPECT_EQ(obu.Observed().commands, 0);
    EXPECT_EQ(sim.Written(0).size(), 1u);  // the handshake request only
}

TEST_F(ExchangeWithObu, AnswerAfterTheLimitDuringTheLastReadStillCounts)
{
    // Reads that outlast the wait: the read in progress when the wait ends
    // still takes the answer, and a complete answer counts.
    static constexpr ExchangeProfile kLongReads = {.ioTimeoutMs = 20000};
    obu.answerDelayMs = 10400;
    TestTransaction tx(device, kProduct, 0x05, 16, kLongReads);
    EXPECT_EQ(Run(tx), ExchangeOutcome::Succeeded);
    EXPECT_GE(elapsedMs, 10000u);
}

TEST_F(ExchangeWithObu, ReadFailuresEndInNoAnswer)
{
    SimHidPlatform platform(kScale);
    ScopedHidPlatform scope(platform);
    SimHidDevice& broken = platform.AddDevice("Wendra-OBU");
    broken.peer = &obu;
    broken.readFails = true;
    CHIDDevice brokenDevice;
    ASSERT_EQ(brokenDevice.OpenDevice(0), kHidDone);
    TestTransaction tx(brokenDevice, kProduct, 0x05, 16);
    EXPECT_EQ(Run(tx), ExchangeOutcome::NoAnswer);
    EXPECT_LT(elapsedMs, 10000u);  // no answer can come: the exchange ends at once
    brokenDevice.CloseHandleAndReset();
}

TEST_F(ExchangeWithObu, FailedWritesEndTheExchangeAtOnceAsNoAnswer)
{
    // The handshake request, the command, or the first of its two reports
    // cannot be written: no answer can come, so none is waited for. (A slower
    // scale than the other cases': the budget is one read, 20 ms of real time
    // at theirs, too short for thread starts under Wine.)
    constexpr double kSlower = 10;
    ScaledClock slower(kSlower);
    struct Case {
        const char* what;
        size_t writesThatGo;
        HidIoResult result;
        size_t length;
    } cases[] = {
        {"handshake request fails", 0, HidIoResult::Failed, 16},
        {"handshake request times out", 0, HidIoResult::TimedOut, 16},
        {"command fails", 1, HidIoResult::Failed, 16},
        {"first report of an 80-byte command times out", 1, HidIoResult::TimedOut, 80},
    };
    for (const auto& c : cases) {
        ObuSimulator fresh(kProduct);
        SimHidPlatform platform(kSlower);
        ScopedHidPlatform scope(platform);
        SimHidDevice& failing = platform.AddDevice("Wendra-OBU");
        failing.peer = &fresh;
        failing.writeResult = c.result;
        failing.writesBeforeResult = c.writesThatGo;
        CHIDDevice obuDevice;
        ASSERT_EQ(obuDevice.OpenDevice(0), kHidDone);
        FixedRandom draws({kHandshakeRandom, kCommandRandom});
        TestTransaction tx(obuDevice, kProduct, 0x01, c.length);
        tx.SetRandomSource(draws);
        tx.SetServices({&slower, &pump});
        const uint64_t start = slower.NowMs();
        EXPECT_EQ(tx.Run(), ExchangeOutcome::NoAnswer) << c.what;
        // At most the receive thread's current read (1000 ms) after the write.
        EXPECT_LT(slower.NowMs() - start, 1000u + 1500u) << c.what;
        EXPECT_EQ(platform.Written(0).size(), c.writesThatGo) << c.what << ": nothing more is written";
        EXPECT_EQ(fresh.Observed().commands, 0) << c.what;
        obuDevice.CloseHandleAndReset();
    }
}

TEST_F(ExchangeWithObu, AnswerWithALengthThatCannotBeDecryptedIsNoAnswer)
{
    obu.answerData.assign(16, 0x01);  // 32 bytes sealed, 20 of them sent
    obu.rawAnswer = [](const std::vector<uint8_t>& sealed) {
        std::vector<uint8_t> cut(sealed.begin(), sealed.begin() + 20);
        return ObuSimulator::Frame(cut, {});
    };
    TestTransaction tx(device, kProduct, 0x05, 16);
    EXPECT_EQ(Run(tx), ExchangeOutcome::NoAnswer);
    EXPECT_LT(elapsedMs, 10000u);  // ended at once, not by the limit
}

TEST_F(ExchangeWithObu, ReportsLongerThanTheReceiveBufferAreReadWhole)
{
    // A device whose input report is 300 bytes: the reads must not overrun.
    SimHidPlatform platform(kScale);
    ScopedHidPlatform scope(platform);
    SimHidDevice& big = platform.AddDevice("Wendra-OBU");
    big.caps = {300, 64, 0};
    big.peer = &obu;
    obu.rawAnswer = [](const std::vector<uint8_t>&) {
        SimReport r(300, 0xA5);
        r[0] = 0x01; r[1] = 0x01; r[2] = 0; r[3] = 0; r[4] = 0; r[5] = 0x00; r[6] = 0xFF; r[7] = 0xFF; r[8] = 0;
        return std::vector<SimReport>{r};
    };
    CHIDDevice bigDevice;
    ASSERT_EQ(bigDevice.OpenDevice(0), kHidDone);
    TestTransaction tx(bigDevice, kProduct, 0x05, 16);
    EXPECT_EQ(Run(tx), ExchangeOutcome::NoAnswer);  // 255 bytes: not whole blocks
    EXPECT_LT(elapsedMs, 10000u);                   // refused at once
    bigDevice.CloseHandleAndReset();
}

TEST_F(ExchangeWithObu, TracesTheSharedSteps)
{
    RecordingTraceSink sink;
    ScopedTraceSink scope(sink);
    TestTransaction tx(device, kProduct, 0x05, 16);
    ASSERT_EQ(Run(tx), ExchangeOutcome::Succeeded);
    const auto lines = sink.Lines();
    auto indexOf = [&](const std::string& text) {
        for (size_t i = 0; i < lines.size(); ++i)
            if (lines[i] == text) return static_cast<int>(i);
        return -1;
    };
    const int product = indexOf("[APP] [m_ProductNum]");
    ASSERT_GE(product, 0);
    auto withheld = [](size_t n) {
        std::string groups = "        ";
        for (size_t i = 0; i < n; ++i) groups += "[**]";
        return groups;
    };
    EXPECT_EQ(lines[product + 1], withheld(16)) << "the product key stays out of the traces";
    const int start = indexOf("[APP] ================> Start : Test <==================");
    const int request = indexOf("[APP] [RandomKey 정보 요청-암호화전]");
    const int answer = indexOf("[APP] [Return 되는 처리 결과 Get RandomKey]");
    const int result = indexOf("[APP] [Return 되는 처리 결과]");
    const int finish = indexOf("[APP] ======> Finish Test Transaction <======");
    EXPECT_LT(product, start);
    EXPECT_LT(start, request);
    EXPECT_LT(request, answer);
    EXPECT_LT(answer, result);
    EXPECT_LT(result, finish);
    EXPECT_EQ(lines[request + 1], "        [10][00][00][00][00][00][00][00][01][12][23][34][45][56][67][78]");
    EXPECT_EQ(lines[answer + 1], "        Command   : [10]");
    const int key = indexOf("[APP] [AES 암호화 키]");
    ASSERT_GE(key, 0);
    EXPECT_EQ(lines[key + 1], withheld(32)) << "nor do the session keys";
    for (const std::string& line : lines)
        EXPECT_EQ(line.find("[3c][11][22]"), std::string::npos) << line;
}

TEST(ExchangeRealTime, OneRunOnTheRealClock)
{
    SimHidPlatform platform;
    ScopedHidPlatform scope(platform);
    ObuSimulator obu(kProduct);
    obu.answerData = {0x09};
    platform.AddDevice("Wendra-OBU").peer = &obu;
    CHIDDevice device;
    ASSERT_EQ(device.OpenDevice(0), kHidDone);
    TestTransaction tx(device, kProduct, 0x05, 16);
    const uint64_t start = corvane::MonotonicMs();
    EXPECT_EQ(tx.Run(), ExchangeOutcome::Succeeded);
    const uint64_t elapsed = corvane::MonotonicMs() - start;
    EXPECT_GE(elapsed, 190u);  // the pause before the command (timer granularity aside)
    // The receive thread ends with the answer, not after one more read of up
    // to 1000 ms (that would make it 1200 ms at least).
    EXPECT_LT(elapsed, 1000u);
    EXPECT_EQ(tx.AnswerData()[0], 0x09);
    device.CloseHandleAndReset();
}

// ---- The receive state machine, report by report ----

class ReceiveStateMachine : public ::testing::Test {
protected:
    void SetUp() override
    {
        sim.AddDevice("Wendra-OBU");
        ASSERT_EQ(device.OpenDevice(0), kHidDone);
        tx = std::make_unique<TestTransaction>(device, kProduct, 0x05, 16);
        tx->SetServices({&fast, &pump});
        tx->SetRandomSource(random);
        tx->SetAppRandom(kHandshakeRandom);
    }
    void TearDown() override
    {
        tx.reset();
        device.CloseHandleAndReset();
    }

    // The OBU's random-key answer as one 64-byte report.
    SimReport HandshakeAnswer(uint8_t command = 0x10, uint8_t byte1 = 0)
    {
        std::vector<uint8_t> plain(16, 0);
        plain[0] = command;
        plain[1] = byte1;
        std::memcpy(&plain[8], kDeviceRandom, 8);
        const auto key = ObuSimulator::DeviceKey(kProduct, kHandshakeRandom, nullptr);
        return ObuSimulator::Frame(ReferenceAes(key.data(), 32).EncryptCbc(plain), {})[0];
    }
    // The encrypted answer to the command (status, data).
    std::vector<uint8_t> SealedAnswer(uint8_t status, size_t dataLength)
    {
        std::vector<uint8_t> plain(16 + dataLength, 0);
        plain[0] = 0x05;
        plain[1] = status;
        for (size_t i = 16; i < plain.size(); ++i) plain[i] = static_cast<uint8_t>(i);
        plain.resize((plain.size() + 15) / 16 * 16);
        const auto key = ObuSimulator::DeviceKey(kProduct, kCommandRandom, kDeviceRandom);
        return ReferenceAes(key.data(), 32).EncryptCbc(plain);
    }
    void Feed(const SimReport& report) { tx->OnReceive(report.data(), report.size()); }
    void HandshakeDone()
    {
        tx->AllowSending();
        tx->AskRandomKey();
        const size_t before = sim.Written(0).size();
        Feed(HandshakeAnswer());
        ASSERT_TRUE(tx->RandomKnown());
        ASSERT_EQ(sim.Written(0).size(), before + 1);  // the command went out
    }
    static SimReport RawReport(uint8_t type, uint16_t index, uint32_t total, uint8_t length, size_t size = 64)
    {
        SimReport r(size, 0x6B);
        r[0] = 0x01; r[1] = type; r[2] = uint8_t(index >> 8); r[3] = uint8_t(index);
        r[4] = uint8_t(total >> 16); r[5] = uint8_t(total >> 8); r[6] = uint8_t(total); r[7] = length; r[8] = 0;
        return r;
    }

    static constexpr uint8_t kDeviceRandom[8] = {0xE1, 0xE2, 0xE3, 0xE4, 0xE5, 0xE6, 0xE7, 0xE8};
    SimHidPlatform sim;
    ScopedHidPlatform active{sim};
    ScaledClock fast{1000};
    CountingPump pump;
    FixedRandom random{{kCommandRandom}};
    CHIDDevice device;
    std::unique_ptr<TestTransaction> tx;
};

TEST_F(ReceiveStateMachine, RandomKeyAnswerYieldsDeviceRandomAndTheCommand)
{
    HandshakeDone();
    EXPECT_EQ(0, std::memcmp(tx->DeviceRandom(), kDeviceRandom, 8));
    EXPECT_EQ(0, std::memcmp(tx->AppRandom(), kCommandRandom, 8));
    EXPECT_FALSE(tx->IsDone());
    // The command went under the command send key: the simulator's key opens it.
    const auto key = ObuSimulator::DeviceKey(kProduct, nullptr, kDeviceRandom);
    const SimReport sent = sim.Written(0).back();
    const auto plain = ReferenceAes(key.data(), 32).DecryptCbc(std::vector<uint8_t>(sent.begin() + 9, sent.begin() + 25));
    EXPECT_EQ(plain[0], 0x05);
}

TEST_F(ReceiveStateMachine, RefusedRandomKeyAnswerSendsNothing)
{
    tx->AllowSending();
    tx->AskRandomKey();
    Feed(HandshakeAnswer(0x10, 0x01));
    EXPECT_TRUE(tx->IsDone());
    EXPECT_EQ(tx->Status(), 2);
    EXPECT_EQ(sim.Written(0).size(), 1u);  // the random-key request only
}

TEST_F(ReceiveStateMachine, RandomKeyAnswerAfterTheWaitSendsNothing)
{
    tx->AllowSending();
    tx->AskRandomKey();
    tx->StopSending();  // the wait has ended
    Feed(HandshakeAnswer());
    EXPECT_TRUE(tx->RandomKnown());
    EXPECT_EQ(sim.Written(0).size(), 1u);
    EXPECT_FALSE(tx->IsDone());
}

TEST_F(ReceiveStateMachine, ReportsThatAnswerNoRequestAreDropped)
{
    // Before any request, between the random-key answer and the command, and
    // after the answer: nothing is taken.
    Feed(HandshakeAnswer());
    EXPECT_FALSE(tx->RandomKnown());
    HandshakeDone();
    const auto reports = ObuSimulator::Frame(SealedAnswer(0, 0), {});
    Feed(reports[0]);
    ASSERT_TRUE(tx->IsDone());
    Feed(HandshakeAnswer(0x10, 0x01));  // a second random-key answer is not taken
    EXPECT_EQ(tx->Status(), 0);
    EXPECT_EQ(sim.Written(0).size(), 2u);
}

TEST_F(ReceiveStateMachine, AnAnswerToAnotherCommandIsDroppedAndTheRightOneTaken)
{
    HandshakeDone();
    std::vector<uint8_t> other(16, 0);
    other[0] = 0x01;  // the answer an activation would get, under this exchange's keys
    other[1] = 0x02;
    const auto key = ObuSimulator::DeviceKey(kProduct, kCommandRandom, kDeviceRandom);
    Feed(ObuSimulator::Frame(ReferenceAes(key.data(), 32).EncryptCbc(other), {})[0]);
    EXPECT_FALSE(tx->IsDone());
    Feed(ObuSimulator::Frame(SealedAnswer(0, 16), {})[0]);
    EXPECT_TRUE(tx->IsDone());
    EXPECT_EQ(ClassifyOutcome(tx->IsDone(), tx->IsAnswerUsable(), tx->Status()), ExchangeOutcome::Succeeded);
}

TEST_F(ReceiveStateMachine, IgnoresForeignReports)
{
    tx->AllowSending();
    tx->AskRandomKey();
    SimReport foreign = HandshakeAnswer();
    foreign[0] = 0x02;
    Feed(foreign);
    SimReport type3 = HandshakeAnswer();
    type3[1] = 3;
    Feed(type3);
    SimReport type2 = HandshakeAnswer();
    type2[1] = 2;  // Data Type 2 is never the random-key answer
    Feed(type2);
    SimReport longer = HandshakeAnswer();
    longer[6] = 64;  // nor is the first report of a longer message
    Feed(longer);
    tx->OnReceive(foreign.data(), 5);  // shorter than a header
    EXPECT_FALSE(tx->RandomKnown());
    EXPECT_EQ(sim.Written(0).size(), 1u);
}

TEST_F(ReceiveStateMachine, AnswerInTwoReportsIsDecryptedOnceComplete)
{
    HandshakeDone();
    const auto sealed = SealedAnswer(0, 48);  // 64 bytes
    const auto reports = ObuSimulator::Frame(sealed, {40, 24});
    Feed(reports[0]);
    EXPECT_FALSE(tx->IsDone());
    // A new Packet Index 0 restarts the gathering.
    Feed(reports[0]);
    EXPECT_FALSE(tx->IsDone());
    Feed(reports[1]);
    EXPECT_TRUE(tx->IsDone());
    EXPECT_TRUE(tx->IsAnswerUsable());
    EXPECT_EQ(tx->AnswerData()[0], 16);
    EXPECT_EQ(tx->AnswerData()[47], 63);
}

TEST_F(ReceiveStateMachine, DataTypeOneAfterTheHandshakeIsAnswerData)
{
    HandshakeDone();
    const auto reports = ObuSimulator::Frame(SealedAnswer(0x01, 0), {});
    ASSERT_EQ(reports[0][1], 1);
    Feed(reports[0]);
    EXPECT_TRUE(tx->IsDone());
    EXPECT_EQ(tx->Status() & 0xFF, 0x01);
}

TEST_F(ReceiveStateMachine, AnswerHandledStandsAgainstLaterGarbage)
{
    HandshakeDone();
    Feed(ObuSimulator::Frame(SealedAnswer(0, 0), {})[0]);
    ASSERT_TRUE(tx->IsDone());
    Feed(RawReport(1, 0, 20, 20));  // a reader that goes on meets a broken report
    EXPECT_TRUE(tx->IsAnswerUsable());
    EXPECT_EQ(ClassifyOutcome(tx->IsDone(), tx->IsAnswerUsable(), tx->Status()), ExchangeOutcome::Succeeded);
}

TEST_F(ReceiveStateMachine, HostileAnswersOnlyFail)
{
    struct Case { const char* what; std::vector<SimReport> reports; } cases[] = {
        {"Length above the report's data", {RawReport(1, 0, 64, 56)}},
        {"Length 255 in a 64-byte report", {RawReport(1, 0, 255, 255)}},
        {"DataLength and Length 0", {RawReport(1, 0, 0, 0)}},
        {"20 bytes, not whole blocks", {RawReport(1, 0, 20, 20)}},
        {"DataLength beyond the buffer", {RawReport(1, 0, 0xFFFFFF, 55)}},
    };
    for (auto& c : cases) {
        TearDown();
        SetUp();
        HandshakeDone();
        for (auto& r : c.reports) Feed(r);
        EXPECT_TRUE(tx->IsDone()) << c.what;
        EXPECT_FALSE(tx->IsAnswerUsable()) << c.what;
        EXPECT_EQ(ClassifyOutcome(tx->IsDone(), tx->IsAnswerUsable(), tx->Status()), ExchangeOutcome::NoAnswer)
            << c.what;
    }
}

TEST_F(ReceiveStateMachine, EndlessAppendingStopsAtTheBuffer)
{
    HandshakeDone();
    Feed(RawReport(1, 0, 1024, 55));
    for (uint16_t i = 1; i < 40 && !tx->IsDone(); ++i) Feed(RawReport(2, i, 1024, 55));
    EXPECT_TRUE(tx->IsDone());
    EXPECT_FALSE(tx->IsAnswerUsable());
}

TEST_F(ReceiveStateMachine, LongAnswerKeepsTheFirst256DataBytes)
{
    HandshakeDone();
    const auto sealed = SealedAnswer(0, 1008);  // 1024 bytes in 19 reports
    for (const auto& r : ObuSimulator::Frame(sealed, {})) Feed(r);
    EXPECT_TRUE(tx->IsDone());
    EXPECT_TRUE(tx->IsAnswerUsable());
    EXPECT_EQ(tx->AnswerData()[255], static_cast<uint8_t>(16 + 255));
}

TEST_F(ReceiveStateMachine, AnswerUnderTheWrongKeyIsNotTaken)
{
    HandshakeDone();
    std::vector<uint8_t> plain(16, 0);
    plain[0] = 0x05;
    const auto key = ObuSimulator::DeviceKey(kProduct, kHandshakeRandom, kDeviceRandom);  // not the command's AppRandom
    Feed(ObuSimulator::Frame(ReferenceAes(key.data(), 32).EncryptCbc(plain), {})[0]);
    EXPECT_FALSE(tx->IsDone());  // decryptable, but not the command's answer: its status would be noise
}

TEST_F(ReceiveStateMachine, RandomReportsNeverOverrunOrRaise)
{
    // Reports of random headers and lengths, before and after the handshake.
    std::mt19937 gen(1234);
    for (int run = 0; run < 300; ++run) {
        TearDown();
        SetUp();
        if (run % 2) HandshakeDone();
        for (int i = 0; i < 30 && !tx->IsDone(); ++i) {
            SimReport r(1 + gen() % 300);
            for (auto& b : r) b = static_cast<uint8_t>(gen());
            if (r.size() > 1) r[1] = static_cast<uint8_t>(1 + gen() % 2);
            r[0] = gen() % 8 ? 0x01 : 0x00;
            Feed(r);
        }
        const ExchangeOutcome outcome = ClassifyOutcome(tx->IsDone(), tx->IsAnswerUsable(), tx->Status());
        EXPECT_TRUE(outcome != ExchangeOutcome::Succeeded || tx->IsAnswerUsable());
    }
}

// ---- The channel's rule, request by request ----

// Hands the channel's reports to a record: what each one was to the exchange
// ("unrequested", "random-key", "part", "malformed", "answer"), "taken" once an
// answer was taken. Answers come in clear: byte 0 is the command.
class ChannelRecord : public CExchangeChannel::Receiver {
public:
    void ReportSeen(const uint8_t*, const CExchangeChannel::Intake& in) override
    {
        static const char* const kNames[] = {"foreign", "unrequested", "random-key", "part", "malformed", "answer"};
        last = kNames[in.kind];
    }
    void RandomKeyAnswerTaken(const CExchangeChannel::Intake&) override {}
    void MalformedAnswer(const CExchangeChannel::Intake&) override {}
    const uint8_t* OpenAnswer(const CExchangeChannel::Intake& in) override { return in.data; }
    void AnswerTaken(const CExchangeChannel::Intake&, const uint8_t*) override { last = "taken"; }
    std::string last;
};

TEST(ChannelRule, EachReportIsTakenOnlyAsTheAnswerOfTheRequestOutstanding)
{
    CHIDDevice device;
    CExchangeChannel channel(device, {kObuReportLayout}, ExchangeTrace());
    channel.AllowSendingWithoutReaderForTests();
    ChannelRecord record;
    using Awaiting = CExchangeChannel::Awaiting;
    auto send = [&](Awaiting awaited, uint8_t command) {
        return channel.Send(
            awaited, [&](uint8_t*) { return CExchangeChannel::SealedRequest{16, command}; },
            [](size_t, const uint8_t*) { return true; });
    };
    auto message = [](uint8_t command, size_t length) {
        std::vector<uint8_t> m(length, 0x5A);
        m[0] = command;
        return m;
    };
    const SimReport oneBlock = ObuSimulator::Frame(message(0x10, 16), {})[0];
    SimReport oneBlockAtIndex1 = oneBlock;
    oneBlockAtIndex1[3] = 1;
    const SimReport twoBlocks = ObuSimulator::Frame(message(0x05, 32), {})[0];
    const auto answerInTwo = ObuSimulator::Frame(message(0x05, 64), {40, 24});
    const SimReport answer05 = ObuSimulator::Frame(message(0x05, 16), {})[0];
    const SimReport answer06 = ObuSimulator::Frame(message(0x06, 16), {})[0];

    struct Step {
        const char* what;
        Awaiting send;            // a request goes out first (Nothing: none)
        uint8_t command;
        const SimReport* report;  // then this report comes
        const char* expected;
    } steps[] = {
        {"before any request", Awaiting::Nothing, 0, &oneBlock, "unrequested"},
        {"random key: two blocks are not its answer", Awaiting::RandomKeyAnswer, 0x10, &twoBlocks, "unrequested"},
        {"random key: nor a block at Packet Index 1", Awaiting::Nothing, 0, &oneBlockAtIndex1, "unrequested"},
        {"random key: one whole block is", Awaiting::Nothing, 0, &oneBlock, "random-key"},
        {"the random key's request is settled", Awaiting::Nothing, 0, &oneBlock, "unrequested"},
        {"a command's answer, first part", Awaiting::Answer, 0x05, &answerInTwo[0], "part"},
        {"a new request: the earlier part is let go", Awaiting::Answer, 0x05, &answerInTwo[1], "part"},
        {"another command's answer", Awaiting::Nothing, 0, &answer06, "answer"},
        {"the command's answer", Awaiting::Nothing, 0, &answer05, "taken"},
        {"once", Awaiting::Nothing, 0, &answer05, "unrequested"},
        {"the next request's", Awaiting::Answer, 0x05, &answer05, "taken"},
    };
    for (const Step& step : steps) {
        if (step.send != Awaiting::Nothing) ASSERT_EQ(send(step.send, step.command), CExchangeChannel::SendResult::Sent);
        record.last.clear();
        channel.Receive(step.report->data(), step.report->size(), record);
        EXPECT_EQ(record.last, step.expected) << step.what;
    }

    // An answer read for one request is not taken once another has gone out
    // meanwhile: the new request stays outstanding.
    ASSERT_EQ(send(Awaiting::Answer, 0x05), CExchangeChannel::SendResult::Sent);
    const CExchangeChannel::Intake early = channel.Take(answer05.data(), answer05.size());
    ASSERT_EQ(early.kind, CExchangeChannel::Intake::Answer);
    ASSERT_EQ(send(Awaiting::Answer, 0x05), CExchangeChannel::SendResult::Sent);
    EXPECT_FALSE(channel.Accept(early, 0x05));
    channel.Receive(answer05.data(), answer05.size(), record);
    EXPECT_EQ(record.last, "taken");
}

TEST(ReceiveLoop, ExceptionsOnTheReceiveThreadEndTheLoopOnly)
{
    SimHidPlatform sim(1000);
    ScopedHidPlatform active(sim);
    sim.AddDevice("Wendra-OBU");
    CHIDDevice device;
    ASSERT_EQ(device.OpenDevice(0), kHidDone);
    device.m_dwReadTimeout = 1000;
    SimReport r(64, 0);
    r[0] = 1;
    sim.QueueInput(0, r);
    std::atomic<bool> run{true}, done{false};
    bool faulted = false;
    ReceiveLoop(device, run, &done, SystemExchangeClock(),
                [](const uint8_t*, size_t) { throw std::runtime_error("x"); }, [&] { faulted = true; });
    EXPECT_TRUE(faulted);

    // A report whose handling finds no memory, and a fault handler that finds
    // none either: the loop still returns instead of throwing.
    sim.QueueInput(0, r);
    EXPECT_NO_THROW(ReceiveLoop(
        device, run, &done, SystemExchangeClock(), [](const uint8_t*, size_t) { throw std::bad_alloc(); },
        [] { throw std::bad_alloc(); }));
    device.CloseHandleAndReset();
}

// The biometric unit's profile: report id 0, 65-byte reports, answers taken
// from one report.
constexpr ExchangeProfile kUnit = {.layout = kBiuReportLayout,
                                   .ioTimeoutMs = 100,
                                   .waitLimitMs = 5000,
                                   .pauseBeforeCommandMs = 100,
                                   .refuseBadRandomKeyAnswer = false,
                                   .answerFraming = AnswerFraming::SingleReport};

TEST(BiometricProfile, FailedWriteEndsTheExchangeAtOnce)
{
    SimHidPlatform sim(50);
    ScopedHidPlatform active(sim);
    SimHidDevice& unit = sim.AddDevice("[wendra] unit");
    unit.caps = {65, 65, 0};
    unit.writeResult = HidIoResult::Failed;
    CBIUHIDDevice device;
    ASSERT_EQ(device.OpenDevice(0), kHidDone);
    ScaledClock clock(50);
    CountingPump pump;
    TestTransaction tx(device, kProduct, 0x20, 16, kUnit);
    tx.SetServices({&clock, &pump});
    const uint64_t start = clock.NowMs();
    EXPECT_EQ(tx.Run(), ExchangeOutcome::NoAnswer);
    EXPECT_LT(clock.NowMs() - start, 2500u) << "the unit's 5000 ms are not waited out";
    device.CloseHandleAndReset();
}

TEST(BiometricProfile, SingleReportAnswerUsesTheReportsLength)
{
    SimHidPlatform sim;
    ScopedHidPlatform active(sim);
    sim.AddDevice("[wendra] unit").caps = {65, 65, 0};
    CBIUHIDDevice device;
    ASSERT_EQ(device.OpenDevice(0), kHidDone);
    ScaledClock fast(1000);
    CountingPump pump;
    FixedRandom random({kCommandRandom});
    TestTransaction tx(device, kProduct, 0x20, 16, kUnit);
    tx.SetServices({&fast, &pump});
    tx.SetRandomSource(random);
    const uint8_t deviceRandom[8] = {7, 7, 7, 7, 7, 7, 7, 7};
    tx.SetDeviceRandom(deviceRandom);
    tx.AllowSending();
    uint8_t key[32];
    CommandSendKey(key, kProduct, deviceRandom);
    tx.SendCommand(key);
    const auto written = sim.Written(0);
    ASSERT_EQ(written.size(), 1u);
    EXPECT_EQ(written[0].size(), 65u);
    EXPECT_EQ(written[0][0], 0x00);
    EXPECT_EQ(written[0][7], 16);

    std::vector<uint8_t> plain(16, 0);
    plain[0] = 0x20;
    const auto answerKey = ObuSimulator::DeviceKey(kProduct, kCommandRandom, deviceRandom);
    const auto sealed = ReferenceAes(answerKey.data(), 32).EncryptCbc(plain);
    SimReport report(65, 0);
    report[0] = 0x00; report[1] = 1; report[6] = 0x40; report[7] = 16;  // DataLength 64 is not looked at
    std::memcpy(&report[9], sealed.data(), 16);
    SimReport obuReport = report;
    obuReport[0] = 0x01;
    tx.OnReceive(obuReport.data(), obuReport.size());
    EXPECT_FALSE(tx.IsDone());  // report id 1 is not the unit's
    tx.OnReceive(report.data(), report.size());
    EXPECT_TRUE(tx.IsDone());
    EXPECT_TRUE(tx.IsAnswerUsable());
    device.CloseHandleAndReset();
}

}  // namespace
