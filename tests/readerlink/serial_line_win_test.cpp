// Tarnlink.dll itself, loaded through its import library, on a real serial
// line: Wine's COM5 (and COM12) lead through a pseudo-terminal to the simulated
// reader that this program runs at the far end (run_windows_test.sh --serial).
#include <gtest/gtest.h>

#include <cstring>
#include <vector>

#include "readerlink/tarnlink.h"
#include "tests/readerlink/reader_line_end_win.h"
#include "tests/sim/card_reader_sim.h"
#include "tests/sim/station_sims.h"

using sim::Bytes;
using sim::ReaderFault;

namespace {

const uint8_t kSelect[] = {0x00, 0xA4, 0x04, 0x00, 0x00};

class SerialLine : public WithReaderLine {
protected:
    void SetUp() override
    {
        WithReaderLine::SetUp();
        std::memset(out, 0xEE, sizeof out);
    }
    bool OutUntouched() const
    {
        for (uint8_t b : out)
            if (b != 0xEE) return false;
        return outLen == -7;
    }
    int outLen = -7;
    uint8_t out[2048];
};

}  // namespace

TEST_F(SerialLine, FramesCrossTheLineByteForByte)
{
    ASSERT_EQ(TARN_InitPort(5, 9600), 5);
    EXPECT_EQ(TARN_IC_PowerOn(5, &outLen, out), 0);
    EXPECT_EQ(line->Last().wire, (Bytes{0x02, 0x00, 0x02, 0xC0, 0x00, 0xC2}));

    EXPECT_EQ(TARN_IC_Case2(5, 5, kSelect, &outLen, out), 0);
    EXPECT_EQ(line->Last().wire, (Bytes{0x02, 0x00, 0x06, 0xC2, 0x00, 0xA4, 0x04, 0x00, 0x00, 0x64}));

    const uint8_t probe[] = {0x03, 0x00, 0x00, 0x00};
    EXPECT_EQ(TARN_ABM_Transparent(5, 0x4C, 4, probe, &outLen, out), 2);  // no contactless card
    EXPECT_EQ(line->Last().wire, (Bytes{0x02, 0x00, 0x05, 0x4C, 0x03, 0x00, 0x00, 0x00, 0x4A}));

    const uint8_t two[] = {0x01, 0x02};
    TARN_BM_Transparent_Test(5, 2, two, &outLen, out, 0xA5, 0x5A);
    EXPECT_EQ(line->Last().wire, (Bytes{0x02, 0x00, 0x03, 0x60, 0x01, 0x02, 0x60}));
    EXPECT_EQ(TARN_BM_Transparent_Set(5, 0x1234, &outLen, out), 1);  // the tail reached the reader first
    line->With([](sim::CardReaderSim& reader) {
        const auto& test = reader.requests[reader.requests.size() - 2];
        EXPECT_EQ(test.trailing, (Bytes{0xA5, 0x5A}));
    });
    EXPECT_EQ(line->Last().wire, (Bytes{0x02, 0x00, 0x03, 0x62, 0x34, 0x12, 0x47}));
}

TEST_F(SerialLine, RepliesAreReducedByTheCommandRule)
{
    ASSERT_EQ(TARN_InitPort(5, 9600), 5);
    line->With([](sim::CardReaderSim& reader) {
        reader.card.apdus[Bytes(kSelect, kSelect + 5)] = {0x6F, 0x00, 0x90, 0x00};
    });
    EXPECT_EQ(TARN_IC_Case3(5, 5, kSelect, &outLen, out), 0);
    EXPECT_EQ(outLen, 4);
    EXPECT_EQ(Bytes(out, out + 4), (Bytes{0x6F, 0x00, 0x90, 0x00}));

    // A reply of more than 1024 data bytes comes whole, its length no error.
    Bytes longAnswer(1 + TARNLINK_MAX_REPLY, 0x5C);
    longAnswer[0] = 0x00;
    line->With([&](sim::CardReaderSim& reader) { reader.card.replies[{0xC2, 0x00, 0xB0, 0x00, 0x00, 0x00}] = longAnswer; });
    const uint8_t readAll[] = {0x00, 0xB0, 0x00, 0x00, 0x00};
    EXPECT_EQ(TARN_IC_Case2(5, 5, readAll, &outLen, out), 0);
    EXPECT_EQ(outLen, TARNLINK_MAX_REPLY);
    EXPECT_EQ(Bytes(out, out + TARNLINK_MAX_REPLY), Bytes(TARNLINK_MAX_REPLY, 0x5C));

    std::memset(out, 0xEE, sizeof out);
    outLen = -7;
    line->With([](sim::CardReaderSim& reader) { reader.card.contact = false; });
    EXPECT_EQ(TARN_IC_PowerOn(5, &outLen, out), 2);
    EXPECT_TRUE(OutUntouched());
    line->With([](sim::CardReaderSim& reader) { reader.card.contact = true; });

    const struct {
        ReaderFault fault;
        int expected;
    } faults[] = {
        {ReaderFault::NoiseBeforeStx, TARNLINK_ERR_NO_STX},
        {ReaderFault::WrongBcc, TARNLINK_ERR_CHECK},
        {ReaderFault::Oversized, TARNLINK_ERR_REPLY_TOO_LONG},
        {ReaderFault::NoData, TARNLINK_ERR_NO_STATUS},
    };
    for (const auto& f : faults) {
        SCOPED_TRACE(f.expected);
        line->With([&](sim::CardReaderSim& reader) { reader.InjectFault(f.fault); });
        EXPECT_EQ(TARN_IC_PowerOn(5, &outLen, out), f.expected);
        EXPECT_TRUE(OutUntouched());
        // What is left of a bad reply does not spoil the next one.
        EXPECT_EQ(TARN_IC_PowerOn(5, &outLen, out), 0);
        std::memset(out, 0xEE, sizeof out);
        outLen = -7;
    }
}

TEST_F(SerialLine, SilentReaderTimesOutAfterTenSeconds)
{
    ASSERT_EQ(TARN_InitPort(5, 9600), 5);
    line->With([](sim::CardReaderSim& reader) { reader.InjectFault(ReaderFault::Silence); });
    const ULONGLONG start = GetTickCount64();
    EXPECT_EQ(TARN_IC_PowerOn(5, &outLen, out), TARNLINK_ERR_TIMEOUT);
    const ULONGLONG took = GetTickCount64() - start;
    EXPECT_GE(took, 10000u);
    EXPECT_LT(took, 12000u);
    EXPECT_TRUE(OutUntouched());
}

TEST_F(SerialLine, PortsFromTenOnOpenByTheirNumber)
{
    ASSERT_EQ(TARN_InitPort(5, 9600), 5);
    EXPECT_EQ(TARN_ClosePort(5), 1);
    EXPECT_EQ(TARN_ClosePort(5), -1);
    // COM12 is the same line; it opens under its own number.
    ASSERT_EQ(TARN_InitPort(12, 9600), 12);
    EXPECT_EQ(TARN_IC_PowerOn(12, &outLen, out), 0);
    EXPECT_EQ(line->Last().data, (Bytes{0xC0, 0x00}));
    EXPECT_EQ(TARN_ClosePort(12), 1);
}

TEST_F(SerialLine, ClosingTwiceClosesNoOtherHandle)
{
    // Handles freed by a close are soon given out again; a close that closed
    // the port's handles a second time would close these events instead.
    for (int i = 0; i < 3; ++i) {
        ASSERT_EQ(TARN_InitPort(5, 9600), 5);
        ASSERT_EQ(TARN_ClosePort(5), 1);
        HANDLE events[4];
        for (HANDLE& event : events) event = CreateEventA(nullptr, TRUE, FALSE, nullptr);
        EXPECT_EQ(TARN_ClosePort(5), -1);
        ASSERT_EQ(TARN_InitPort(5, 9600), 5);  // reopening closes first
        ASSERT_EQ(TARN_InitPort(5, 9600), 5);
        for (HANDLE event : events) {
            EXPECT_TRUE(SetEvent(event));
            EXPECT_TRUE(CloseHandle(event));
        }
        EXPECT_EQ(TARN_IC_PowerOn(5, &outLen, out), 0);
        ASSERT_EQ(TARN_ClosePort(5), 1);
    }
}

TEST_F(SerialLine, PortsThatCannotOpen)
{
    EXPECT_EQ(TARN_InitPort(77, 9600), -1);  // no such port
    EXPECT_EQ(TARN_InitPort(5, 0), -1);      // no line runs at 0 baud
    EXPECT_EQ(TARN_InitPort(100, 9600), 1);  // no USB reader here
    EXPECT_EQ(TARN_IC_PowerOn(100, &outLen, out), TARNLINK_ERR_USB_WRITE);
    EXPECT_EQ(TARN_IC_PowerOn(33, &outLen, out), TARNLINK_ERR_NO_PORT);
    EXPECT_TRUE(OutUntouched());
}

TEST_F(SerialLine, BusListenerEchoesFramesToNodeZero)
{
    // Entries exported under their decorated names only, found as a caller finds them.
    HMODULE library = GetModuleHandleA("Tarnlink.dll");
    auto listen = reinterpret_cast<decltype(&ListenPollTarn)>(
        reinterpret_cast<void*>(GetProcAddress(library, "_ListenPollTarn@28")));
    auto poll = reinterpret_cast<decltype(&listPollingTarn)>(
        reinterpret_cast<void*>(GetProcAddress(library, "_listPollingTarn@20")));
    ASSERT_TRUE(listen && poll);

    sim::NodeStationSim station(5, true);
    line->Use(&station);
    ASSERT_EQ(listen(5, 9600, 0, 8, 0, 1, 1), 5);
    const Bytes frame = station.Unsolicited(0, {0x31, 0x32});
    line->Send(frame);
    bool echoed = false;
    for (int i = 0; i < 300 && !echoed; ++i) {
        Sleep(10);
        echoed = line->Check([&] { return station.echoes.size() == 1; });
    }
    EXPECT_TRUE(echoed);
    EXPECT_TRUE(line->Check([&] { return !station.echoes.empty() && station.echoes[0] == frame; }));
    EXPECT_EQ(poll(5, 0, nullptr, 0, out), 2);
    EXPECT_EQ(Bytes(out, out + 3), (Bytes{0x31, 0x32, 0xEE}));
    std::memset(out, 0xEE, sizeof out);
    EXPECT_EQ(poll(5, 0, nullptr, 0, out), 2) << "on every call";
    EXPECT_EQ(Bytes(out, out + 3), (Bytes{0x31, 0x32, 0xEE}));
    // Closing stops the listener, then closes the line.
    EXPECT_EQ(ClosePort(5), 5);
    EXPECT_EQ(TARN_ClosePort(5), -1);
    line->Use(nullptr);
}
