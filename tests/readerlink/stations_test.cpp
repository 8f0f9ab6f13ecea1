// The older exports against simulated stations on serial lines: node polling
// (types 0 and 7), the two-wire bus with its listener, the text modem and the
// framed modem; every error each can meet, and the time limits.
#include <gtest/gtest.h>

#include <cstdio>
#include <cstring>
#include <memory>
#include <string>
#include <thread>
#include <vector>

#include "readerlink/dev_lib_node.h"
#include "readerlink/error_codes.h"
#include "readerlink/tarnlink.h"
#include "readerlink/tarnlink_app.h"
#include "tests/readerlink/sim_platform.h"
#include "tests/sim/card_reader_sim.h"
#include "tests/sim/station_sims.h"

using sim::Bytes;
using sim::StationFault;

extern tarnlink::CTarnlinkApp* g_app;

namespace {

constexpr int kPort = 5;
constexpr uint8_t kNode = 5;

Bytes Text(const std::string& text) { return Bytes(text.begin(), text.end()); }

class Stations : public ::testing::Test {
protected:
    void SetUp() override
    {
        app = std::make_unique<tarnlink::CTarnlinkApp>(platform);
        g_app = app.get();
        std::memset(out, 0xEE, sizeof out);
    }
    void TearDown() override
    {
        app.reset();  // stops any listener before the platform goes
        g_app = nullptr;
    }
    // Puts `peer` on the line and opens the port for `protocol`: the settings
    // call makes the device, the older opener opens the line.
    void Open(sim::SerialPeer& peer, short protocol)
    {
        platform.serialReaders[kPort] = &peer;
        if (protocol != 0) {
            ASSERT_EQ(ListenPollTarn(kPort, 9600, 0, 8, 0, 1, protocol), 0);
        }
        ASSERT_EQ(InitPort(kPort, 9600, 0, 8, 0), kPort);
    }
    Bytes LastWrite() { return platform.Writes().empty() ? Bytes{} : platform.Writes().back(); }
    bool OutUntouched(size_t from = 0) const
    {
        for (size_t i = from; i < sizeof out; ++i)
            if (out[i] != 0xEE) return false;
        return true;
    }
    tarnlink::CCommOBJ& Record() { return *app->Ports().FindByPort(kPort); }
    // Waits (in real time) for the listener thread.
    template <typename Done>
    bool Eventually(Done done)
    {
        for (int i = 0; i < 400 && !done(); ++i) std::this_thread::sleep_for(std::chrono::milliseconds(5));
        return done();
    }

    SimPlatform platform;
    std::unique_ptr<tarnlink::CTarnlinkApp> app;
    uint8_t out[2048];
};

const uint8_t kRequest[] = {0x21};

}  // namespace

// ---- ports

TEST_F(Stations, OlderPortOpenerAndCloser)
{
    sim::NodeStationSim station(kNode, false);
    platform.serialReaders[kPort] = &station;
    EXPECT_EQ(InitPort(kPort, 19200, 2, 7, 2), kPort);
    EXPECT_EQ(platform.lastSettings.baudRate, 19200u);
    EXPECT_EQ(platform.lastSettings.parity, 2);
    EXPECT_EQ(platform.lastSettings.byteSize, 7);
    EXPECT_EQ(platform.lastSettings.stopBits, 2);
    EXPECT_EQ(Record().m_nProtocol, 0);
    EXPECT_EQ(InitPort(9, 9600, 0, 8, 0), 255);  // nothing on COM9
    EXPECT_EQ(InitPort(200, 9600, 0, 8, 0), 255);
    EXPECT_EQ(ClosePort(kPort), kPort);
    EXPECT_EQ(platform.openLines, 0);
    EXPECT_EQ(ClosePort(kPort), kPort);
    EXPECT_EQ(ClosePort(77), 77);  // never opened
}

// ---- types 0 and 7

TEST_F(Stations, NodePollingFramesAndReplies)
{
    sim::NodeStationSim station(kNode, false);
    Open(station, 0);
    station.answers[{0x21}] = {0x00, 0x41, 0x42};
    EXPECT_EQ(TARN_Polling(kPort, kNode, kRequest, 1, out), 3);
    EXPECT_EQ(LastWrite(), (Bytes{0x02, 0x05, 0x02, 0x21, 0x23}));
    EXPECT_EQ(Bytes(out, out + 4), (Bytes{0x00, 0x41, 0x42, 0xEE}));  // status and data

    EXPECT_EQ(PollingTarn(kPort, kNode, kRequest, 1, out), 3);
    EXPECT_EQ(TARN_Polling(kPort, 0x105, kRequest, 1, out), 3);  // the node is a byte
    EXPECT_TRUE(station.requests.back().checkOk);
}

struct NodeErrorCase {
    const char* name;
    StationFault fault;
    int expected;
};

class NodeErrors : public Stations, public ::testing::WithParamInterface<NodeErrorCase> {};

TEST_P(NodeErrors, ComeBackAsTheirNumbers)
{
    sim::NodeStationSim station(kNode, false);
    Open(station, 0);
    ASSERT_EQ(TARN_Polling(kPort, kNode, kRequest, 1, out), 2);  // leaves bytes in the reply buffer

    // TARN_Polling hands out the cleared first 10 reply bytes.
    station.InjectFault(GetParam().fault);
    std::memset(out, 0xEE, sizeof out);
    EXPECT_EQ(TARN_Polling(kPort, kNode, kRequest, 1, out), GetParam().expected);
    EXPECT_EQ(Bytes(out, out + 11), (Bytes{0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0xEE}));

    // PollingTarn leaves out alone.
    station.InjectFault(GetParam().fault);
    std::memset(out, 0xEE, sizeof out);
    EXPECT_EQ(PollingTarn(kPort, kNode, kRequest, 1, out), GetParam().expected);
    EXPECT_TRUE(OutUntouched());
    EXPECT_EQ(TARN_Polling(kPort, kNode, kRequest, 1, out), 2);
}

INSTANTIATE_TEST_SUITE_P(
    Node, NodeErrors,
    ::testing::Values(NodeErrorCase{"OtherNode", StationFault::OtherNode, tarnlink::kErrNodeDiffers},
                      NodeErrorCase{"WrongCheck", StationFault::WrongCheck, tarnlink::kErrCheck},
                      NodeErrorCase{"Noise", StationFault::NoiseBeforeStx, tarnlink::kErrNoStx},
                      NodeErrorCase{"Silence", StationFault::Silence, tarnlink::kErrTimeout},
                      NodeErrorCase{"Truncated", StationFault::Truncated, tarnlink::kErrTimeout},
                      NodeErrorCase{"LengthZero", StationFault::ZeroLength, tarnlink::kErrNoStatus}),
    [](const ::testing::TestParamInfo<NodeErrorCase>& info) { return std::string(info.param.name); });

TEST_F(Stations, TypeSevenWaitsTwoSecondsWhereTypeZeroWaitsHalfOne)
{
    sim::NodeStationSim station(kNode, false);
    for (short protocol : {0, 7}) {
        SCOPED_TRACE(protocol);
        app = std::make_unique<tarnlink::CTarnlinkApp>(platform);
        g_app = app.get();
        Open(station, protocol);
        station.InjectFault(StationFault::Silence);
        const uint32_t start = platform.now;
        EXPECT_EQ(TARN_Polling(kPort, kNode, kRequest, 1, out), tarnlink::kErrTimeout);
        const uint32_t waited = platform.now - start;
        const uint32_t limit = protocol == 7 ? 2000 : 500;
        EXPECT_GT(waited, limit);
        EXPECT_LE(waited, limit + 5);
        // Type 7 clears the frame it wrote.
        EXPECT_EQ(Record().m_pFrame[0], protocol == 7 ? 0x00 : 0x02);
    }
}

TEST_F(Stations, NodeRequestLongerThanAFrameIsRefused)
{
    sim::NodeStationSim station(kNode, false);
    Open(station, 0);
    const Bytes data(300, 0x01);
    EXPECT_EQ(TARN_Polling(kPort, kNode, data.data(), 255, out), tarnlink::kErrRequestTooLong);
    EXPECT_EQ(TARN_Polling(kPort, kNode, data.data(), 4096, out), tarnlink::kErrRequestTooLong);
    EXPECT_TRUE(platform.Writes().empty());
    station.answers[Bytes(254, 0x01)] = {0x00};
    EXPECT_EQ(TARN_Polling(kPort, kNode, data.data(), 254, out), 1);
}

TEST_F(Stations, ReceiversEndAtTheirLimitWhileNoiseKeepsComing)
{
    sim::NodeStationSim station(kNode, false);
    Open(station, 0);
    station.InjectFault(StationFault::Silence);
    platform.msPerByte = 1;
    platform.endlessByte = 0x02;  // STX, node 2 ...: another node at once
    EXPECT_EQ(TARN_Polling(kPort, kNode, kRequest, 1, out), tarnlink::kErrNodeDiffers);
}

// ---- type 1, the two-wire bus

TEST_F(Stations, BusExchangeFullAndHalfDuplex)
{
    sim::NodeStationSim station(kNode, true);
    platform.serialReaders[kPort] = &station;
    // While a poll waits for its reply, the listener finds the reply queued
    // and the port taken, and backs off a millisecond at a time. Each poll is
    // held here until the listener has napped longer than the reply window:
    // the reply stays the poll's, and the naps do not end its wait.
    platform.onListenerTrace = [&](const std::string& line) {
        if (line.find(" : Tick = ") == std::string::npos) return;
        const uint32_t napped = platform.OtherThreadsTime();
        const uint32_t enough = 2 * tarnlink::CDevLibListen::kReplyLimitMs;
        for (int i = 0; i < 2000 && platform.OtherThreadsTime() - napped <= enough; ++i)
            std::this_thread::sleep_for(std::chrono::milliseconds(1));
    };
    ASSERT_EQ(ListenPollTarn(kPort, 9600, 0, 8, 0, 1, 1), kPort);
    station.answers[{0x21}] = {0x00, 0x61};
    const uint32_t sent = platform.now;
    EXPECT_EQ(TARN_Polling(kPort, kNode, kRequest, 1, out), 2);
    EXPECT_EQ(LastWrite(), (Bytes{0x02, 0x02, 0x05, 0x21, 0x07, 0x03}));
    EXPECT_EQ(Bytes(out, out + 3), (Bytes{0x00, 0x61, 0xEE}));
    EXPECT_TRUE(platform.rtsChanges.empty());
    // The receive announces its start tick, after the turnaround, on the
    // listener's window, once. The listener's own lines may come beside it
    // (one that saw the reply queued and took the port after the poll finds
    // nothing and says so).
    const uint32_t start = sent + tarnlink::CDevLibListen::kTurnaroundMs;
    char tickLine[64];
    std::snprintf(tickLine, sizeof tickLine, "(%d) %8u : Tick = %u", kPort, start, start);
    std::vector<std::string> tickLines;
    for (const auto& line : platform.ListenerTraces())
        if (line.find(" : Tick = ") != std::string::npos) tickLines.push_back(line);
    EXPECT_EQ(tickLines, std::vector<std::string>{tickLine});

    // Half duplex: RTS up while sending, the line's echo of our frame dropped.
    platform.echoWrites = true;
    ASSERT_EQ(ListenPollTarn(kPort, 9600, 0, 8, 0, 2, 1), kPort);
    EXPECT_EQ(TARN_Polling(kPort, kNode, kRequest, 1, out), 2);
    EXPECT_EQ(platform.rtsChanges, (std::vector<bool>{true, false}));
    EXPECT_EQ(Bytes(out, out + 2), (Bytes{0x00, 0x61}));
}

TEST_F(Stations, BusErrors)
{
    sim::NodeStationSim station(kNode, true);
    platform.serialReaders[kPort] = &station;
    ASSERT_EQ(ListenPollTarn(kPort, 9600, 0, 8, 0, 1, 1), kPort);
    const struct {
        StationFault fault;
        int expected;
    } cases[] = {
        {StationFault::NoEtx, tarnlink::kErrListenNoEtx},   {StationFault::OtherNode, tarnlink::kErrNodeDiffers},
        {StationFault::WrongCheck, tarnlink::kErrCheck},    {StationFault::NoiseBeforeStx, tarnlink::kErrNoStx},
        {StationFault::Silence, tarnlink::kErrTimeout},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.expected);
        station.InjectFault(c.fault);
        const uint32_t start = platform.now;
        EXPECT_EQ(PollingTarn(kPort, kNode, kRequest, 1, out), c.expected);
        if (c.expected == tarnlink::kErrTimeout) {
            EXPECT_GT(platform.now - start, 300u + 100u);
        }
    }
    EXPECT_TRUE(OutUntouched());
}

TEST_F(Stations, ListenerEchoesFramesToNodeZeroAndHandsOverTheNewestOnEveryCall)
{
    sim::NodeStationSim station(kNode, true);
    platform.serialReaders[kPort] = &station;
    ASSERT_EQ(ListenPollTarn(kPort, 9600, 0, 8, 0, 1, 1), kPort);

    const Bytes frame = station.Unsolicited(0, {0x31, 0x32});
    platform.Send(kPort, frame);
    ASSERT_TRUE(Eventually([&] {
        std::lock_guard<std::mutex> lock(platform.mutex);
        return station.echoes.size() == 1;
    }));
    EXPECT_EQ(station.echoes[0], frame);
    ASSERT_TRUE(Eventually([&] { return !platform.ListenerTraces().empty() &&
                                        platform.ListenerTraces().back().find(" : 0") != std::string::npos; }));

    // The frame's data, and again on the next call: the reply as it stands.
    EXPECT_EQ(listPollingTarn(kPort, 0, nullptr, 0, out), 2);
    EXPECT_EQ(Bytes(out, out + 3), (Bytes{0x31, 0x32, 0xEE}));
    std::memset(out, 0xEE, sizeof out);
    EXPECT_EQ(listPollingTarn(kPort, 0, nullptr, 0, out), 2);
    EXPECT_EQ(Bytes(out, out + 3), (Bytes{0x31, 0x32, 0xEE}));

    // A frame to another node is not echoed; the listener reports why.
    platform.Send(kPort, station.Unsolicited(3, {0x33}));
    ASSERT_TRUE(Eventually([&] {
        for (const auto& line : platform.ListenerTraces())
            if (line.find(" : 1255") != std::string::npos) return true;
        return false;
    }));
    EXPECT_EQ(station.echoes.size(), 1u);
    std::memset(out, 0xEE, sizeof out);
    EXPECT_EQ(listPollingTarn(kPort, 0, nullptr, 0, out), 2) << "a bad frame leaves the count as it was";
    EXPECT_EQ(Bytes(out, out + 3), (Bytes{0x31, 0x32, 0xEE}));
}

TEST_F(Stations, PollingTheListenerKeepsItsOneThreadAndLine)
{
    sim::NodeStationSim station(kNode, true);
    platform.serialReaders[kPort] = &station;
    ASSERT_EQ(ListenPollTarn(kPort, 9600, 0, 8, 0, 1, 1), kPort);
    for (int i = 0; i < 3; ++i) EXPECT_EQ(listPollingTarn(kPort, 0, kRequest, 1, out), 0);
    EXPECT_EQ(platform.openedPorts.size(), 1u);
    EXPECT_EQ(platform.openLines, 1);
    platform.Send(kPort, station.Unsolicited(0, {0x01}));
    ASSERT_TRUE(Eventually([&] { return listPollingTarn(kPort, 0, nullptr, 0, out) == 1; }));
    EXPECT_EQ(out[0], 0x01);
    EXPECT_EQ(platform.openLines, 1);
    std::lock_guard<std::mutex> lock(platform.mutex);
    EXPECT_EQ(station.echoes.size(), 1u);
}

TEST_F(Stations, SettingUpTheListenerAgainReplacesARunningOne)
{
    // The former device's thread is stopped and joined before it is deleted
    // (AddressSanitizer sees any use after the delete).
    sim::NodeStationSim station(kNode, true);
    platform.serialReaders[kPort] = &station;
    for (int i = 0; i < 5; ++i) {
        ASSERT_EQ(ListenPollTarn(kPort, 9600, 0, 8, 0, 1, 1), kPort);
        platform.Send(kPort, station.Unsolicited(0, {static_cast<uint8_t>(i)}));
    }
    ASSERT_TRUE(Eventually([&] {
        std::lock_guard<std::mutex> lock(platform.mutex);
        return !station.echoes.empty();
    }));
    EXPECT_EQ(platform.openLines, 1);
    EXPECT_EQ(ClosePort(kPort), kPort);  // stops the listener, then closes
    EXPECT_EQ(platform.openLines, 0);
    auto* listener = dynamic_cast<tarnlink::CDevLibListen*>(Record().m_pDevice);
    ASSERT_NE(listener, nullptr);
    EXPECT_FALSE(listener->IsListening());
}

TEST_F(Stations, ListenerSetupOutcomes)
{
    sim::NodeStationSim station(kNode, true);
    EXPECT_EQ(ListenPollTarn(kPort, 9600, 0, 8, 0, 1, 1), -1);  // nothing on the line
    EXPECT_EQ(listPollingTarn(kPort, 0, nullptr, 0, out), 0) << "nothing heard: no data";
    platform.serialReaders[kPort] = &station;
    platform.failReceiveEvents = true;
    EXPECT_EQ(ListenPollTarn(kPort, 9600, 0, 8, 0, 1, 1), -1);
    EXPECT_EQ(platform.openLines, 0);
    platform.failReceiveEvents = false;
    // Another protocol: the settings are kept, nothing opens.
    EXPECT_EQ(ListenPollTarn(6, 4800, 1, 7, 0, 1, 3), 0);
    EXPECT_EQ(app->Ports().FindByPort(6)->m_nBaudRate, 4800u);
    EXPECT_EQ(app->Ports().FindByPort(6)->m_nProtocol, 3);
    EXPECT_EQ(platform.openLines, 0);
    // Polling the listener of a port whose device cannot listen: its reply as it stands.
    EXPECT_EQ(listPollingTarn(6, 0, nullptr, 0, out), 0);
    EXPECT_EQ(listPollingTarn(7, 0, nullptr, 0, out), tarnlink::kErrNoRecord);
    EXPECT_TRUE(OutUntouched());
}

// ---- type 3, the text modem

TEST_F(Stations, TextModemPollingKinds)
{
    sim::TextModemSim modem;
    Open(modem, 3);
    // Kind 1: 60 ^ 01 ^ DB = BA.
    EXPECT_EQ(TARN200LIB_Polling(kPort, 1, nullptr, 0, out), 6);
    EXPECT_EQ(LastWrite(), Text("6001DBBA\x03"));
    EXPECT_EQ(Bytes(out, out + 3), (Bytes{'0', '0', 0xEE}));  // the reply from index 4, no further
    EXPECT_EQ(TARN200LIB_Polling(kPort, 2, nullptr, 0, out), 6);
    EXPECT_EQ(LastWrite(), Text("600767\x03"));
    const uint8_t data[] = {'1', '2'};
    EXPECT_EQ(TARN200LIB_Polling(kPort, 0, data, 2, out), 6);
    EXPECT_EQ(LastWrite(), Text("60021270\x03"));  // 60 ^ 02 ^ 12 = 70
    EXPECT_EQ(Record().m_pReq[0], 0x14);          // the request is spent
    EXPECT_EQ(TARN200LIB_Polling(kPort, 9, nullptr, 0, out), 6);
    EXPECT_EQ(LastWrite(), Text("0\x03"));
    // Every frame was announced.
    int calls = 0;
    for (const auto& line : platform.Traces()) calls += line.find(" : Call") != std::string::npos;
    EXPECT_EQ(calls, 4);
    for (const auto& line : modem.lines) EXPECT_TRUE(line.checkOk);
}

TEST_F(Stations, TextModemReplies)
{
    sim::TextModemSim modem;
    Open(modem, 3);
    const struct {
        const char* reply;
        int expected;
    } cases[] = {
        {"600104", 5000}, {"60010C", 5005}, {"600106", 5011}, {"600113", tarnlink::kErrTextUnknownStatus},
        {"6005", 5},  // not an acknowledgement: its pair comes back
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.reply);
        modem.replies.push_back(c.reply);
        EXPECT_EQ(TARN200LIB_Polling(kPort, 1, nullptr, 0, out), c.expected);
    }
    // A pair of 5 copies no more than the reply brought (nothing beyond index 4).
    std::memset(out, 0xEE, sizeof out);
    modem.replies.push_back("6005");
    EXPECT_EQ(TARN200LIB_Polling(kPort, 1, nullptr, 0, out), 5);
    EXPECT_TRUE(OutUntouched());

    modem.InjectFault(StationFault::Silence);
    const uint32_t start = platform.now;
    EXPECT_EQ(TARN200LIB_Polling(kPort, 1, nullptr, 0, out), tarnlink::kErrTextTimeout);
    EXPECT_GT(platform.now - start, 300u);
    modem.InjectFault(StationFault::Truncated);  // no ETX
    EXPECT_EQ(TARN200LIB_Polling(kPort, 1, nullptr, 0, out), tarnlink::kErrTextTimeout);

    // Characters that never end in ETX: the time limit still holds.
    platform.msPerByte = 1;
    platform.endlessByte = 'A';
    modem.InjectFault(StationFault::Silence);
    EXPECT_EQ(TARN200LIB_Polling(kPort, 1, nullptr, 0, out), tarnlink::kErrTextTimeout);
}

TEST_F(Stations, TextBlockTransferPadsAndNumbersTheBlocks)
{
    sim::TextModemSim modem;
    Open(modem, 3);
    const std::string data = "ABCDEFGHIJKLM";  // 13 bytes: two blocks, the last "IJKLM000"
    EXPECT_EQ(TARN200LIB_STD_Write(kPort, 0, "", "Z", reinterpret_cast<const uint8_t*>(data.data()), 13, out), 6);
    EXPECT_EQ(Bytes(out, out + 7), (Bytes{'6', '0', '0', '1', '0', '0', 0xEE}));
    ASSERT_EQ(modem.lines.size(), 3u);
    EXPECT_EQ(modem.lines[0].text, "6007DA0008804A00Z");  // X = 2 blocks x 2
    EXPECT_EQ(modem.lines[1].text, "6007DAABCDEFGH01Z");
    EXPECT_EQ(modem.lines[2].text, "6007DAIJKLM00002Z");
    EXPECT_EQ(Record().m_pReq[15], 0x14);

    // A count of 12 numbers the blocks 12 and 13: X = (12 + 2) x 2 - 2 = 26.
    modem.lines.clear();
    EXPECT_EQ(TARN200LIB_STD_Write(kPort, 0, "12", "", reinterpret_cast<const uint8_t*>(data.data()), 13, out), 6);
    ASSERT_EQ(modem.lines.size(), 3u);
    EXPECT_EQ(modem.lines[0].text, "6007DA0008801AA00");
    EXPECT_EQ(modem.lines[1].text, "6007DAABCDEFGH12");
    EXPECT_EQ(modem.lines[2].text, "6007DAIJKLM00013");

    // 255 bytes pad to 256: 32 blocks.
    modem.lines.clear();
    const Bytes many(255, 'Q');
    EXPECT_EQ(TARN200LIB_STD_Write(kPort, 0, "", "", many.data(), 255, out), 6);
    ASSERT_EQ(modem.lines.size(), 33u);
    EXPECT_EQ(modem.lines[0].text, "6007DA00088040A00");
    EXPECT_EQ(modem.lines[32].text, "6007DAQQQQQQQ032");
    for (const auto& line : modem.lines) EXPECT_TRUE(line.checkOk);
}

TEST_F(Stations, TextBlockTransferStopsAtTheFirstRefusal)
{
    sim::TextModemSim modem;
    Open(modem, 3);
    const Bytes data(24, '7');
    modem.replies = {"600100", "600100", "600109"};
    EXPECT_EQ(TARN200LIB_STD_Write(kPort, 0, "", "", data.data(), 24, out), 5002);
    EXPECT_EQ(modem.lines.size(), 3u);  // header, block 1, block 2 refused; block 3 not sent

    // A header that is not acknowledged ends it at once.
    modem.lines.clear();
    modem.replies = {"6005"};
    EXPECT_EQ(TARN200LIB_STD_Write(kPort, 0, "", "", data.data(), 24, out), 5);
    EXPECT_EQ(modem.lines.size(), 1u);
}

// ---- type 10, the framed modem

TEST_F(Stations, FramedModemExchange)
{
    sim::FramedModemSim modem;
    Open(modem, 10);
    const std::string request = "STATION01 JOB-000042DATA";
    modem.answers[Text("DATA")] = Text("REPLY");
    const int n = static_cast<int>(request.size());
    EXPECT_EQ(TARN_SendData2Modem(kPort, reinterpret_cast<const uint8_t*>(request.data()), n, 1000, out), 29);
    EXPECT_EQ(Bytes(out, out + 30), Text("STATION01 JOB-0000420005REPLY\xEE"));
    const auto& sent = modem.requests.back();
    EXPECT_TRUE(sent.crcOk);
    EXPECT_EQ(sent.body, Text(request));
    // STX, request, ETX, CRC high and low.
    const uint16_t crc = sim::FramedModemSim::Crc(Bytes(sent.wire.begin(), sent.wire.end() - 3));
    EXPECT_EQ(sent.wire.size(), request.size() + 4);
    EXPECT_EQ(sent.wire[n + 1], 0x03);
    EXPECT_EQ(sent.wire[n + 2], crc >> 8);
    EXPECT_EQ(sent.wire[n + 3], crc & 0xFF);
}

TEST_F(Stations, FramedModemFrameOfTheCheckDigits)
{
    sim::FramedModemSim modem;
    Open(modem, 10);
    modem.InjectFault(StationFault::Silence);
    const Bytes digits = Text("123456789");
    EXPECT_EQ(TARN_SendData2Modem(kPort, digits.data(), 9, 50, out), tarnlink::kErrTimeout);
    // CRC-16/ARC over STX and the digits, as the station works it out bit by bit.
    const Bytes covered = Text("\x02" "123456789");
    const uint16_t crc = sim::FramedModemSim::Crc(covered);
    Bytes expected = covered;
    expected.insert(expected.end(), {0x03, static_cast<uint8_t>(crc >> 8), static_cast<uint8_t>(crc & 0xFF)});
    EXPECT_EQ(LastWrite(), expected);
    EXPECT_EQ(sim::FramedModemSim::Crc(digits), 0xBB3D);
}

struct ModemErrorCase {
    const char* name;
    StationFault fault;
    int expected;
};

class ModemErrors : public Stations, public ::testing::WithParamInterface<ModemErrorCase> {};

TEST_P(ModemErrors, ComeBackAsTheirNumbers)
{
    sim::FramedModemSim modem;
    Open(modem, 10);
    const std::string request = "STATION01 JOB-000042DATA";
    modem.InjectFault(GetParam().fault);
    const int result = TARN_SendData2Modem(kPort, reinterpret_cast<const uint8_t*>(request.data()),
                                           static_cast<int>(request.size()), 1000, out);
    EXPECT_EQ(result, GetParam().expected);
    if (tarnlink::IsError(result)) {
        EXPECT_TRUE(OutUntouched());
    }
}

INSTANTIATE_TEST_SUITE_P(
    Modem, ModemErrors,
    ::testing::Values(ModemErrorCase{"Noise", StationFault::NoiseBeforeStx, 26},
                      ModemErrorCase{"OtherId1", StationFault::OtherId1, tarnlink::kErrModemId1},
                      ModemErrorCase{"OtherId2", StationFault::OtherId2, tarnlink::kErrModemId2},
                      ModemErrorCase{"WrongCrc", StationFault::WrongCheck, tarnlink::kErrCheck},
                      ModemErrorCase{"NoEtx", StationFault::NoEtx, tarnlink::kErrModemNoEtx},
                      ModemErrorCase{"BadLength", StationFault::BadLength, tarnlink::kErrBadLength},
                      ModemErrorCase{"HugeLength", StationFault::HugeLength, tarnlink::kErrReplyTooLong},
                      ModemErrorCase{"Truncated", StationFault::Truncated, tarnlink::kErrTimeout},
                      ModemErrorCase{"Silence", StationFault::Silence, tarnlink::kErrTimeout}),
    [](const ::testing::TestParamInfo<ModemErrorCase>& info) { return std::string(info.param.name); });

TEST_F(Stations, FramedModemLengthCharactersAreWeighedAsTheyCome)
{
    // A station that sends ":" for the tens of a length of ten.
    struct Station : sim::SerialPeer {
        Bytes reply = sim::FramedModemSim::Reply(Text("STATION01 "), Text("JOB-000042"), Text("0123456789"), "000:");
        Bytes FromSerialLine(const uint8_t*, size_t) override { return reply; }
    } station;
    Open(station, 10);
    const std::string request = "STATION01 JOB-000042DATA";
    EXPECT_EQ(TARN_SendData2Modem(kPort, reinterpret_cast<const uint8_t*>(request.data()), 24, 1000, out), 34);
    EXPECT_EQ(Bytes(out, out + 35), Text("STATION01 JOB-000042000:0123456789\xEE"));
}

TEST_F(Stations, FramedModemSecondIdentifierOfSpacesTakesAny)
{
    sim::FramedModemSim modem;
    Open(modem, 10);
    const std::string request = "STATION01           DATA";
    modem.InjectFault(StationFault::OtherId2);
    EXPECT_EQ(TARN_SendData2Modem(kPort, reinterpret_cast<const uint8_t*>(request.data()), 24, 1000, out), 26);
    // A request shorter than its identifiers: the missing bytes count as spaces.
    EXPECT_EQ(TARN_SendData2Modem(kPort, reinterpret_cast<const uint8_t*>("STAT"), 4, 1000, out), 26);
    EXPECT_EQ(Bytes(out, out + 10), Text("STAT      "));
}

TEST_F(Stations, FramedModemNoiseWithoutEndTimesOut)
{
    sim::FramedModemSim modem;
    Open(modem, 10);
    modem.InjectFault(StationFault::Silence);
    platform.msPerByte = 1;
    platform.endlessByte = 0x7F;
    EXPECT_EQ(TARN_SendData2Modem(kPort, reinterpret_cast<const uint8_t*>("X"), 1, 200, out), tarnlink::kErrTimeout);
    EXPECT_EQ(TARN_ListenModemENQ(kPort, 0x05, 100), 0);  // the wait for a byte too
}

TEST_F(Stations, FramedModemRawCommandAndWaitForByte)
{
    sim::FramedModemSim modem;
    Open(modem, 10);
    const Bytes at = Text("ATZ\r");
    EXPECT_EQ(TARN_ModemCommand(kPort, at.data(), 4, out, 300), 4);
    EXPECT_EQ(LastWrite(), at);  // as it is, no frame
    EXPECT_EQ(Bytes(out, out + 5), Text("OK\r\n\xEE"));
    modem.rawReply.clear();
    EXPECT_EQ(TARN_ModemCommand(kPort, at.data(), 4, out, 10), 0);
    platform.failReads = true;
    EXPECT_EQ(TARN_ModemCommand(kPort, at.data(), 4, out, 10), -1);
    platform.failReads = false;

    platform.Send(kPort, {0x30, 0x31, 0x05, 0x32});
    EXPECT_EQ(TARN_ListenModemENQ(kPort, 0x05, 1000), 1);
    const uint32_t start = platform.now;
    EXPECT_EQ(TARN_ListenModemENQ(kPort, 0x05, 250), 0);
    EXPECT_GT(platform.now - start, 250u);
    EXPECT_EQ(TARN_ListenModemENQ(9, 0x05, 250), 0);  // no record
}

// ---- a protocol that lacks the operation

TEST_F(Stations, OperationsTheProtocolLacksAreRefused)
{
    sim::CardReaderSim reader;
    platform.usb.Attach(&reader);
    ASSERT_EQ(TARN_InitPort(100, 9600), 100);
    const uint8_t data[] = {1, 2, 3};
    const uint32_t start = platform.now;
    EXPECT_EQ(TARN_SendData2Modem(100, data, 3, 1000, out), tarnlink::kErrNotSupported);
    EXPECT_EQ(TARN_ModemCommand(100, data, 3, out, 10), tarnlink::kErrNotSupported);
    EXPECT_EQ(TARN200LIB_STD_Write(100, 0, "", "", data, 3, out), tarnlink::kErrNotSupported);
    EXPECT_EQ(TARN_ListenModemENQ(100, 0x05, 1000), 0);
    EXPECT_EQ(platform.now, start);  // at once
    EXPECT_EQ(listPollingTarn(100, 0, data, 3, out), 0);
    EXPECT_TRUE(OutUntouched());
    EXPECT_TRUE(reader.requests.empty());
    // Its own exchange still serves the polling entry.
    EXPECT_EQ(TARN_Polling(100, 0, data, 1, out), 1);
    EXPECT_EQ(out[0], 0x01);  // the reader does not know command 01
    // The listener's entry hands over that reply as it stands, and sends nothing.
    std::memset(out, 0xEE, sizeof out);
    EXPECT_EQ(listPollingTarn(100, 0, data, 3, out), 1);
    EXPECT_EQ(Bytes(out, out + 2), (Bytes{0x01, 0xEE}));
    EXPECT_EQ(reader.requests.size(), 1u);
}

TEST_F(Stations, EntriesWithoutARecord)
{
    const uint8_t data[] = {1};
    EXPECT_EQ(TARN_Polling(4, 0, data, 1, out), tarnlink::kErrNoRecord);
    EXPECT_EQ(PollingTarn(4, 0, data, 1, out), tarnlink::kErrNoRecord);
    EXPECT_EQ(TARN200LIB_Polling(4, 1, data, 1, out), tarnlink::kErrNoRecord);
    EXPECT_EQ(TARN200LIB_STD_Write(4, 0, "", "", data, 1, out), tarnlink::kErrNoRecord);
    EXPECT_EQ(TARN_SendData2Modem(4, data, 1, 10, out), tarnlink::kErrNoRecord);
    EXPECT_EQ(TARN_ModemCommand(4, data, 1, out, 10), tarnlink::kErrNoRecord);
    EXPECT_TRUE(OutUntouched());
    EXPECT_EQ(app->Ports().GetSize(), 0u);
}
