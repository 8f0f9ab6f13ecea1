// The exported functions against a simulated reader: the frames each one sends
// on a serial line and over USB, the reader-command rule for every kind of
// reply, and the opening and closing of ports.
#include <gtest/gtest.h>

#include <cstring>
#include <memory>
#include <thread>
#include <vector>

#include "readerlink/dev_lib.h"
#include "readerlink/error_codes.h"
#include "readerlink/tarnlink.h"
#include "readerlink/tarnlink_app.h"
#include "tests/readerlink/sim_platform.h"
#include "tests/sim/card_reader_sim.h"

using sim::Bytes;
using sim::ReaderFault;

// The application object the exports of this test program run on.
tarnlink::CTarnlinkApp* g_app = nullptr;

namespace {

constexpr int kSerialPort = 5;
constexpr int kUsbPort = 100;
const Bytes kSelectApdu = {0x00, 0xA4, 0x04, 0x00, 0x00};
const uint8_t s_apdu[] = {0x00, 0xA4, 0x04, 0x00, 0x00};
const uint8_t s_probe[] = {0x03, 0x00, 0x00, 0x00};
const uint8_t s_two[] = {0x01, 0x02};
const uint8_t s_version[] = {0x16};

}  // namespace

// The exports of these tests run on the application object of the fixture.
tarnlink::CTarnlinkApp& tarnlink::TheApp()
{
    return *g_app;
}

class Exports : public ::testing::Test {
public:
    void SetUp() override
    {
        platform.serialReaders[kSerialPort] = &reader;
        platform.usb.Attach(&reader);
        app = std::make_unique<tarnlink::CTarnlinkApp>(platform);
        g_app = app.get();
    }
    void TearDown() override { g_app = nullptr; }

    // The frame the reader saw last.
    Bytes LastWire() const { return reader.requests.empty() ? Bytes{} : reader.requests.back().wire; }
    tarnlink::CCommOBJ& Record(int port) { return *app->Ports().FindByPort(port); }

    sim::CardReaderSim reader;
    SimPlatform platform;
    std::unique_ptr<tarnlink::CTarnlinkApp> app;
    int outLen = -7;
    uint8_t out[2048];
    Exports() { std::memset(out, 0xEE, sizeof out); }

    bool OutUntouched() const
    {
        for (uint8_t b : out)
            if (b != 0xEE) return false;
        return outLen == -7;
    }
};

// ---- frames of every export

TEST_F(Exports, SerialFramesOfEveryExport)
{
    ASSERT_EQ(TARN_InitPort(kSerialPort, 9600), kSerialPort);
    struct Case {
        const char* name;
        int (*call)(Exports&);
        Bytes frame;
    };
    const Case cases[] = {
        {"TARN_IC_PowerOn", [](Exports& t) { return TARN_IC_PowerOn(kSerialPort, &t.outLen, t.out); },
         {0x02, 0x00, 0x02, 0xC0, 0x00, 0xC2}},
        {"TARN_IC_Case1", [](Exports& t) { return TARN_IC_Case1(kSerialPort, 5, s_apdu, &t.outLen, t.out); },
         {0x02, 0x00, 0x06, 0xC1, 0x00, 0xA4, 0x04, 0x00, 0x00, 0x67}},
        {"TARN_IC_Case2", [](Exports& t) { return TARN_IC_Case2(kSerialPort, 5, s_apdu, &t.outLen, t.out); },
         {0x02, 0x00, 0x06, 0xC2, 0x00, 0xA4, 0x04, 0x00, 0x00, 0x64}},
        {"TARN_IC_Case3", [](Exports& t) { return TARN_IC_Case3(kSerialPort, 5, s_apdu, &t.outLen, t.out); },
         {0x02, 0x00, 0x06, 0xC3, 0x00, 0xA4, 0x04, 0x00, 0x00, 0x65}},
        {"TARN_ABM_Transparent",
         [](Exports& t) { return TARN_ABM_Transparent(kSerialPort, 0x4C, 4, s_probe, &t.outLen, t.out); },
         {0x02, 0x00, 0x05, 0x4C, 0x03, 0x00, 0x00, 0x00, 0x4A}},
        {"TARN_ABM_Transparent (low byte of the command)",
         [](Exports& t) { return TARN_ABM_Transparent(kSerialPort, 0x361, 2, s_two, &t.outLen, t.out); },
         {0x02, 0x00, 0x03, 0x61, 0x01, 0x02, 0x61}},
        {"TARN_AM_Transparent", [](Exports& t) { return TARN_AM_Transparent(kSerialPort, 2, s_two, &t.outLen, t.out); },
         {0x02, 0x00, 0x03, 0x41, 0x01, 0x02, 0x41}},
        {"TARN_AM_TransparentCRC",
         [](Exports& t) { return TARN_AM_TransparentCRC(kSerialPort, 2, s_two, &t.outLen, t.out); },
         {0x02, 0x00, 0x03, 0x47, 0x01, 0x02, 0x47}},
        {"TARN_BM_Transparent", [](Exports& t) { return TARN_BM_Transparent(kSerialPort, 2, s_two, &t.outLen, t.out); },
         {0x02, 0x00, 0x03, 0x60, 0x01, 0x02, 0x60}},
        {"TARN_BM_TransparentCRC",
         [](Exports& t) { return TARN_BM_TransparentCRC(kSerialPort, 2, s_two, &t.outLen, t.out); },
         {0x02, 0x00, 0x03, 0x6E, 0x01, 0x02, 0x6E}},
        {"TARN_BM_Transparent_Test",
         [](Exports& t) { return TARN_BM_Transparent_Test(kSerialPort, 2, s_two, &t.outLen, t.out, 0xA5, 0x5A); },
         {0x02, 0x00, 0x03, 0x60, 0x01, 0x02, 0x60, 0xA5, 0x5A}},
        {"TARN_BM_Transparent_Set",
         [](Exports& t) { return TARN_BM_Transparent_Set(kSerialPort, 0x1234, &t.outLen, t.out); },
         {0x02, 0x00, 0x03, 0x62, 0x34, 0x12, 0x47}},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        platform.serialWrites.clear();
        c.call(*this);
        // One write carries the whole frame.
        ASSERT_EQ(platform.serialWrites.size(), 1u);
        EXPECT_EQ(platform.serialWrites[0], c.frame);
    }
    // The reader saw the tail after the check, outside the frame.
    const auto& test = reader.requests[reader.requests.size() - 2];
    EXPECT_EQ(test.trailing, (Bytes{0xA5, 0x5A}));
    for (const auto& request : reader.requests) EXPECT_TRUE(request.checkOk);
}

TEST_F(Exports, UsbFramesAreTheLengthPrefixAndTheRequest)
{
    ASSERT_EQ(TARN_InitPort(kUsbPort, 9600), kUsbPort);
    const uint8_t two[] = {0x01, 0x02};
    TARN_IC_PowerOn(kUsbPort, &outLen, out);
    EXPECT_EQ(platform.usb.writes.back(), (Bytes{0x00, 0x02, 0xC0, 0x00}));
    TARN_IC_Case3(kUsbPort, 5, kSelectApdu.data(), &outLen, out);
    EXPECT_EQ(platform.usb.writes.back(), (Bytes{0x00, 0x06, 0xC3, 0x00, 0xA4, 0x04, 0x00, 0x00}));
    // Tail bytes travel only on serial lines.
    TARN_BM_Transparent_Test(kUsbPort, 2, two, &outLen, out, 0xA5, 0x5A);
    EXPECT_EQ(platform.usb.writes.back(), (Bytes{0x00, 0x03, 0x60, 0x01, 0x02}));
    EXPECT_TRUE(platform.serialWrites.empty());
}

TEST_F(Exports, LongestRequestGoesWholeAndLongerIsRefused)
{
    ASSERT_EQ(TARN_InitPort(kSerialPort, 9600), kSerialPort);
    const Bytes data(300, 0x5A);
    EXPECT_EQ(TARN_ABM_Transparent(kSerialPort, 0x61, 299, data.data(), &outLen, out), 2);  // no contactless card
    ASSERT_EQ(LastWire().size(), 304u);
    EXPECT_EQ(LastWire()[1], 0x01);
    EXPECT_EQ(LastWire()[2], 0x2C);

    const size_t sent = reader.requests.size();
    EXPECT_EQ(TARN_ABM_Transparent(kSerialPort, 0x61, 300, data.data(), &outLen, out),
              tarnlink::kErrRequestTooLong);
    EXPECT_EQ(TARN_IC_Case3(kSerialPort, -1, data.data(), &outLen, out), tarnlink::kErrRequestTooLong);
    EXPECT_EQ(TARN_BM_Transparent_Test(kSerialPort, 297, data.data(), &outLen, out, 1, 2),
              tarnlink::kErrRequestTooLong);
    EXPECT_EQ(reader.requests.size(), sent);
    EXPECT_TRUE(OutUntouched());
}

// ---- replies

TEST_F(Exports, StatusZeroCopiesThePayload)
{
    reader.card.apdus[kSelectApdu] = {0x6F, 0x01, 0x90, 0x00};
    const Bytes readBinary = {0x00, 0xB0, 0x00, 0x00, 0x10};
    reader.card.apdus[readBinary] = {0x90, 0x00};
    for (int port : {kSerialPort, kUsbPort}) {
        SCOPED_TRACE(port);
        ASSERT_EQ(TARN_InitPort(port, 9600), port);
        EXPECT_EQ(TARN_IC_PowerOn(port, &outLen, out), 0);
        EXPECT_EQ(Bytes(out, out + outLen), reader.card.atr);

        EXPECT_EQ(TARN_IC_Case2(port, 5, kSelectApdu.data(), &outLen, out), 0);
        EXPECT_EQ(outLen, 4);
        EXPECT_EQ(Bytes(out, out + 4), (Bytes{0x6F, 0x01, 0x90, 0x00}));
        EXPECT_EQ(out[4], 0xEE);
        EXPECT_EQ(reader.requests.back().data, (Bytes{0xC2, 0x00, 0xA4, 0x04, 0x00, 0x00}));

        // A card answer of the status words alone.
        std::memset(out, 0xEE, sizeof out);
        EXPECT_EQ(TARN_IC_Case2(port, 5, readBinary.data(), &outLen, out), 0);
        EXPECT_EQ(outLen, 2);
        EXPECT_EQ(Bytes(out, out + 3), (Bytes{0x90, 0x00, 0xEE}));
    }
}

TEST_F(Exports, SerialRepliesOfMoreThan1024DataBytesAreCopiedWhole)
{
    // A LEN above 1024 is a length, not an error number: up to the promised
    // TARNLINK_MAX_REPLY bytes of payload come back whole.
    ASSERT_EQ(TARN_InitPort(kSerialPort, 9600), kSerialPort);
    const Bytes request = {0xC2, 0x00, 0xA4, 0x04, 0x00, 0x00};
    for (int payload : {1023, 1024, 1027, 1500, TARNLINK_MAX_REPLY}) {
        SCOPED_TRACE(payload);
        Bytes answer(1 + static_cast<size_t>(payload));
        for (int i = 0; i < payload; ++i) answer[1 + static_cast<size_t>(i)] = static_cast<uint8_t>(i * 7 + 1);
        reader.card.replies[request] = answer;
        std::memset(out, 0xEE, sizeof out);
        outLen = -7;
        EXPECT_EQ(TARN_IC_Case2(kSerialPort, 5, s_apdu, &outLen, out), 0);
        EXPECT_EQ(outLen, payload);
        EXPECT_EQ(Bytes(out, out + payload), Bytes(answer.begin() + 1, answer.end()));
        EXPECT_EQ(out[payload], 0xEE);
    }
    // A long reply with a non-zero status is that status.
    Bytes refused(1500, 0x33);
    refused[0] = 0x05;
    reader.card.replies[request] = refused;
    std::memset(out, 0xEE, sizeof out);
    outLen = -7;
    EXPECT_EQ(TARN_IC_Case2(kSerialPort, 5, s_apdu, &outLen, out), 5);
    EXPECT_TRUE(OutUntouched());
    reader.card.replies[{0x16}] = refused;
    EXPECT_EQ(TARN_ABM_RF_Version(kSerialPort, out), 5);
    EXPECT_EQ(out[1498], 0x33);
    EXPECT_EQ(out[1499], 0xEE);
}

TEST_F(Exports, PollingTakesASerialReplyOfMoreThan1024DataBytesForAnError)
{
    // The polling entries answer the data count itself, so such a count is an
    // error: TARN_Polling hands out the 10 cleared reply bytes, PollingTarn nothing.
    ASSERT_EQ(TARN_InitPort(kSerialPort, 9600), kSerialPort);
    for (int length : {1100, TARNLINK_MAX_REPLY + 1}) {
        SCOPED_TRACE(length);
        Bytes answer(static_cast<size_t>(length), 0x5A);
        answer[0] = 0x00;
        reader.card.replies[{0x16}] = answer;
        std::memset(out, 0xEE, sizeof out);
        EXPECT_EQ(TARN_Polling(kSerialPort, 0, s_version, 1, out), length);
        EXPECT_EQ(Bytes(out, out + 11), (Bytes{0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0xEE}));
        EXPECT_EQ(Bytes(Record(kSerialPort).m_pResp, Record(kSerialPort).m_pResp + 10), Bytes(10, 0x00));
        std::memset(out, 0xEE, sizeof out);
        EXPECT_EQ(PollingTarn(kSerialPort, 0, s_version, 1, out), length);
        EXPECT_TRUE(OutUntouched());
    }
    // Up to 1024 the count and the data come as before.
    reader.card.replies[{0x16}] = Bytes(1024, 0x5A);
    std::memset(out, 0xEE, sizeof out);
    EXPECT_EQ(TARN_Polling(kSerialPort, 0, s_version, 1, out), 1024);
    EXPECT_EQ(Bytes(out, out + 1024), Bytes(1024, 0x5A));
    EXPECT_EQ(out[1024], 0xEE);
}

TEST_F(Exports, ContactlessProbeAnswersB)
{
    reader.card.contact = false;
    reader.card.contactless = true;
    ASSERT_EQ(TARN_InitPort(kUsbPort, 9600), kUsbPort);
    EXPECT_EQ(TARN_IC_PowerOn(kUsbPort, &outLen, out), 2);
    const uint8_t probe[] = {0x03, 0x00, 0x00, 0x00};
    EXPECT_EQ(TARN_ABM_Transparent(kUsbPort, 0x4C, 4, probe, &outLen, out), 0);
    EXPECT_EQ(out[0], 'B');
    EXPECT_EQ(reader.requests.back().data, (Bytes{0x4C, 0x03, 0x00, 0x00, 0x00}));
}

TEST_F(Exports, NonZeroStatusIsReturnedAndNothingCopied)
{
    reader.card.contact = false;
    for (int port : {kSerialPort, kUsbPort}) {
        SCOPED_TRACE(port);
        ASSERT_EQ(TARN_InitPort(port, 9600), port);
        EXPECT_EQ(TARN_IC_PowerOn(port, &outLen, out), 2);
        EXPECT_TRUE(OutUntouched());
        reader.card.replies[{0x41, 0x07}] = {0xFF, 0x01, 0x02};
        const uint8_t data = 0x07;
        EXPECT_EQ(TARN_AM_Transparent(port, 1, &data, &outLen, out), 255);
        EXPECT_TRUE(OutUntouched());
    }
}

// Every error of the exchange: returned as it is, the output untouched and the
// first 10 bytes of the reply buffer cleared.
struct ErrorCase {
    const char* name;
    int port;
    ReaderFault fault;
    int expected;
};

class ExchangeErrors : public Exports, public ::testing::WithParamInterface<ErrorCase> {};

TEST_P(ExchangeErrors, AreReturnedWithOutputUntouched)
{
    const ErrorCase& c = GetParam();
    reader.card.apdus[kSelectApdu] = {0x90, 0x00};
    ASSERT_EQ(TARN_InitPort(c.port, 9600), c.port);
    // A good exchange first leaves bytes in the reply buffer.
    ASSERT_EQ(TARN_IC_Case2(c.port, 5, kSelectApdu.data(), &outLen, out), 0);
    outLen = -7;
    std::memset(out, 0xEE, sizeof out);

    reader.InjectFault(c.fault);
    const uint32_t start = platform.now;
    EXPECT_EQ(TARN_IC_Case2(c.port, 5, kSelectApdu.data(), &outLen, out), c.expected);
    EXPECT_TRUE(OutUntouched());
    EXPECT_EQ(Bytes(Record(c.port).m_pResp, Record(c.port).m_pResp + 10), Bytes(10, 0x00));
    if (c.expected == tarnlink::kErrTimeout) {
        EXPECT_GE(platform.now - start, 10000u);
    }

    // The next exchange works again.
    EXPECT_EQ(TARN_IC_Case2(c.port, 5, kSelectApdu.data(), &outLen, out), 0);
    EXPECT_EQ(outLen, 2);
}

INSTANTIATE_TEST_SUITE_P(
    Reader, ExchangeErrors,
    ::testing::Values(ErrorCase{"SerialNoise", kSerialPort, ReaderFault::NoiseBeforeStx, tarnlink::kErrNoStx},
                      ErrorCase{"SerialWrongCheck", kSerialPort, ReaderFault::WrongBcc, tarnlink::kErrCheck},
                      ErrorCase{"SerialSilence", kSerialPort, ReaderFault::Silence, tarnlink::kErrTimeout},
                      ErrorCase{"SerialTruncated", kSerialPort, ReaderFault::Truncated, tarnlink::kErrTimeout},
                      ErrorCase{"SerialOversized", kSerialPort, ReaderFault::Oversized, tarnlink::kErrReplyTooLong},
                      ErrorCase{"SerialLengthZero", kSerialPort, ReaderFault::NoData, tarnlink::kErrNoStatus},
                      ErrorCase{"UsbSilence", kUsbPort, ReaderFault::Silence, tarnlink::kErrTimeout},
                      ErrorCase{"UsbLengthOnly", kUsbPort, ReaderFault::NoData, tarnlink::kErrNoStatus},
                      ErrorCase{"UsbOneByte", kUsbPort, ReaderFault::ShortUsbRead, tarnlink::kErrNoStatus}),
    [](const ::testing::TestParamInfo<ErrorCase>& info) { return std::string(info.param.name); });

TEST_F(Exports, UsbWriteAndReadFailures)
{
    ASSERT_EQ(TARN_InitPort(kUsbPort, 9600), kUsbPort);
    platform.usb.failWrites = true;
    EXPECT_EQ(TARN_IC_PowerOn(kUsbPort, &outLen, out), tarnlink::kErrUsbWrite);
    platform.usb.failWrites = false;
    platform.usb.failReads = true;
    EXPECT_EQ(TARN_IC_PowerOn(kUsbPort, &outLen, out), tarnlink::kErrUsbRead);
    EXPECT_TRUE(OutUntouched());
}

TEST_F(Exports, OversizedUsbReplyIsCutToOneRead)
{
    ASSERT_EQ(TARN_InitPort(kUsbPort, 9600), kUsbPort);
    reader.InjectFault(ReaderFault::Oversized);
    // One read takes 300 bytes: 2 of length prefix, the status and 297 of payload.
    EXPECT_EQ(TARN_IC_PowerOn(kUsbPort, &outLen, out), 0);
    EXPECT_EQ(outLen, 297);
    EXPECT_EQ(out[297], 0xEE);
}

TEST_F(Exports, FailingSerialReadsEndAtTheTimeLimitWithoutSpinning)
{
    ASSERT_EQ(TARN_InitPort(kSerialPort, 9600), kSerialPort);
    platform.failReads = true;
    const uint32_t start = platform.now;
    EXPECT_EQ(TARN_IC_PowerOn(kSerialPort, &outLen, out), tarnlink::kErrTimeout);
    EXPECT_GE(platform.now - start, 10000u);
    EXPECT_LE(platform.sleeps, 10000 / 30 + 2);  // every failed poll pauses
}

TEST_F(Exports, PortNeverInitialisedAnswers1250)
{
    EXPECT_EQ(TARN_IC_PowerOn(7, &outLen, out), tarnlink::kErrNoRecord);
    EXPECT_EQ(TARN_ABM_Transparent(101, 0x4C, 0, nullptr, &outLen, out), tarnlink::kErrNoRecord);
    EXPECT_EQ(TARN_ClosePort(7), tarnlink::kErrNoRecord);
    // The missing record is told before any length: also for data too long to send.
    const Bytes data(300, 0x5A);
    EXPECT_EQ(TARN_AM_WriteE2(33, 300, data.data()), tarnlink::kErrNoRecord);
    EXPECT_EQ(TARN_AM_WriteE2(33, -1, data.data()), tarnlink::kErrNoRecord);
    EXPECT_EQ(TARN_ABM_Transparent(33, 0x61, 300, data.data(), &outLen, out), tarnlink::kErrNoRecord);
    EXPECT_EQ(TARN_BM_Transparent_Test(33, 297, data.data(), &outLen, out, 1, 2), tarnlink::kErrNoRecord);
    EXPECT_EQ(app->Ports().GetSize(), 0u);
    EXPECT_TRUE(OutUntouched());
}

// ---- ports

TEST_F(Exports, SerialOpenSetsTheLineAndKeepsTheRecordAfterClose)
{
    EXPECT_EQ(TARN_InitPort(kSerialPort, 9600), kSerialPort);
    EXPECT_EQ(platform.lastSettings.baudRate, 9600u);
    EXPECT_EQ(platform.lastSettings.parity, 0);
    EXPECT_EQ(platform.lastSettings.byteSize, 8);
    EXPECT_EQ(platform.lastSettings.stopBits, 0);
    EXPECT_EQ(Record(kSerialPort).m_nProtocol, 11);
    EXPECT_EQ(Record(kSerialPort).m_nLineMode, 1);

    // Reopening closes first: one line open, one record.
    EXPECT_EQ(TARN_InitPort(kSerialPort, 19200), kSerialPort);
    EXPECT_EQ(platform.openLines, 1);
    EXPECT_EQ(app->Ports().GetSize(), 1u);

    EXPECT_EQ(TARN_ClosePort(kSerialPort), 1);
    EXPECT_EQ(platform.openLines, 0);
    EXPECT_EQ(TARN_ClosePort(kSerialPort), -1);
    EXPECT_EQ(app->Ports().GetSize(), 1u);

    // A closed serial port still takes exchanges; they time out.
    EXPECT_EQ(TARN_IC_PowerOn(kSerialPort, &outLen, out), tarnlink::kErrTimeout);
    EXPECT_EQ(TARN_InitPort(kSerialPort, 9600), kSerialPort);
    EXPECT_EQ(app->Ports().GetSize(), 1u);
}

TEST_F(Exports, SerialOpenFailures)
{
    EXPECT_EQ(TARN_InitPort(9, 9600), -1);  // nothing on COM9
    EXPECT_EQ(TARN_InitPort(kSerialPort, 0), -1);  // no line runs at 0 baud
    EXPECT_TRUE(platform.openedPorts.empty());
    platform.serialReaders[42] = &reader;
    EXPECT_EQ(TARN_InitPort(42, 9600), 42);
}

TEST_F(Exports, UsbPortsCountTheReadersThatOpen)
{
    // One reader: 100 opens it, 101 finds none left.
    EXPECT_EQ(TARN_InitPort(100, 9600), 100);
    EXPECT_EQ(TARN_InitPort(101, 9600), 1);
    // Reopening 100 closes it first and finds the same reader.
    EXPECT_EQ(TARN_InitPort(100, 9600), 100);
    EXPECT_TRUE(platform.usb.IsHeld(0));
    EXPECT_EQ(TARN_ClosePort(100), 1);
    EXPECT_FALSE(platform.usb.IsHeld(0));
    EXPECT_EQ(TARN_ClosePort(100), -1);
    // A closed USB port fails at the write.
    EXPECT_EQ(TARN_IC_PowerOn(100, &outLen, out), tarnlink::kErrUsbWrite);
}

TEST_F(Exports, UsbPortsNumberTheReadersThatCanBeOpenedAtTheTime)
{
    sim::CardReaderSim second;
    second.card.contact = false;
    platform.usb.Attach(nullptr);  // held by another program: not counted
    platform.usb.Attach(&second);

    // Nothing open: 101 is the second reader that opens, 100 the first.
    EXPECT_EQ(TARN_InitPort(101, 9600), 101);
    EXPECT_EQ(TARN_InitPort(100, 9600), 100);
    EXPECT_EQ(TARN_InitPort(102, 9600), 1);
    EXPECT_EQ(TARN_IC_PowerOn(100, &outLen, out), 0);  // the first reader has a contact card
    EXPECT_EQ(TARN_IC_PowerOn(101, &outLen, out), 2);  // the second has none
    EXPECT_EQ(second.requests.size(), 1u);

    // With 100 holding the first reader, the second is the only one that can
    // be opened: it is 100's number that it would get, so 101 finds none.
    ASSERT_EQ(TARN_ClosePort(101), 1);
    EXPECT_EQ(TARN_InitPort(101, 9600), 1);
    EXPECT_FALSE(platform.usb.IsHeld(2));
}

TEST_F(Exports, CallersOfOnePortTakeTurns)
{
    // Two threads, each with its own APDU and answer, on one port: every call
    // must get its own answer, none another's or a mix.
    const Bytes apdus[2] = {{0x00, 0xB0, 0x00, 0x01, 0x04}, {0x00, 0xB0, 0x00, 0x02, 0x04}};
    reader.card.apdus[apdus[0]] = {0x11, 0x11, 0x11, 0x11, 0x90, 0x00};
    reader.card.apdus[apdus[1]] = {0x22, 0x22, 0x22, 0x22, 0x90, 0x00};
    ASSERT_EQ(TARN_InitPort(kUsbPort, 9600), kUsbPort);
    int wrong[2] = {0, 0};
    auto caller = [&](int who) {
        for (int i = 0; i < 300; ++i) {
            int length = 0;
            uint8_t answer[64] = {};
            if (TARN_IC_Case2(kUsbPort, 5, apdus[who].data(), &length, answer) != 0 ||
                Bytes(answer, answer + length) != reader.card.apdus.at(apdus[who]))
                ++wrong[who];
        }
    };
    std::thread first(caller, 0), second(caller, 1);
    first.join();
    second.join();
    EXPECT_EQ(wrong[0], 0);
    EXPECT_EQ(wrong[1], 0);
}

TEST(PortTable, FindsTheNewestRecordOfANumber)
{
    tarnlink::CCommOBJArray ports;
    for (int port : {5, 100, 5}) {
        auto record = std::make_unique<tarnlink::CCommOBJ>();
        record->m_nPort = port;
        ports.Add(std::move(record));
    }
    EXPECT_EQ(ports.FindByPort(5), ports.GetAt(2));
    EXPECT_EQ(ports.FindByPort(100), ports.GetAt(1));
    EXPECT_EQ(ports.FindByPort(6), nullptr);
    EXPECT_EQ(ports.GetAt(3), nullptr);
    ports.RemoveAt(2);
    EXPECT_EQ(ports.FindByPort(5), ports.GetAt(0));
    ports.RemoveAll();
    EXPECT_EQ(ports.GetSize(), 0u);
}

TEST(DeviceBase, DebugTextNamesPortAndTick)
{
    SimPlatform platform;
    platform.now = 1234;
    tarnlink::CCommOBJ record;
    record.m_nPort = 100;
    tarnlink::CDevLib* device = tarnlink::CreateDevice(11, record, platform);
    ASSERT_NE(device, nullptr);
    EXPECT_EQ(record.m_pDevice, device);
    EXPECT_EQ(device->m_pRecord, &record);
    device->DebugText("Call");
    ASSERT_EQ(platform.Traces().size(), 1u);
    EXPECT_EQ(platform.Traces()[0], "(100)     1234 : Call");
    EXPECT_EQ(device->ClosePort(), -1);
}
