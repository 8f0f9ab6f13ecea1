// The fingerprint-unit simulator at the wire, as the fingerprint screens will
// meet it: one session with a registration scan (8-bit image), a chained
// confirmation scan (1-bit image), a failed scan and verdicts. The requests
// are built here from the byte tables alone, with the simulators' own cipher.
#include <gtest/gtest.h>

#include <cstring>
#include <vector>

#include "obulink/hid_device.h"
#include "tests/sim/biu_simulator.h"
#include "tests/sim/obu_simulator.h"
#include "tests/sim/reference_aes.h"
#include "tests/sim/sim_framing.h"
#include "tests/sim/sim_hid_platform.h"

namespace {

const uint8_t kProduct[16] = {0x01, 0x23, 0x45, 0x67, 0x89, 0xAB, 0xCD, 0xEF,
                              0x10, 0x32, 0x54, 0x76, 0x98, 0xBA, 0xDC, 0xFE};

class UnitAtTheWire : public ::testing::Test {
protected:
    void SetUp() override
    {
        unit.PlugInto(sim, "[wendra] unit");
        ASSERT_EQ(record.OpenDevice(0), kHidDone);
        record.m_dwReadTimeout = 200;
        record.m_dwWriteTimeout = 200;
    }
    void TearDown() override { record.CloseHandleAndReset(); }

    static std::vector<uint8_t> Key(const uint8_t* app, const uint8_t* device)
    {
        return ObuSimulator::DeviceKey(kProduct, app, device);
    }
    void Send(const std::vector<uint8_t>& plain, const std::vector<uint8_t>& key)
    {
        for (const auto& r : BiuSimulator::Frame(ReferenceAes(key.data(), 32).EncryptCbc(plain)))
            ASSERT_EQ(record.WriteReport(r.data()), kHidDone);
    }
    // The next whole answer, decrypted; empty when none comes.
    std::vector<uint8_t> Receive(const std::vector<uint8_t>& key)
    {
        SimMessageGatherer gatherer({0x00, 65});
        std::vector<uint8_t> sealed;
        for (;;) {
            uint8_t report[65];
            size_t n = 0;
            if (record.ReadReport(report, sizeof report, n) != kHidDone) return {};
            if (gatherer.Add(SimReport(report, report + n), sealed)) break;
        }
        return ReferenceAes(key.data(), 32).DecryptCbc(sealed);
    }
    static std::vector<uint8_t> Request(uint8_t command, uint8_t b1, uint8_t b2, uint8_t b3, uint8_t app)
    {
        std::vector<uint8_t> plain(16, 0);
        plain[0] = command;
        plain[1] = b1;
        plain[2] = b2;
        plain[3] = b3;
        for (int i = 8; i < 16; ++i) plain[i] = static_cast<uint8_t>(app + i);
        return plain;
    }
    // Opens a session; returns the DeviceRandom.
    std::vector<uint8_t> Handshake()
    {
        const auto request = Request(0x10, 0, 0, 0, 0x40);
        Send(request, Key(nullptr, nullptr));
        const auto answer = Receive(Key(&request[8], nullptr));
        EXPECT_EQ(answer.size(), 16u);
        if (answer.size() != 16) return std::vector<uint8_t>(8, 0);
        EXPECT_EQ(answer[0], 0x10);
        return std::vector<uint8_t>(answer.begin() + 8, answer.end());
    }

    SimHidPlatform sim;
    ScopedHidPlatform active{sim};
    BiuSimulator unit{kProduct};
    CBIUHIDDevice record;
};

TEST_F(UnitAtTheWire, ScansWithImagesInOneChainedSession)
{
    unit.scans = {BiuSimulator::EightBitScan(10, 4), BiuSimulator::OneBitScan(16, 2), BiuSimulator::FailedScan(0x04)};
    const auto device = Handshake();

    // Registration scan under the command send key.
    const auto first = Request(0x21, 2, 1, 0x30, 0x50);
    Send(first, Key(nullptr, device.data()));
    auto key = Key(&first[8], device.data());
    auto answer = Receive(key);
    ASSERT_EQ(answer.size(), 64u);  // 24 + 40 pixels, whole blocks
    EXPECT_EQ(answer[0], 0x21);
    EXPECT_EQ(answer[1], 0);
    EXPECT_EQ(answer[18] << 8 | answer[19], 10);
    EXPECT_EQ(answer[20] << 8 | answer[21], 4);
    EXPECT_EQ(answer[22], 1);
    EXPECT_EQ(answer[24 + 10 * 3 + 2], static_cast<uint8_t>(2 * 7 + 3 * 3));

    // Confirmation scan under the key of the answer before it.
    const auto confirm = Request(0x21, 3, 1, 0x30, 0x60);
    Send(confirm, key);
    key = Key(&confirm[8], device.data());
    answer = Receive(key);
    ASSERT_EQ(answer.size(), 32u);
    EXPECT_EQ(answer[22], 0);  // one bit a pixel, rows of 16 / 8 bytes
    EXPECT_EQ(answer[24], 0xAA);
    EXPECT_EQ(answer[26], 0x55);

    // A failed scan carries its status and no image.
    const auto retry = Request(0x21, 2, 1, 0x30, 0x70);
    Send(retry, key);
    answer = Receive(Key(&retry[8], device.data()));
    ASSERT_EQ(answer.size(), 16u);
    EXPECT_EQ(answer[1], 0x04);

    const auto seen = unit.Observed();
    EXPECT_EQ(seen.commandKeys, (std::vector<BiuSimulator::KeyUsed>{BiuSimulator::KeyUsed::CommandSendKey,
                                                                    BiuSimulator::KeyUsed::ChainedKey,
                                                                    BiuSimulator::KeyUsed::ChainedKey}));
}

TEST_F(UnitAtTheWire, VerdictsAndAMessageUnderNoKeyOfTheSession)
{
    unit.verdicts = {{0x00, 2}, {0x01, 0}};
    const auto device = Handshake();
    const auto one = Request(0x23, 0, 2, 0, 0x11);
    Send(one, Key(nullptr, device.data()));
    auto answer = Receive(Key(&one[8], device.data()));
    ASSERT_EQ(answer.size(), 16u);
    EXPECT_EQ(answer[0], 0x23);
    EXPECT_EQ(answer[1], 0);
    EXPECT_EQ(answer[2], 2);

    const auto all = Request(0x24, 0, 0, 0, 0x22);
    Send(all, Key(nullptr, device.data()));
    answer = Receive(Key(&all[8], device.data()));
    ASSERT_EQ(answer.size(), 16u);
    EXPECT_EQ(answer[0], 0x24);
    EXPECT_EQ(answer[1], 0x01);

    const std::vector<uint8_t> wrong(32, 0x42);
    Send(Request(0x24, 0, 0, 0, 0x33), wrong);
    EXPECT_TRUE(Receive(wrong).empty());
    EXPECT_EQ(unit.Observed().undecodable, 1);
}

}  // namespace
