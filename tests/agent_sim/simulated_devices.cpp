// The devices of CorvaneSimulated: the agent's own sources with simulated
// devices behind their seams, installed before the agent starts (static
// initialisation, ahead of WinMain), so that whole commands run through the
// real command server, command table and device layers without hardware.
//
// OBU: one simulated OBU on the HID seam, product string "Wendra-OBU
// (simulated)", product key 00112233445566778899AABBCCDDEEFF (set it with
// id 32 first), serial number 123456789ABCDEF0; it keeps the information the
// write commands give it, answers it to id 34 and clears it on id 33.
//
// Fingerprint unit: one simulated unit on the same HID seam, product string
// "[wendra] fingerprint unit (simulated)", product key
// 01234567890123456789012345678901 (the unit's keys are decimal digits, two a
// byte; give it with id 61). Not issued at start; id 71 issues it with the holder information;
// its scans answer 8-bit images and its verifications a match.
//
// Later device simulators join here. Nothing is ever torn down: the command
// server's threads may still be running while the process ends.
#include "tests/sim/biu_simulator.h"
#include "tests/sim/obu_simulator.h"
#include "tests/sim/sim_hid_platform.h"

namespace {

const uint8_t kSimulatedProductKey[16] = {0x00, 0x11, 0x22, 0x33, 0x44, 0x55, 0x66, 0x77,
                                          0x88, 0x99, 0xAA, 0xBB, 0xCC, 0xDD, 0xEE, 0xFF};

const uint8_t kSimulatedUnitKey[16] = {0x01, 0x23, 0x45, 0x67, 0x89, 0x01, 0x23, 0x45,
                                       0x67, 0x89, 0x01, 0x23, 0x45, 0x67, 0x89, 0x01};

struct SimulatedDevices {
    SimulatedDevices()
    {
        auto* hid = new SimHidPlatform();
        auto* obu = new ObuSimulator(kSimulatedProductKey);
        obu->keepsInformation = true;
        hid->AddDevice("Wendra-OBU (simulated)").peer = obu;
        auto* unit = new BiuSimulator(kSimulatedUnitKey);
        unit->PlugInto(*hid, "[wendra] fingerprint unit (simulated)");
        new ScopedHidPlatform(*hid);
    }
};

const SimulatedDevices g_simulatedDevices;

}  // namespace
