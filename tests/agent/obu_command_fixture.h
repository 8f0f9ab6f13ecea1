// The OBU commands' test bed: the agent's OBU controller (g_ObuSelfIssueCtrl)
// over a simulated HID platform holding one OBU simulator that keeps its
// information, on a scaled clock, with fixed AppRandom values.
#pragma once

#include <gtest/gtest.h>

#include <memory>
#include <string>

#include "framework/clock.h"
#include "obulink/obu_controller.h"
#include "tests/sim/obu_command_text.h"
#include "tests/sim/obu_simulator.h"
#include "tests/sim/scaled_clock.h"
#include "tests/sim/sim_hid_platform.h"

namespace obu_commands_test {

inline const uint8_t kProduct[16] = {0x4B, 0x1E, 0x00, 0xC3, 0x5A, 0x10, 0x20, 0x30,
                                     0x40, 0x50, 0x60, 0x70, 0x80, 0x90, 0xA0, 0xB0};
inline const char kProductText[] = "4b1e00c35a102030405060708090a0b0";

class CountingRandom : public AppRandomSource {
public:
    void Draw(uint8_t out[8]) override
    {
        for (int i = 0; i < 8; ++i) out[i] = static_cast<uint8_t>(m_next + i);
        m_next = static_cast<uint8_t>(m_next + 8);
    }

private:
    uint8_t m_next = 1;
};

class IdlePump : public MessagePump {
public:
    void DispatchPending(uint32_t) override { corvane::SleepMs(1); }
};

class ObuCommands : public ::testing::Test {
protected:
    static constexpr double kScale = 40;

    void SetUp() override
    {
        obu.keepsInformation = true;
        g_ObuSelfIssueCtrl.CloseOBU(g_ObuSelfIssueCtrl.HoldDevice());
        g_ObuSelfIssueCtrl.SetServices({&clock, &pump}, &random);
    }
    void TearDown() override
    {
        g_ObuSelfIssueCtrl.CloseOBU(g_ObuSelfIssueCtrl.HoldDevice());
        g_ObuSelfIssueCtrl.SetServices(ExchangeServices());
    }
    // Attaches the simulated OBU (the platform starts without devices).
    void Attach() { sim.AddDevice("Wendra-OBU").peer = &obu; }

    SimHidPlatform sim{kScale};
    ScopedHidPlatform active{sim};
    ScaledClock clock{kScale};
    IdlePump pump;
    CountingRandom random;
    ObuSimulator obu{kProduct};
};

}  // namespace obu_commands_test
