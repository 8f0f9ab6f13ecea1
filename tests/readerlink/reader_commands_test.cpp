// The RF field, buzzer, version and type A exports: the request bytes each one
// sends (one table for all), the two result shapes, and the version's copy.
#include <gtest/gtest.h>

#include <cstring>
#include <functional>
#include <memory>

#include "readerlink/error_codes.h"
#include "readerlink/tarnlink.h"
#include "readerlink/tarnlink_app.h"
#include "tests/readerlink/sim_platform.h"
#include "tests/sim/card_reader_sim.h"

using sim::Bytes;

extern tarnlink::CTarnlinkApp* g_app;

namespace {

constexpr int kPort = 100;

struct Export {
    const char* name;
    std::function<int(const uint8_t* p, uint8_t* out)> call;
    Bytes request;
    bool payload;  // status 0 copies the payload to out
};

// Parameter bytes A0 A1 A2 ... so that every request shows which it took.
const std::vector<Export>& Table()
{
    static const std::vector<Export> table = {
        {"TARN_ABM_RF_On", [](const uint8_t*, uint8_t*) { return TARN_ABM_RF_On(kPort); }, {0x10}, false},
        {"TARN_ABM_RF_Off", [](const uint8_t*, uint8_t*) { return TARN_ABM_RF_Off(kPort); }, {0x11}, false},
        {"TARN_ABM_RF_Reset", [](const uint8_t*, uint8_t*) { return TARN_ABM_RF_Reset(kPort); }, {0x12}, false},
        {"TARN_ABM_BuzzerON", [](const uint8_t*, uint8_t*) { return TARN_ABM_BuzzerON(kPort); }, {0x13, 0x00}, false},
        {"TARN_ABM_BuzzerOFF", [](const uint8_t*, uint8_t*) { return TARN_ABM_BuzzerOFF(kPort); }, {0x13, 0x01}, false},
        {"TARN_AM_Reset", [](const uint8_t* p, uint8_t*) { return TARN_AM_Reset(kPort, p); }, {0x20, 0xA0, 0xA1}, false},
        {"TARN_AM_Idle_Req", [](const uint8_t*, uint8_t* o) { return TARN_AM_Idle_Req(kPort, o); }, {0x21}, true},
        {"TARN_AM_Wakeup_Req", [](const uint8_t*, uint8_t* o) { return TARN_AM_Wakeup_Req(kPort, o); }, {0x22}, true},
        {"TARN_AM_Anticoll", [](const uint8_t* p, uint8_t* o) { return TARN_AM_Anticoll(kPort, p, o); }, {0x23, 0xA0}, true},
        {"TARN_AM_Select", [](const uint8_t* p, uint8_t* o) { return TARN_AM_Select(kPort, p, o); },
         {0x24, 0xA0, 0xA1, 0xA2, 0xA3}, true},
        {"TARN_AM_Auth", [](const uint8_t* p, uint8_t*) { return TARN_AM_Auth(kPort, p); }, {0x25, 0xA0, 0xA1, 0xA2}, false},
        {"TARN_AM_Halt", [](const uint8_t*, uint8_t*) { return TARN_AM_Halt(kPort); }, {0x26}, false},
        {"TARN_AM_Read", [](const uint8_t* p, uint8_t* o) { return TARN_AM_Read(kPort, p, o); }, {0x27, 0xA0}, true},
        {"TARN_AM_Write", [](const uint8_t* p, uint8_t*) { return TARN_AM_Write(kPort, p); },
         {0x28, 0xA0, 0xA1, 0xA2, 0xA3, 0xA4, 0xA5, 0xA6, 0xA7, 0xA8, 0xA9, 0xAA, 0xAB, 0xAC, 0xAD, 0xAE, 0xAF, 0xB0},
         false},
        {"TARN_AM_Increment", [](const uint8_t* p, uint8_t*) { return TARN_AM_Increment(kPort, p); },
         {0x29, 0xA0, 0xA1, 0xA2, 0xA3, 0xA4}, false},
        {"TARN_AM_Decrement", [](const uint8_t* p, uint8_t*) { return TARN_AM_Decrement(kPort, p); },
         {0x2A, 0xA0, 0xA1, 0xA2, 0xA3, 0xA4}, false},
        {"TARN_AM_Inc_Transfer", [](const uint8_t* p, uint8_t*) { return TARN_AM_Inc_Transfer(kPort, p); },
         {0x2B, 0xA0, 0xA1, 0xA2, 0xA3, 0xA4, 0xA5}, false},
        {"TARN_AM_Dec_Transfer", [](const uint8_t* p, uint8_t*) { return TARN_AM_Dec_Transfer(kPort, p); },
         {0x2C, 0xA0, 0xA1, 0xA2, 0xA3, 0xA4, 0xA5}, false},
        {"TARN_AM_Restore", [](const uint8_t* p, uint8_t*) { return TARN_AM_Restore(kPort, p); }, {0x2D, 0xA0}, false},
        {"TARN_AM_Transfer", [](const uint8_t* p, uint8_t*) { return TARN_AM_Transfer(kPort, p); }, {0x2E, 0xA0}, false},
        {"TARN_AM_Loadkey", [](const uint8_t* p, uint8_t*) { return TARN_AM_Loadkey(kPort, p); },
         {0x2F, 0xA0, 0xA1, 0xA2, 0xA3, 0xA4, 0xA5, 0xA6, 0xA7}, false},
        {"TARN_AM_Authkey", [](const uint8_t* p, uint8_t*) { return TARN_AM_Authkey(kPort, p); },
         {0x30, 0xA0, 0xA1, 0xA2, 0xA3, 0xA4, 0xA5, 0xA6, 0xA7}, false},
        {"TARN_AM_Req_Auth", [](const uint8_t* p, uint8_t* o) { return TARN_AM_Req_Auth(kPort, p, o); },
         {0x31, 0xA0, 0xA1, 0xA2, 0xA3}, true},
        {"TARN_AM_Req_Authkey", [](const uint8_t* p, uint8_t* o) { return TARN_AM_Req_Authkey(kPort, p, o); },
         {0x32, 0xA0, 0xA1, 0xA2, 0xA3, 0xA4, 0xA5, 0xA6, 0xA7, 0xA8}, true},
        {"TARN_AM_Inc_Transfer2", [](const uint8_t* p, uint8_t*) { return TARN_AM_Inc_Transfer2(kPort, p); },
         {0x33, 0xA0, 0xA1, 0xA2, 0xA3, 0xA4, 0xA5}, false},
        {"TARN_AM_Dec_Transfer2", [](const uint8_t* p, uint8_t*) { return TARN_AM_Dec_Transfer2(kPort, p); },
         {0x34, 0xA0, 0xA1, 0xA2, 0xA3, 0xA4, 0xA5}, false},
        {"TARN_AM_Req_Read", [](const uint8_t* p, uint8_t* o) { return TARN_AM_Req_Read(kPort, p, o); },
         {0x35, 0xA0, 0xA1, 0xA2, 0xA3}, true},
        {"TARN_AM_Req_Readkey", [](const uint8_t* p, uint8_t* o) { return TARN_AM_Req_Readkey(kPort, p, o); },
         {0x36, 0xA0, 0xA1, 0xA2, 0xA3, 0xA4, 0xA5, 0xA6, 0xA7, 0xA8}, true},
        {"TARN_AM_Read_Credit", [](const uint8_t* p, uint8_t* o) { return TARN_AM_Read_Credit(kPort, p, o); },
         {0x37, 0xA1}, true},
        {"TARN_AM_Read_Royalty", [](const uint8_t* p, uint8_t* o) { return TARN_AM_Read_Royalty(kPort, p, o); },
         {0x38, 0xA1}, true},
        {"TARN_AM_Device_Info", [](const uint8_t*, uint8_t* o) { return TARN_AM_Device_Info(kPort, o); }, {0x40}, true},
        {"TARN_AM_WriteE2", [](const uint8_t* p, uint8_t*) { return TARN_AM_WriteE2(kPort, 3, p); },
         {0x42, 0xA0, 0xA1, 0xA2}, false},
        {"TARN_AM_ReadE2", [](const uint8_t* p, uint8_t* o) { return TARN_AM_ReadE2(kPort, p, o); },
         {0x43, 0xA0, 0xA1, 0xA2}, true},
    };
    return table;
}

class ReaderCommands : public ::testing::Test {
protected:
    void SetUp() override
    {
        platform.usb.Attach(&reader);
        app = std::make_unique<tarnlink::CTarnlinkApp>(platform);
        g_app = app.get();
        ASSERT_EQ(TARN_InitPort(kPort, 9600), kPort);
        for (int i = 0; i < 32; ++i) p[i] = static_cast<uint8_t>(0xA0 + i);
        Clear();
    }
    void TearDown() override { g_app = nullptr; }
    void Clear() { std::memset(out, 0xEE, sizeof out); }
    bool OutUntouched() const
    {
        for (uint8_t b : out)
            if (b != 0xEE) return false;
        return true;
    }

    sim::CardReaderSim reader;
    SimPlatform platform;
    std::unique_ptr<tarnlink::CTarnlinkApp> app;
    uint8_t p[32];
    uint8_t out[64];
};

}  // namespace

TEST_F(ReaderCommands, EveryExportSendsItsRequestAndAnswersInItsShape)
{
    for (const Export& e : Table()) {
        SCOPED_TRACE(e.name);
        // Done, with two payload bytes.
        reader.card.replies[e.request] = {0x00, 0x5A, 0xC3};
        Clear();
        EXPECT_EQ(e.call(p, out), 0);
        EXPECT_EQ(reader.requests.back().data, e.request);
        if (e.payload) {
            EXPECT_EQ(Bytes(out, out + 3), (Bytes{0x5A, 0xC3, 0xEE}));
        } else {
            EXPECT_TRUE(OutUntouched());
        }
        // A status of the reader's own: returned, nothing copied.
        reader.card.replies[e.request] = {0x05, 0x11, 0x22};
        Clear();
        EXPECT_EQ(e.call(p, out), 5);
        EXPECT_TRUE(OutUntouched());
        // An error of the exchange.
        reader.InjectFault(sim::ReaderFault::Silence);
        EXPECT_EQ(e.call(p, out), tarnlink::kErrTimeout);
        EXPECT_TRUE(OutUntouched());
    }
    EXPECT_EQ(Table().size(), 33u);  // with TARN_ABM_RF_Version, the 34 of this family
}

TEST_F(ReaderCommands, WithoutARecordNothingIsSent)
{
    tarnlink::CTarnlinkApp empty(platform);  // a library with no port yet
    g_app = &empty;
    const size_t sent = reader.requests.size();
    for (const Export& e : Table()) {
        SCOPED_TRACE(e.name);
        EXPECT_EQ(e.call(p, out), tarnlink::kErrNoRecord);
    }
    EXPECT_EQ(TARN_ABM_RF_Version(kPort, out), tarnlink::kErrNoRecord);
    EXPECT_EQ(reader.requests.size(), sent);
    EXPECT_TRUE(OutUntouched());
    g_app = app.get();
}

TEST_F(ReaderCommands, SelectCopiesAOneBytePayload)
{
    reader.card.replies[{0x24, 0xA0, 0xA1, 0xA2, 0xA3}] = {0x00, 0x08};
    EXPECT_EQ(TARN_AM_Select(kPort, p, out), 0);
    EXPECT_EQ(Bytes(out, out + 2), (Bytes{0x08, 0xEE}));
}

TEST_F(ReaderCommands, ReadCreditAndReadE2TakeTheirOwnBytes)
{
    const uint8_t credit[] = {0xAA, 0x05};
    TARN_AM_Read_Credit(kPort, credit, out);
    EXPECT_EQ(reader.requests.back().data, (Bytes{0x37, 0x05}));
    const uint8_t e2[] = {0x00, 0x10, 0x08, 0x99};
    TARN_AM_ReadE2(kPort, e2, out);
    EXPECT_EQ(reader.requests.back().data, (Bytes{0x43, 0x00, 0x10, 0x08}));
}

TEST_F(ReaderCommands, VersionCopiesItsPayloadWhateverTheStatus)
{
    reader.card.replies[{0x16}] = {0x00, 'V', '1', '.', '2'};
    EXPECT_EQ(TARN_ABM_RF_Version(kPort, out), 0);
    // The payload alone: the byte behind it is not the caller's.
    EXPECT_EQ(Bytes(out, out + 5), (Bytes{'V', '1', '.', '2', 0xEE}));
    Clear();
    reader.card.replies[{0x16}] = {0x03, 'V', '9'};
    EXPECT_EQ(TARN_ABM_RF_Version(kPort, out), 3);
    EXPECT_EQ(Bytes(out, out + 3), (Bytes{'V', '9', 0xEE}));
    Clear();
    reader.InjectFault(sim::ReaderFault::NoData);
    EXPECT_EQ(TARN_ABM_RF_Version(kPort, out), tarnlink::kErrNoStatus);
    EXPECT_TRUE(OutUntouched());
}

TEST_F(ReaderCommands, WriteE2TakesAtMost255Bytes)
{
    const Bytes data(256, 0x77);
    EXPECT_EQ(TARN_AM_WriteE2(kPort, 255, data.data()), 1);  // the simulated reader knows no 42
    EXPECT_EQ(reader.requests.back().data.size(), 256u);
    const size_t sent = reader.requests.size();
    EXPECT_EQ(TARN_AM_WriteE2(kPort, 256, data.data()), tarnlink::kErrRequestTooLong);
    EXPECT_EQ(TARN_AM_WriteE2(kPort, -1, data.data()), tarnlink::kErrRequestTooLong);
    EXPECT_EQ(reader.requests.size(), sent);
}

TEST_F(ReaderCommands, MissingParameterBytesAreRefused)
{
    const size_t sent = reader.requests.size();
    EXPECT_EQ(TARN_AM_Select(kPort, nullptr, out), tarnlink::kErrRequestTooLong);
    EXPECT_EQ(TARN_AM_Read_Credit(kPort, nullptr, out), tarnlink::kErrRequestTooLong);
    EXPECT_EQ(reader.requests.size(), sent);
}
