// The wire bytes the agent sends, the session keys and the trace format,
// pinned byte for byte.
#include <gtest/gtest.h>

#include <cstring>
#include <sstream>
#include <string>
#include <vector>

#include "obulink/exchange_trace.h"
#include "obulink/hid_packet.h"
#include "obulink/secure_exchange.h"
#include "obulink/session_key.h"
#include "tests/obulink/test_transaction.h"
#include "tests/sim/obu_simulator.h"
#include "tests/sim/reference_aes.h"
#include "tests/sim/sim_hid_platform.h"

namespace {

std::vector<uint8_t> Hex(const std::string& text)
{
    std::vector<uint8_t> bytes;
    std::istringstream in(text);
    std::string pair;
    while (in >> pair) bytes.push_back(static_cast<uint8_t>(std::stoi(pair, nullptr, 16)));
    return bytes;
}

const uint8_t kProduct[16] = {0x00, 0x01, 0x02, 0x03, 0x04, 0x05, 0x06, 0x07,
                              0x08, 0x09, 0x0A, 0x0B, 0x0C, 0x0D, 0x0E, 0x0F};
const uint8_t kApp[8] = {0xA0, 0xA1, 0xA2, 0xA3, 0xA4, 0xA5, 0xA6, 0xA7};
const uint8_t kDev[8] = {0xD0, 0xD1, 0xD2, 0xD3, 0xD4, 0xD5, 0xD6, 0xD7};

std::vector<uint8_t> Key(void (*build)(uint8_t*))
{
    uint8_t key[32];
    std::memset(key, 0xEE, sizeof key);
    build(key);
    return std::vector<uint8_t>(key, key + 32);
}

TEST(SessionKey, TheFourKeysForKnownInputs)
{
    static_assert(kSessionKeyFiller1 == 0x5A && kSessionKeyFiller2 == 0xC3, "the fillers pinned below");
    EXPECT_EQ(Key([](uint8_t* k) { HandshakeSendKey(k, kProduct); }),
              Hex("00 00 01 5A 02 00 03 5A 04 00 05 5A 06 00 07 5A 08 00 09 C3 0A 00 0B C3 0C 00 0D C3 0E 00 0F C3"));
    EXPECT_EQ(Key([](uint8_t* k) { HandshakeReceiveKey(k, kProduct, kApp); }),
              Hex("00 A0 01 5A 02 A1 03 5A 04 A2 05 5A 06 A3 07 5A 08 A4 09 C3 0A A5 0B C3 0C A6 0D C3 0E A7 0F C3"));
    // The command send key keeps zeros where the AppRandom would stand.
    EXPECT_EQ(Key([](uint8_t* k) { CommandSendKey(k, kProduct, kDev); }),
              Hex("00 00 01 D0 02 00 03 D1 04 00 05 D2 06 00 07 D3 08 00 09 D4 0A 00 0B D5 0C 00 0D D6 0E 00 0F D7"));
    EXPECT_EQ(Key([](uint8_t* k) { CommandReceiveKey(k, kProduct, kApp, kDev); }),
              Hex("00 A0 01 D0 02 A1 03 D1 04 A2 05 D2 06 A3 07 D3 08 A4 09 D4 0A A5 0B D5 0C A6 0D D6 0E A7 0F D7"));
}

TEST(SessionKey, SystemAppRandomStaysBelow255)
{
    // 32000 bytes: every value from 0 to 254 comes up (a value is missed with
    // a chance below 1e-50), 255 never.
    std::vector<int> seen(256, 0);
    uint8_t value[8];
    for (int i = 0; i < 4000; ++i) {
        SystemAppRandom().Draw(value);
        for (uint8_t b : value) ++seen[b];
    }
    EXPECT_EQ(seen[255], 0);
    for (int v = 0; v < 255; ++v) EXPECT_GT(seen[v], 0) << v;
}

TEST(SessionKey, SystemAppRandomIsFreshAtEveryDraw)
{
    // The operating system's source answers (it is not the fallback that draws).
    uint8_t first[32] = {}, second[32] = {};
    ASSERT_TRUE(SystemRandomBytes(first, sizeof first));
    ASSERT_TRUE(SystemRandomBytes(second, sizeof second));
    EXPECT_NE(0, std::memcmp(first, second, sizeof first));

    // Drawn in quick succession, as the handshake and the command are.
    std::vector<std::vector<uint8_t>> draws;
    for (int i = 0; i < 100; ++i) {
        uint8_t value[8];
        SystemAppRandom().Draw(value);
        draws.emplace_back(value, value + 8);
    }
    for (size_t i = 0; i < draws.size(); ++i)
        for (size_t j = i + 1; j < draws.size(); ++j) ASSERT_NE(draws[i], draws[j]) << i << " and " << j;
}

class ReportsSent : public ::testing::Test {
protected:
    void SetUp() override
    {
        sim.AddDevice("Wendra-OBU");
        ASSERT_EQ(device.OpenDevice(0), kHidDone);
    }
    void TearDown() override { device.CloseHandleAndReset(); }

    SimHidPlatform sim;
    ScopedHidPlatform active{sim};
    CHIDDevice device;
};

TEST_F(ReportsSent, RandomKeyRequestIsOneReport)
{
    FixedRandom random({kApp});
    TestTransaction tx(device, kProduct, 0x05, 16);
    tx.SetRandomSource(random);
    uint8_t key[32];
    HandshakeSendKey(key, kProduct);
    tx.SetAppRandom(kApp);
    tx.AllowSending();
    tx.RequestRandomKey(key);

    const auto written = sim.Written(0);
    ASSERT_EQ(written.size(), 1u);
    const SimReport& r = written[0];
    ASSERT_EQ(r.size(), 64u);
    EXPECT_EQ(std::vector<uint8_t>(r.begin(), r.begin() + 9), Hex("01 01 00 00 00 00 10 10 00"));
    std::vector<uint8_t> plain = Hex("10 00 00 00 00 00 00 00 A0 A1 A2 A3 A4 A5 A6 A7");
    const auto deviceKey = ObuSimulator::DeviceKey(kProduct, nullptr, nullptr);
    EXPECT_EQ(std::vector<uint8_t>(r.begin() + 9, r.begin() + 25), ReferenceAes(deviceKey.data(), 32).EncryptCbc(plain));
    for (size_t i = 25; i < 64; ++i) EXPECT_EQ(r[i], 0) << i;
}

TEST_F(ReportsSent, EightyByteCommandIsTwoReports)
{
    const uint8_t commandRandom[8] = {1, 2, 3, 4, 5, 6, 7, 254};
    FixedRandom random({commandRandom});
    TestTransaction tx(device, kProduct, 0x01, 80);
    tx.SetRandomSource(random);
    tx.SetDeviceRandom(kDev);
    tx.AllowSending();
    uint8_t key[32];
    CommandSendKey(key, kProduct, kDev);
    tx.SendCommand(key);

    const auto written = sim.Written(0);
    ASSERT_EQ(written.size(), 2u);
    std::vector<uint8_t> plain(80, 0);
    plain[0] = 0x01;
    std::memcpy(&plain[8], commandRandom, 8);
    for (size_t i = 16; i < 80; ++i) plain[i] = TestTransaction::DataByte(i - 16);
    const auto deviceKey = ObuSimulator::DeviceKey(kProduct, nullptr, kDev);
    const auto cipher = ReferenceAes(deviceKey.data(), 32).EncryptCbc(plain);

    std::vector<uint8_t> first = Hex("01 01 00 00 00 00 50 37 00");
    first.insert(first.end(), cipher.begin(), cipher.begin() + 55);
    EXPECT_EQ(written[0], first);
    std::vector<uint8_t> second = Hex("01 02 00 01 00 00 50 19 00");
    second.insert(second.end(), cipher.begin() + 55, cipher.end());
    second.resize(64, 0);  // bytes 34-63 are 0
    EXPECT_EQ(written[1], second);
}

TEST(Framing, BiometricLayoutCarriesFiftySixBytesAReport)
{
    std::vector<uint8_t> message(96);
    for (size_t i = 0; i < message.size(); ++i) message[i] = static_cast<uint8_t>(i + 1);
    auto reports = FrameMessage(kBiuReportLayout, message.data(), 16);
    ASSERT_EQ(reports.size(), 1u);
    EXPECT_EQ(reports[0].size(), 65u);
    EXPECT_EQ(std::vector<uint8_t>(reports[0].begin(), reports[0].begin() + 9), Hex("00 01 00 00 00 00 10 10 00"));
    for (size_t i = 25; i < 65; ++i) EXPECT_EQ(reports[0][i], 0);

    reports = FrameMessage(kBiuReportLayout, message.data(), 96);
    ASSERT_EQ(reports.size(), 2u);
    EXPECT_EQ(std::vector<uint8_t>(reports[0].begin(), reports[0].begin() + 9), Hex("00 01 00 00 00 00 60 38 00"));
    EXPECT_EQ(std::vector<uint8_t>(reports[1].begin(), reports[1].begin() + 9), Hex("00 02 00 01 00 00 60 28 00"));
    EXPECT_EQ(reports[1][9], 57);
}

TEST(Framing, HeaderFieldsAreBigEndian)
{
    uint8_t report[9] = {};
    HidPacketHeader header;
    header.dataType = 2;
    header.packetIndex = 0x0102;
    header.dataLength = 0x030405;
    header.length = 0x37;
    header.reserved = 0x31;
    header.WriteTo(report);
    EXPECT_EQ(std::vector<uint8_t>(report + 1, report + 9), Hex("02 01 02 03 04 05 37 31"));
    const HidPacketHeader back = HidPacketHeader::ReadFrom(report);
    EXPECT_EQ(back.packetIndex, 0x0102);
    EXPECT_EQ(back.dataLength, 0x030405u);

    const uint8_t answer[16] = {0x05, 0x03, 0x80};
    EXPECT_EQ(MessageHead::ReadFrom(answer).Status(), 0x8003);
}

HidPacketHeader Header(uint16_t index, uint32_t total, uint8_t length)
{
    HidPacketHeader h;
    h.dataType = index ? 2 : 1;
    h.packetIndex = index;
    h.dataLength = total;
    h.length = length;
    return h;
}

TEST(AnswerAccumulator, GathersRestartsAndRefusesOverruns)
{
    AnswerAccumulator acc;
    uint8_t data[64];
    std::memset(data, 0x11, sizeof data);
    EXPECT_EQ(acc.Add(Header(0, 80, 55), data, 55), AnswerAccumulator::Step::NeedMore);
    // A new Packet Index 0 starts again.
    EXPECT_EQ(acc.Add(Header(0, 80, 55), data, 55), AnswerAccumulator::Step::NeedMore);
    EXPECT_EQ(acc.Count(), 55u);
    EXPECT_EQ(acc.Add(Header(1, 80, 25), data, 55), AnswerAccumulator::Step::Complete);
    EXPECT_EQ(acc.Count(), 80u);

    // Length beyond the data the report carries.
    EXPECT_EQ(acc.Add(Header(0, 80, 56), data, 55), AnswerAccumulator::Step::Malformed);
    // DataLength beyond what can be gathered.
    EXPECT_EQ(acc.Add(Header(0, 1025, 55), data, 55), AnswerAccumulator::Step::Malformed);
    // Appending past the buffer: 18 reports of 55 bytes fit, the 19th does not.
    acc.Clear();
    AnswerAccumulator::Step step = acc.Add(Header(0, 1024, 55), data, 55);
    for (uint16_t i = 1; i < 18; ++i) step = acc.Add(Header(i, 1024, 55), data, 55);
    EXPECT_EQ(step, AnswerAccumulator::Step::NeedMore);
    EXPECT_EQ(acc.Count(), 990u);
    EXPECT_EQ(acc.Add(Header(18, 1024, 55), data, 55), AnswerAccumulator::Step::Malformed);
    EXPECT_EQ(acc.Count(), 990u);
}

TEST(Outcome, StatusBitOneWinsOverOtherBits)
{
    EXPECT_EQ(OutcomeText(ClassifyOutcome(false, true, 0), "ok"), "0");
    EXPECT_EQ(OutcomeText(ClassifyOutcome(true, false, 0), "ok"), "0");
    EXPECT_EQ(OutcomeText(ClassifyOutcome(true, true, 0x03), "ok"), "2");
    EXPECT_EQ(OutcomeText(ClassifyOutcome(true, true, 0x02), "ok"), "2");
    EXPECT_EQ(OutcomeText(ClassifyOutcome(true, true, 0x01), "ok"), "1");
    EXPECT_EQ(OutcomeText(ClassifyOutcome(true, true, 0x80), "ok"), "1");
    EXPECT_EQ(OutcomeText(ClassifyOutcome(true, true, 0xFF00), "ok"), "ok");  // only answer byte 1 counts
    EXPECT_EQ(OutcomeText(ClassifyOutcome(true, true, 0), ""), "");
}

TEST(Trace, LineFormats)
{
    RecordingTraceSink sink;
    ScopedTraceSink scope(sink);
    const uint8_t bytes[] = {0x0A, 0xFF, 0x00};
    ExchangeTrace trace;
    trace.Labelled("[APP Randomkey]", bytes, 3);
    const uint8_t head[16] = {0x10, 0x01, 0x02, 0x03, 0x04, 0x05, 0x06, 0x07};
    trace.HeadLines(head);
    const uint8_t report[9] = {0x00, 0x01, 0x00, 0x02, 0x00, 0x00, 0x10, 0x10, 0x00};
    trace.PacketHeaderLines(report, 2);
    ExchangeTrace unit("\n", "[%02X]");
    unit.Bytes(bytes, 3);
    const std::vector<std::string> expected = {
        "[APP] [APP Randomkey]",
        "        [0a][ff][00]",
        "        Command   : [10]",
        "        Param1    : [01][02]",
        "        Param2    : [03][04]",
        "        Data Size : [05][06][07]",
        "        Data Type : [01]",
        "        Packet Index : [00][02]",
        "        DataLength : [00][00]",
        "        Length : [10]",
        "        Reserved : [00]",
        "        [0A][FF][00]\n",
    };
    EXPECT_EQ(sink.Lines(), expected);
}

}  // namespace
