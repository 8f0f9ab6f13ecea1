// The unit's transactions against the fingerprint-unit simulator: their
// requests byte for byte, their result texts, message boxes and traces, and
// what silence, refusals, a wrong product key and hostile answers make of them.
#include <gtest/gtest.h>

#include <algorithm>
#include <atomic>
#include <cstring>
#include <functional>
#include <mutex>
#include <random>
#include <string>
#include <vector>

#include "biometric/biu_message_box.h"
#include "biometric/holder_info.h"
#include "biometric/single_report_transaction.h"
#include "biometric/unit_info.h"
#include "biometric/user_info.h"
#include "framework/clock.h"
#include "tests/obulink/test_transaction.h"
#include "tests/sim/biu_simulator.h"
#include "tests/sim/obu_simulator.h"
#include "tests/sim/reference_aes.h"
#include "tests/sim/scaled_clock.h"
#include "tests/sim/sim_hid_platform.h"

namespace {

const uint8_t kProduct[16] = {0x3C, 0x11, 0x22, 0x33, 0x44, 0x55, 0x66, 0x77,
                              0x88, 0x99, 0xAA, 0xBB, 0xCC, 0xDD, 0xEE, 0xF0};
const uint8_t kCommandRandom[8] = {0x90, 0x81, 0x72, 0x63, 0x54, 0x45, 0x36, 0xFE};

class RecordingBoxes : public BiuMessageBoxes {
public:
    struct Box {
        BiuOwnerWindow owner;
        std::string text;
        std::string caption;
        unsigned type;
    };
    int Show(BiuOwnerWindow owner, const char* text, const char* caption, unsigned type) override
    {
        std::lock_guard<std::mutex> hold(m_lock);
        m_boxes.push_back({owner, text, caption, type});
        return kBiuBoxResultOk;
    }
    std::vector<Box> Boxes() const
    {
        std::lock_guard<std::mutex> hold(m_lock);
        return m_boxes;
    }

private:
    mutable std::mutex m_lock;
    std::vector<Box> m_boxes;
};

class IdlePump : public MessagePump {
public:
    void DispatchPending(uint32_t idleMs) override { corvane::SleepMs(idleMs); }
};

// Holds the request thread's wait until the receive thread has begun a read
// after the one that brought the command's answer (or 2 s have passed), so
// that the reads after an answer can be counted without a race: the receive
// thread's pause before the command waits until the request thread waits,
// and the request thread then looks at the done flag only between calls of
// its message pump, which return once that read has begun.
class ReadsAfterTheAnswer : public ExchangeClock, public MessagePump {
public:
    ReadsAfterTheAnswer(SimHidPlatform& sim, double scale) : m_sim(sim), m_clock(scale) {}

    uint64_t NowMs() override { return m_clock.NowMs(); }
    void SleepMs(uint32_t milliseconds) override
    {
        for (int i = 0; i < 2000 && !m_waiting.load(); ++i) corvane::SleepMs(1);
        m_clock.SleepMs(milliseconds);
    }
    void DispatchPending(uint32_t) override
    {
        m_waiting = true;
        for (int i = 0; i < 2000 && !ReadBegunAfterTheAnswer(); ++i) corvane::SleepMs(1);
    }

    // The read that brought the answer: the first read done after the second
    // write (the command); log.size() when there is none.
    static size_t AnswerRead(const std::vector<SimIo>& log)
    {
        size_t writes = 0;
        for (size_t i = 0; i < log.size(); ++i) {
            writes += log[i].write;
            if (writes == 2 && !log[i].write && log[i].result == HidIoResult::Done) return i;
        }
        return log.size();
    }

private:
    bool ReadBegunAfterTheAnswer() const
    {
        const auto log = m_sim.IoLog(0);
        if (AnswerRead(log) == log.size()) return false;
        const auto readsEnded = std::count_if(log.begin(), log.end(), [](const SimIo& io) { return !io.write; });
        return m_sim.ReadCalls() > static_cast<size_t>(readsEnded);
    }

    SimHidPlatform& m_sim;
    ScaledClock m_clock;
    std::atomic<bool> m_waiting{false};
};

std::vector<uint8_t> Bytes(const SimReport& r, size_t from, size_t to)
{
    return std::vector<uint8_t>(r.begin() + from, r.begin() + to);
}

using RawAnswer = std::function<std::vector<SimReport>(uint8_t, const std::vector<uint8_t>&)>;

// The unit's answer with byte `at` of its first report set to `value`.
RawAnswer FirstReportPatched(size_t at, uint8_t value)
{
    return [at, value](uint8_t, const std::vector<uint8_t>& sealed) {
        auto reports = BiuSimulator::Frame(sealed);
        reports[0][at] = value;
        return reports;
    };
}

// `count` reports of 56 bytes each announcing a message of `total` bytes.
RawAnswer EndlessReports(uint32_t total, uint16_t count)
{
    return [total, count](uint8_t, const std::vector<uint8_t>&) {
        std::vector<SimReport> reports;
        for (uint16_t i = 0; i < count; ++i) {
            SimReport r(65, 0x5A);
            r[0] = 0; r[1] = i ? 2 : 1; r[2] = uint8_t(i >> 8); r[3] = uint8_t(i);
            r[4] = uint8_t(total >> 16); r[5] = uint8_t(total >> 8); r[6] = uint8_t(total); r[7] = 56; r[8] = 0;
            reports.push_back(r);
        }
        return reports;
    };
}

// A unit of its own on a platform of its own, for cases that each need a fresh one.
struct AttachedUnit {
    explicit AttachedUnit(double scale, RawAnswer answer = nullptr) : platform(scale)
    {
        unit.rawAnswer = std::move(answer);
        unit.PlugInto(platform, "[wendra]");
        opened = record.OpenDevice(0) == kHidDone;
    }
    ~AttachedUnit() { record.CloseHandleAndReset(); }

    BiuSimulator unit{kProduct};
    SimHidPlatform platform;
    ScopedHidPlatform scope{platform};
    CBIUHIDDevice record;
    bool opened = false;
};

class UnitTransactions : public ::testing::Test {
protected:
    static constexpr double kScale = 25;  // 5000 ms of waiting take 200 ms
    // One 100 ms read after the wait, and scheduling on a loaded machine (in
    // scaled time: 10000 ms are 400 ms of real time).
    static constexpr uint64_t kSlackMs = 10000;

    void SetUp() override
    {
        unit.PlugInto(sim);
        ASSERT_EQ(record.OpenDevice(0), kHidDone);
    }
    void TearDown() override { record.CloseHandleAndReset(); }

    template <class Transaction, class Entry>
    auto Run(Transaction& tx, Entry entry)
    {
        tx.SetServices({&clock, &pump});
        tx.SetRandomSource(random);
        const uint64_t start = clock.NowMs();
        auto result = entry();
        elapsedMs = clock.NowMs() - start;
        return result;
    }

    // What the agent must write: report id 0, the header of a message of `n`
    // bytes cut in 56-byte reports, the message sealed under `key` by the
    // simulator's own cipher, zeros after the data.
    static std::vector<SimReport> ExpectedReports(const std::vector<uint8_t>& plain, const std::vector<uint8_t>& key)
    {
        return BiuSimulator::Frame(ReferenceAes(key.data(), 32).EncryptCbc(plain));
    }
    static std::vector<uint8_t> HandshakeRequest()
    {
        std::vector<uint8_t> plain(16, 0);
        plain[0] = 0x10;
        CBiuTransaction::FixedHandshakeRandom(&plain[8]);
        return plain;
    }
    std::vector<uint8_t> ShortRequest(uint8_t command, uint8_t user = 0) const
    {
        std::vector<uint8_t> plain(16, 0);
        plain[0] = command;
        plain[2] = user;
        std::memcpy(&plain[8], kCommandRandom, 8);
        return plain;
    }
    std::vector<uint8_t> HandshakeKey() const { return ObuSimulator::DeviceKey(kProduct, nullptr, nullptr); }
    std::vector<uint8_t> CommandKey() const { return ObuSimulator::DeviceKey(kProduct, nullptr, unit.deviceRandom); }

    // The two requests of a 16-byte transaction, byte for byte.
    void ExpectShortExchangeWritten(uint8_t command, uint8_t user = 0)
    {
        const auto written = sim.Written(0);
        ASSERT_EQ(written.size(), 2u);
        EXPECT_EQ(written[0], ExpectedReports(HandshakeRequest(), HandshakeKey())[0]);
        EXPECT_EQ(written[1], ExpectedReports(ShortRequest(command, user), CommandKey())[0]);
        EXPECT_EQ(Bytes(written[0], 0, 9), (std::vector<uint8_t>{0x00, 0x01, 0x00, 0x00, 0x00, 0x00, 0x10, 0x10, 0x00}));
        EXPECT_EQ(Bytes(written[1], 25, 65), std::vector<uint8_t>(40, 0));
    }

    std::vector<std::string> BoxTexts() const
    {
        std::vector<std::string> texts;
        for (const auto& box : boxes.Boxes()) texts.push_back(box.text + " | " + box.caption);
        return texts;
    }

    SimHidPlatform sim{kScale};
    ScopedHidPlatform active{sim};
    ScaledClock clock{kScale};
    IdlePump pump;
    FixedRandom random{{kCommandRandom}};
    BiuSimulator unit{kProduct};
    CBIUHIDDevice record;
    RecordingBoxes boxes;
    ScopedBiuMessageBoxes boxScope{boxes};
    RecordingTraceSink traces;
    ScopedTraceSink traceScope{traces};
    uint64_t elapsedMs = 0;
};

// ---- Unit information (0x11) ----

TEST_F(UnitTransactions, UnitInformationOfAUnitNotIssued)
{
    unit.unit.issueStatus = 3;
    CGetBIUBIUInfo tx(record, kProduct);
    const CString text = Run(tx, [&] { return tx.GetBIUInfo(); });
    EXPECT_EQ(text, ("13" + std::string(205, '0')).c_str());
    ExpectShortExchangeWritten(0x11);
    EXPECT_EQ(BoxTexts(), std::vector<std::string>{"미발급 된 BIU 입니다. | 확인"});
    EXPECT_EQ(boxes.Boxes()[0].owner, nullptr);
    EXPECT_EQ(boxes.Boxes()[0].type, kBiuBoxOk);
    EXPECT_LT(elapsedMs, 5000u);
    EXPECT_GE(elapsedMs, 400u);  // the pause before the command and the one after the exchange
}

TEST_F(UnitTransactions, UnitInformationOfAnIssuedUnitWithRecords)
{
    unit.unit.issueStatus = 1;
    unit.unit.value3 = 7;
    for (int i = 0; i < 16; ++i) unit.unit.numbers[i] = static_cast<uint8_t>(0x10 + i);
    for (int i = 0; i < 16; ++i) unit.unit.serial[i] = static_cast<uint8_t>(0xF0 - i);
    unit.unit.users[1][0] = 2;
    unit.unit.users[1][4] = 0x55;
    unit.unit.users[3][0] = 4;
    unit.unit.users[3][8] = 0x01;
    unit.unit.users[3][17] = 0x98;
    CGetBIUBIUInfo tx(record, kProduct);
    const std::string text = Run(tx, [&] { return tx.GetBIUInfo(); }).str();

    std::string expected = "117";
    for (int i = 0; i < 16; ++i) expected += std::to_string(1) + char('0' + i);
    for (int i = 0; i < 16; ++i) {
        static const char hex[] = "0123456789ABCDEF";
        expected += hex[(0xF0 - i) >> 4];
        expected += hex[(0xF0 - i) & 0xF];
    }
    expected += "2";
    expected += std::string(35, '0');
    expected += "2" + std::string(6, '0') + "55" + std::string(8, '0') + std::string(18, '0');
    expected += std::string(35, '0');
    expected += "4" + std::string(14, '0') + "01" + std::string(16, '0') + "98";
    EXPECT_EQ(text, expected);
    EXPECT_EQ(text.size(), 208u);
    EXPECT_TRUE(boxes.Boxes().empty());
    // The answer (128 bytes) came in three reports: 56, 56 and 16 bytes.
    EXPECT_EQ(unit.Observed().commands, 1);
}

TEST_F(UnitTransactions, UnitInformationUnderAnotherIssueNumber)
{
    unit.unit.issueStatus = 2;
    CGetBIUBIUInfo tx(record, kProduct);
    EXPECT_EQ(Run(tx, [&] { return tx.GetBIUInfo(); }), "2");
    EXPECT_EQ(BoxTexts(), std::vector<std::string>{"등록된 발급 번호가 다릅니다. 확인 후 다시 실행하세요. | 확인"});
}

TEST_F(UnitTransactions, UnitInformationRefused)
{
    unit.unit.refusal[0] = 0x01;
    unit.unit.issueStatus = 1;
    CGetBIUBIUInfo tx(record, kProduct);
    EXPECT_EQ(Run(tx, [&] { return tx.GetBIUInfo(); }), "0");
    EXPECT_EQ(BoxTexts(), std::vector<std::string>{"BIU 정보조회를 할 수 없습니다. | 확인"});
}

TEST_F(UnitTransactions, UnitInformationWithAWrongProductKeySendsNoCommand)
{
    unit.answerProductKey.assign(16, 0x42);
    CGetBIUBIUInfo tx(record, kProduct);
    EXPECT_EQ(Run(tx, [&] { return tx.GetBIUInfo(); }), "2");
    EXPECT_EQ(unit.Observed().commands, 0);
    EXPECT_EQ(sim.Written(0).size(), 1u);
    EXPECT_EQ(BoxTexts(), std::vector<std::string>{"등록된 발급 번호가 다릅니다. 확인 후 다시 실행하세요. | 확인"});
    EXPECT_LT(elapsedMs, 5000u);
}

TEST_F(UnitTransactions, UnitInformationWithNoAnswer)
{
    unit.answerHandshake = false;
    CGetBIUBIUInfo tx(record, kProduct);
    EXPECT_EQ(Run(tx, [&] { return tx.GetBIUInfo(); }), "0");
    EXPECT_GE(elapsedMs, 5000u + 200u);
    EXPECT_LT(elapsedMs, 5000u + 200u + kSlackMs);  // one 100 ms read and scheduling slack
    EXPECT_EQ(BoxTexts(), std::vector<std::string>{
                              "생체인식기의 문제로 정보조회를 할 수 없습니다.(생체인식기를 뺐다 다시 연결하세요.) | 통신불량"});
    EXPECT_EQ(unit.Observed().commands, 0);
}

TEST_F(UnitTransactions, UnitInformationAfterAnAnswerThatCameTooLateIsTheUnitsOwn)
{
    unit.unit.issueStatus = 1;
    unit.withholdAnswers = true;
    {
        CGetBIUBIUInfo tx(record, kProduct);
        EXPECT_EQ(Run(tx, [&] { return tx.GetBIUInfo(); }), "0");
    }
    // The unit answers once the wait has run out: its three reports wait on
    // the handle, which stays open, until the next transaction.
    unit.withholdAnswers = false;
    const std::vector<SimReport> late = unit.TakeWithheld();
    ASSERT_EQ(late.size(), 3u);
    for (const SimReport& r : late) sim.QueueInput(0, r);
    CGetBIUBIUInfo tx(record, kProduct);
    EXPECT_EQ(Run(tx, [&] { return tx.GetBIUInfo(); }),
              ("11" + std::string(65, '0') + "0" + std::string(140, '0')).c_str());
    EXPECT_EQ(BoxTexts(), std::vector<std::string>{
                              "생체인식기의 문제로 정보조회를 할 수 없습니다.(생체인식기를 뺐다 다시 연결하세요.) | 통신불량"});
    EXPECT_EQ(unit.Observed().commands, 2);
}

TEST_F(UnitTransactions, AnAnswerThatComesLateIntoTheNextUnitInformationIsNotItsAnswer)
{
    // The unit's late answer reaches the next transaction just after its
    // random-key answer (and is read once the command has gone), or just
    // before it.
    const uint8_t kEarlierRandom[8] = {0x21, 0x32, 0x43, 0x54, 0x65, 0x76, 0x87, 0x98};
    for (const bool beforeHandshakeAnswer : {false, true}) {
        SCOPED_TRACE(beforeHandshakeAnswer ? "before the random-key answer" : "after the random-key answer");
        unit.unit.issueStatus = 1;
        unit.withholdAnswers = true;
        random = FixedRandom({kEarlierRandom});  // the earlier command's AppRandom, and so its answer's key
        {
            CGetBIUBIUInfo tx(record, kProduct);
            ASSERT_EQ(Run(tx, [&] { return tx.GetBIUInfo(); }), "0");
        }
        unit.withholdAnswers = false;
        unit.lateReports = unit.TakeWithheld();
        ASSERT_EQ(unit.lateReports.size(), 3u);
        unit.lateReportsBeforeHandshakeAnswer = beforeHandshakeAnswer;
        const size_t boxesBefore = boxes.Boxes().size();
        random = FixedRandom({kCommandRandom});
        CGetBIUBIUInfo tx(record, kProduct);
        EXPECT_EQ(Run(tx, [&] { return tx.GetBIUInfo(); }),
                  ("11" + std::string(65, '0') + "0" + std::string(140, '0')).c_str());
        EXPECT_EQ(boxes.Boxes().size(), boxesBefore) << BoxTexts().back();
    }
}

TEST_F(UnitTransactions, UnitInformationTraces)
{
    unit.unit.issueStatus = 1;
    CGetBIUBIUInfo tx(record, kProduct);
    Run(tx, [&] { return tx.GetBIUInfo(); });
    const auto lines = traces.Lines();
    ASSERT_GE(lines.size(), 4u);
    EXPECT_EQ(lines[0], "[APP] [프로덕트 키]\n");
    // The product key and the session key are withheld, a "[**]" for each byte.
    std::string withheld16;
    for (int i = 0; i < 16; ++i) withheld16 += "[**]";
    EXPECT_EQ(lines[1], "        " + withheld16 + "\n");
    EXPECT_EQ(lines[2], "[APP] ================> Start : Get BIU Info <==================\n\n");
    EXPECT_EQ(lines[3], "[APP] [AES 암호화 키]\n\n");
    EXPECT_EQ(lines[4], "        " + withheld16 + withheld16 + "\n");
    // No key shows anywhere (eight bytes of one in a row), in any byte form.
    const std::vector<uint8_t> keys[] = {std::vector<uint8_t>(kProduct, kProduct + 16), HandshakeKey(), CommandKey()};
    for (const auto& key : keys)
        for (const char* format : {"[%02x]", "[%02X]", "[%02x] "}) {
            const std::string part = ExchangeTrace::FormatBytes(key.data(), 8, format);
            for (const auto& line : lines) EXPECT_EQ(line.find(part), std::string::npos) << line;
        }
    auto count = [&](const std::string& line) { return std::count(lines.begin(), lines.end(), line); };
    EXPECT_EQ(count("[APP] [암호화된 요청정보]\n\n"), 2);
    EXPECT_EQ(count("[APP] [Return 되는 처리 결과 Get RandomKey]\n"), 1);
    EXPECT_EQ(count("[APP] [Return 되는 처리 결과]\n"), 1);
    EXPECT_EQ(count("        Command   : [11]\n"), 1);
    EXPECT_EQ(count("[APP] [BIU 정보 요청-결과값->복호화]\n"), 1);
    EXPECT_EQ(lines.back(), "[APP] ======> Finish Get UserInfor Transaction <======\n");
}

TEST_F(UnitTransactions, UnitInformationHostileAnswersAreNoAnswer)
{
    struct Case {
        const char* what;
        RawAnswer answer;
    } cases[] = {
        {"not whole blocks", [](uint8_t, const std::vector<uint8_t>& s) {
             return BiuSimulator::Frame(std::vector<uint8_t>(s.begin(), s.begin() + 100));
         }},
        {"Length beyond the report", FirstReportPatched(7, 200)},
        {"DataLength beyond every buffer", EndlessReports(0xFFFFFF, 40)},
        {"an answer that never ends", EndlessReports(0x400, 40)},
    };
    for (auto& c : cases) {
        AttachedUnit hostile(kScale, c.answer);
        ASSERT_TRUE(hostile.opened);
        RecordingBoxes seen;
        ScopedBiuMessageBoxes boxScopeHere(seen);
        CGetBIUBIUInfo tx(hostile.record, kProduct);
        EXPECT_EQ(Run(tx, [&] { return tx.GetBIUInfo(); }), "0") << c.what;
        ASSERT_EQ(seen.Boxes().size(), 1u) << c.what;
        EXPECT_EQ(seen.Boxes()[0].caption, "통신불량") << c.what;
        EXPECT_LT(elapsedMs, 5000u) << c.what;  // ended at once, not by the limit
    }
}

// ---- User information (0x12) ----

TEST_F(UnitTransactions, UserInformation)
{
    unit.userInfo = {0, 0, 3, 1, 0x12, 0x30, 2, 0x45, 0x67, 0, 0, 0, 4, 0x0A, 0x01};
    CBIUInquery tx(record, kProduct);
    EXPECT_EQ(Run(tx, [&] { return tx.GetUserInfo(); }), "311230245670000040:01");
    ExpectShortExchangeWritten(0x12);
    EXPECT_TRUE(boxes.Boxes().empty());

    auto lines = traces.Lines();
    ASSERT_GE(lines.size(), 2u);
    EXPECT_EQ(lines[0], "[APP] ================> Start : Get User Info <==================\n");
    // The request thread's line after the random-key request; the receive
    // thread may already be tracing the answer then, so it is looked for
    // apart from the others.
    const auto end = std::find(lines.begin(), lines.end(), "[APP] ================> end : 정보조회 <==================\n");
    ASSERT_NE(end, lines.end());
    lines.erase(end);
    auto at = std::find(lines.begin(), lines.end(), "[APP] [수신된 헤더 정보]\n");
    ASSERT_NE(at, lines.end());
    EXPECT_EQ(at[3], "        DataLength : [00][00]\n");  // the random-key answer's header
    at = std::find(at + 1, lines.end(), "[APP] [수신된 헤더 정보]\n");
    ASSERT_NE(at, lines.end());
    EXPECT_EQ(at[3], "        DataLength : [00][00][20]\n");
    EXPECT_NE(std::find(lines.begin(), lines.end(), "[APP] [Get User Info 정보 요청-암호화]\n"), lines.end());
}

TEST_F(UnitTransactions, UserInformationWithNoAnswerKeepsItsForm)
{
    unit.answerCommand = false;
    CBIUInquery tx(record, kProduct);
    EXPECT_EQ(Run(tx, [&] { return tx.GetUserInfo(); }), std::string(21, '0').c_str());
    EXPECT_GE(elapsedMs, 5000u);
    EXPECT_EQ(unit.Observed().commands, 1);
}

// ---- Initiation (0x20) ----

TEST_F(UnitTransactions, InitiationForgetsTheIssue)
{
    unit.unit.issueStatus = 1;
    unit.unit.users[0][1] = 0x11;
    CInitiateBIU tx(record, kProduct);
    ReadsAfterTheAnswer gate(sim, kScale);
    tx.SetServices({&gate, &gate});
    tx.SetRandomSource(random);
    const uint64_t start = clock.NowMs();
    EXPECT_EQ(tx.InitiateBIU(), "");
    elapsedMs = clock.NowMs() - start;
    ExpectShortExchangeWritten(0x20);
    EXPECT_EQ(unit.Unit().issueStatus, 3);
    EXPECT_EQ(unit.Unit().users[0][1], 0);
    // Its receive thread reads on after the answer until the run flag is
    // cleared: the wait ends by the done flag, the thread with the read it was
    // in then, which times out.
    EXPECT_LT(elapsedMs, 5000u);
    const auto log = sim.IoLog(0);
    const size_t answer = gate.AnswerRead(log);
    ASSERT_LT(answer, log.size());
    EXPECT_GE(log.size() - answer - 1, 1u) << "reads after the answer";
    EXPECT_FALSE(log.back().write);
    EXPECT_EQ(log.back().result, HidIoResult::TimedOut);

    const auto lines = traces.Lines();
    ASSERT_GE(lines.size(), 3u);
    EXPECT_EQ(lines[0], "[APP] ================> Start : initiate BIU <==================");
    EXPECT_EQ(lines[1], "[APP] [정보 요청 전체 Data]");  // the random-key request report
    EXPECT_EQ(lines[2].substr(0, 8 + 36), "        [00][01][00][00][00][00][10][10][00]");
    EXPECT_NE(std::find(lines.begin(), lines.end(), "[APP] [Init BIU 정보 요청 - 암호문]"), lines.end());
    EXPECT_NE(std::find(lines.begin(), lines.end(), "[APP] [Randomkey 정보 요청결과 - 복호문]"), lines.end());
}

TEST_F(UnitTransactions, InitiationOfASilentUnit)
{
    unit.answerHandshake = false;
    CInitiateBIU tx(record, kProduct);
    EXPECT_EQ(Run(tx, [&] { return tx.InitiateBIU(); }), "");
    EXPECT_GE(elapsedMs, 5000u);
    EXPECT_LT(elapsedMs, 5000u + kSlackMs);
}

// ---- Deletion (0x25, 0x26) ----

TEST_F(UnitTransactions, DeletionRequestsDifferOnlyInTheirCommand)
{
    unit.unit.users[2][1] = 0x99;
    {
        CDelete tx(record, kProduct);
        EXPECT_EQ(Run(tx, [&] { return tx.DeleteUserInfo(3); }), "");
    }
    ExpectShortExchangeWritten(0x25, 3);
    const SimReport fingerprints = sim.Written(0)[1];
    {
        FixedRandom again{{kCommandRandom}};
        CDeleteUser tx(record, kProduct);
        tx.SetRandomSource(again);
        tx.SetServices({&clock, &pump});
        EXPECT_EQ(tx.DeleteUserInfo(3), "");
    }
    const auto written = sim.Written(0);
    ASSERT_EQ(written.size(), 4u);
    EXPECT_EQ(written[3], ExpectedReports(ShortRequest(0x26, 3), CommandKey())[0]);
    EXPECT_NE(written[3], fingerprints);
    const auto seen = unit.Observed();
    ASSERT_EQ(seen.messages.size(), 4u);
    std::vector<uint8_t> a = seen.messages[1], b = seen.messages[3];
    EXPECT_EQ(a[0], 0x25);
    EXPECT_EQ(b[0], 0x26);
    a[0] = b[0] = 0;
    EXPECT_EQ(a, b);
    EXPECT_EQ(seen.deletions, (std::vector<std::pair<uint8_t, uint8_t>>{{0x25, 3}, {0x26, 3}}));
    EXPECT_EQ(unit.Unit().users[2][1], 0);
}

TEST_F(UnitTransactions, DeletionWithAWrongProductKeyIsSentButNotUnderstood)
{
    // Only the unit information checks the handshake answer; the others send
    // their command under a key the unit does not share, and get no answer.
    unit.answerProductKey.assign(16, 0x42);
    CDelete tx(record, kProduct);
    EXPECT_EQ(Run(tx, [&] { return tx.DeleteUserInfo(2); }), "");
    EXPECT_EQ(sim.Written(0).size(), 2u);
    EXPECT_EQ(unit.Observed().commands, 0);
    EXPECT_EQ(unit.Observed().undecodable, 1);
    EXPECT_GE(elapsedMs, 5000u);
}

TEST_F(UnitTransactions, DeletionPassesAUserNumberOutsideOneToFourOn)
{
    // The number goes to the unit as given: 0 (from '0'), 5 and 9 (from '5',
    // '9'), 0xD0 (from a character 0); each request is sent, byte 2 holding it.
    const uint8_t users[] = {0, 5, 9, 0xD0};
    size_t reports = 0;
    for (uint8_t user : users) {
        CDelete fingerprints(record, kProduct);
        EXPECT_EQ(Run(fingerprints, [&] { return fingerprints.DeleteUserInfo(user); }), "");
        CDeleteUser whole(record, kProduct);
        EXPECT_EQ(Run(whole, [&] { return whole.DeleteUserInfo(user); }), "");
        const auto written = sim.Written(0);
        ASSERT_EQ(written.size(), reports + 4) << int(user);
        EXPECT_EQ(written[reports + 1], ExpectedReports(ShortRequest(0x25, user), CommandKey())[0]) << int(user);
        EXPECT_EQ(written[reports + 3], ExpectedReports(ShortRequest(0x26, user), CommandKey())[0]) << int(user);
        reports += 4;
    }
    std::vector<std::pair<uint8_t, uint8_t>> expected;
    for (uint8_t user : users) {
        expected.emplace_back(0x25, user);
        expected.emplace_back(0x26, user);
    }
    EXPECT_EQ(unit.Observed().deletions, expected);
}

TEST_F(UnitTransactions, DeletionTracesAndSilence)
{
    unit.answerCommand = false;
    CDeleteUser tx(record, kProduct);
    EXPECT_EQ(Run(tx, [&] { return tx.DeleteUserInfo(1); }), "");
    EXPECT_GE(elapsedMs, 5000u);
    const auto lines = traces.Lines();
    auto has = [&](const std::string& line) { return std::find(lines.begin(), lines.end(), line) != lines.end(); };
    EXPECT_TRUE(has("[APP] ================> Start : Delete User Info <=================="));
    EXPECT_TRUE(has("[APP] [RandomKey 정보 요청 결과 - 암호문]"));
    EXPECT_TRUE(has("        DataLength : [00][00]"));
    // The written reports in upper case.
    const auto at = std::find(lines.begin(), lines.end(), "[APP] [요청 메시지 전체]");
    ASSERT_NE(at, lines.end());
    std::string expected;
    char group[8];
    const SimReport firstReport = sim.Written(0)[0];
    for (uint8_t b : firstReport) {
        std::snprintf(group, sizeof group, "[%02X]", b);
        expected += group;
    }
    EXPECT_EQ(at[1], "        " + expected);
    const auto plain = std::find(lines.begin(), lines.end(), "[APP] [RandomKey 정보 요청]");
    ASSERT_NE(plain, lines.end());
    EXPECT_EQ(plain[1].size(), 8u + 64u * 4u);  // the first 64 bytes of the plaintext buffer
}

// ---- Holder information (0x30) ----

std::string HolderText()
{
    std::string text = "1234567890123456";
    text += "1111222233334444" "20260101" "20271231" "07";
    text += "5555666677778888" "19991231" "20000101" "10";
    text += std::string(34, '0');
    text += "9876543210987654" "12345678" "87654321" "99";
    return text;
}

TEST_F(UnitTransactions, HolderInformationInTwoReportsThenReadBack)
{
    CRegistBIUInfo tx(record, kProduct);
    ASSERT_TRUE(tx.SetHolderText(HolderText()));
    EXPECT_EQ(Run(tx, [&] { return tx.RegistBIUInfo(); }), "");

    // The request, from its byte table: head, AppRandom, then the record.
    std::vector<uint8_t> plain = {0x30, 0, 0, 0, 0, 0x00, 0x00, 0x50, 0, 0, 0, 0, 0, 0, 0, 0};
    std::memcpy(&plain[8], kCommandRandom, 8);
    const std::vector<uint8_t> holder = {
        0x12, 0x34, 0x56, 0x78, 0x90, 0x12, 0x34, 0x56,
        0x01, 0x11, 0x11, 0x22, 0x22, 0x33, 0x33, 0x44, 0x44, 0x20, 0x26, 0x01, 0x01, 0x20, 0x27, 0x12, 0x31, 0x07,
        0x02, 0x55, 0x55, 0x66, 0x66, 0x77, 0x77, 0x88, 0x88, 0x19, 0x99, 0x12, 0x31, 0x20, 0x00, 0x01, 0x01, 0x10,
        0x03, 0x00, 0x00, 0x00, 0x00, 0x00, 0x00, 0x00, 0x00, 0x00, 0x00, 0x00, 0x00, 0x00, 0x00, 0x00, 0x00, 0x00,
        0x04, 0x98, 0x76, 0x54, 0x32, 0x10, 0x98, 0x76, 0x54, 0x12, 0x34, 0x56, 0x78, 0x87, 0x65, 0x43, 0x21, 0x99,
    };
    plain.insert(plain.end(), holder.begin(), holder.end());
    ASSERT_EQ(plain.size(), 96u);

    const auto written = sim.Written(0);
    ASSERT_EQ(written.size(), 3u);
    const auto expected = ExpectedReports(plain, CommandKey());
    ASSERT_EQ(expected.size(), 2u);
    EXPECT_EQ(written[1], expected[0]);
    EXPECT_EQ(written[2], expected[1]);
    EXPECT_EQ(Bytes(written[1], 0, 9), (std::vector<uint8_t>{0x00, 0x01, 0x00, 0x00, 0x00, 0x00, 0x60, 0x38, 0x00}));
    EXPECT_EQ(Bytes(written[2], 0, 9), (std::vector<uint8_t>{0x00, 0x02, 0x00, 0x01, 0x00, 0x00, 0x60, 0x28, 0x00}));
    EXPECT_EQ(Bytes(written[2], 49, 65), std::vector<uint8_t>(16, 0));
    ASSERT_EQ(unit.Observed().holderRequests.size(), 1u);
    EXPECT_EQ(unit.Observed().holderRequests[0], plain);

    // The unit now reads as issued with three records in use.
    CGetBIUBIUInfo info(record, kProduct);
    const std::string text = Run(info, [&] { return info.GetBIUInfo(); }).str();
    ASSERT_EQ(text.size(), 208u);
    EXPECT_EQ(text.substr(0, 2), "11");
    EXPECT_EQ(text.substr(3, 16), "1234567890123456");
    EXPECT_EQ(text[67], '3');
    EXPECT_EQ(text.substr(68, 35), "1" "1111222233334444" "202601012027123107");
    EXPECT_EQ(text.substr(173, 35), "4" "9876543210987654" "123456788765432199");
}

TEST_F(UnitTransactions, HolderInformationFromAShortTextSendsNothing)
{
    CRegistBIUInfo tx(record, kProduct);
    EXPECT_FALSE(tx.SetHolderText(HolderText().substr(0, 151)));
    EXPECT_EQ(Run(tx, [&] { return tx.RegistBIUInfo(); }), "");
    EXPECT_TRUE(sim.Written(0).empty());
}

TEST_F(UnitTransactions, HolderInformationPassesOverAnEmptyReport)
{
    // An empty report, then the real answer: the answer is the one taken.
    unit.rawAnswer = [](uint8_t, const std::vector<uint8_t>& sealed) {
        auto reports = BiuSimulator::Frame(sealed);
        SimReport empty = reports[0];
        empty[7] = 0;
        return std::vector<SimReport>{empty, reports[0]};
    };
    CRegistBIUInfo tx(record, kProduct);
    ASSERT_TRUE(tx.SetHolderText(HolderText()));
    EXPECT_EQ(Run(tx, [&] { return tx.RegistBIUInfo(); }), "");
    EXPECT_TRUE(tx.IsDone());
    EXPECT_TRUE(tx.IsAnswerUsable());
    EXPECT_LT(elapsedMs, 5000u);
}

TEST_F(UnitTransactions, HolderInformationAnsweredOrNotIsTheEmptyText)
{
    unit.answerCommand = false;
    CRegistBIUInfo tx(record, kProduct);
    ASSERT_TRUE(tx.SetHolderText(std::string(152, '0')));
    EXPECT_EQ(Run(tx, [&] { return tx.RegistBIUInfo(); }), "");
    EXPECT_GE(elapsedMs, 5000u);
    EXPECT_EQ(unit.Observed().commands, 1);
}

// ---- Every transaction: late handshakes, foreign and hostile reports ----

TEST_F(UnitTransactions, AHandshakeAnswerAfterTheWaitSendsNoCommand)
{
    unit.handshakeDelayMs = 5050;  // arrives during the receive thread's last read
    CDelete tx(record, kProduct);
    EXPECT_EQ(Run(tx, [&] { return tx.DeleteUserInfo(2); }), "");
    EXPECT_EQ(sim.Written(0).size(), 1u);
    EXPECT_EQ(unit.Observed().commands, 0);
}

TEST_F(UnitTransactions, SingleReportAnswersAreTakenWholeOrRefused)
{
    struct Case {
        const char* what;
        RawAnswer answer;
        bool endsAtOnce;
    } cases[] = {
        {"DataLength larger than the report: the report's Length counts", FirstReportPatched(6, 0xF0), true},
        {"report id 1 is not the unit's", FirstReportPatched(0, 0x01), false},
        {"Data Type 2 is not an answer", FirstReportPatched(1, 0x02), false},
        {"Length 0", FirstReportPatched(7, 0), true},
        {"Length 57, beyond the report's data", FirstReportPatched(7, 57), true},
        {"Length 255", FirstReportPatched(7, 255), true},
        {"Length 20", FirstReportPatched(7, 20), true},
    };
    for (auto& c : cases) {
        AttachedUnit hostile(kScale, c.answer);
        ASSERT_TRUE(hostile.opened);
        CDelete tx(hostile.record, kProduct);
        EXPECT_EQ(Run(tx, [&] { return tx.DeleteUserInfo(1); }), "") << c.what;
        EXPECT_EQ(elapsedMs < 5000u, c.endsAtOnce) << c.what;
        EXPECT_EQ(hostile.unit.Observed().commands, 1) << c.what;
    }
}

// Random reports straight into the receive side of each kind of transaction,
// before and after a handshake answer: nothing is read or written out of
// bounds (AddressSanitizer in the host build) and nothing is raised.
template <class Transaction>
void FeedRandomReports(const CBIUHIDDevice& record, std::mt19937& gen)
{
    ScaledClock fast(1000);  // the pause before the command
    IdlePump pump;
    for (int run = 0; run < 100; ++run) {
        Transaction tx(record, kProduct);
        tx.SetServices({&fast, &pump});
        for (int i = 0; i < 30 && !tx.IsDone(); ++i) {
            SimReport r(1 + gen() % 200);
            for (auto& b : r) b = static_cast<uint8_t>(gen());
            r[0] = gen() % 6 ? 0x00 : 0x01;
            if (r.size() > 1) r[1] = static_cast<uint8_t>(1 + gen() % 2);
            tx.OnReceive(r.data(), r.size());
        }
    }
}

TEST_F(UnitTransactions, RandomReportsNeverOverrunOrRaise)
{
    std::mt19937 gen(2026);
    FeedRandomReports<CGetBIUBIUInfo>(record, gen);
    FeedRandomReports<CBIUInquery>(record, gen);
    FeedRandomReports<CInitiateBIU>(record, gen);
    FeedRandomReports<CDeleteUser>(record, gen);
    FeedRandomReports<CRegistBIUInfo>(record, gen);
    EXPECT_TRUE(sim.Written(0).empty());  // the run flag is down: nothing is ever sent
}

TEST(UnitRealTime, OneDeletionOnTheRealClock)
{
    AttachedUnit attached(1.0);
    ASSERT_TRUE(attached.opened);
    CDelete tx(attached.record, kProduct);
    const uint64_t start = corvane::MonotonicMs();
    EXPECT_EQ(tx.DeleteUserInfo(4), "");
    const uint64_t elapsed = corvane::MonotonicMs() - start;
    EXPECT_GE(elapsed, 90u);    // the pause before the command
    EXPECT_LT(elapsed, 2000u);  // and the receive thread's last 100 ms read
    EXPECT_EQ(attached.unit.Observed().deletions, (std::vector<std::pair<uint8_t, uint8_t>>{{0x25, 4}}));
}

}  // namespace
