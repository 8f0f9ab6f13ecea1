// ObuSimulator: the OBU's side of the secure exchange, for tests.
//
// It reads the 64-byte reports the agent writes (report id 0x01; bytes 1-8:
// type, 2-byte index, 3-byte total length, length, reserved; data from byte 9),
// gathers each message, and answers:
//   - the random-key request (command 0x10, under the key built from the
//     product key and the two filler bytes) with its own DeviceRandom, under
//     the key that adds the agent's AppRandom;
//   - the command (under the key built from the product key and the
//     DeviceRandom) with a status and answer data, under the key that adds the
//     command's fresh AppRandom, split over as many reports as asked.
// Keys and cipher are its own (ReferenceAes); only the two filler bytes are
// shared with the agent, as the device has them built in.
//
// Besides, it answers the clear serial-number request (command 0x00, 16 zero
// bytes) with its MFSN and a status in the Reserved byte, and, when it keeps
// its information, acts on the commands as an OBU does: activation (0x01) and
// re-activation (0x04) store the record they carry, the information change
// (0x03) stores the fields whose change flag is set (flag bits 7 to 3 for
// fields 1 to 5), the information read (0x05) answers the record and the reset
// (0x02) clears it. A first message it cannot read under its product key (an
// agent holding another key) is answered with a refusal sealed under its own
// key, which the agent cannot read either.
//
// Faults: silence at either step, a different product key, a refused
// random-key answer, late answers, answers split in chosen chunks, and raw
// reports in place of the answer (short, long or malformed).
#pragma once

#include <cstdint>
#include <functional>
#include <mutex>
#include <vector>

#include "tests/sim/sim_framing.h"
#include "tests/sim/sim_hid_platform.h"

class ObuSimulator : public SimDevicePeer {
public:
    explicit ObuSimulator(const uint8_t productKey[16]);

    // ---- Behaviour ----
    bool answerHandshake = true;
    bool answerCommand = true;
    uint32_t handshakeDelayMs = 0;
    uint32_t answerDelayMs = 0;
    // Byte 1 of the random-key answer's plaintext (0 is the only good value).
    uint8_t handshakeByte1 = 0;
    uint8_t handshakeCommand = 0x10;
    uint8_t deviceRandom[8] = {0xD0, 0xD1, 0xD2, 0xD3, 0xD4, 0xD5, 0xD6, 0xD7};
    // The answer: head bytes 1-2 (status byte, then its neighbour) and data.
    uint8_t status = 0;
    uint8_t status2 = 0;
    std::vector<uint8_t> answerData;
    // Data bytes per answer report (default: 55 a report).
    std::vector<size_t> answerChunks;
    // When set, these reports are sent in place of the encrypted answer; the
    // function gets the encrypted answer the OBU would have sent.
    std::function<std::vector<SimReport>(const std::vector<uint8_t>& encryptedAnswer)> rawAnswer;
    // Encrypt answers under this product key instead (a wrong key).
    std::vector<uint8_t> answerProductKey;
    // Answer a handshake it cannot read with a refusal (else stay silent).
    bool refuseUnreadableHandshake = true;

    // The serial-number read.
    bool answerMfsn = true;
    uint8_t mfsn[8] = {0x12, 0x34, 0x56, 0x78, 0x9A, 0xBC, 0xDE, 0xF0};
    uint8_t mfsnStatus = 0;  // the answer report's Reserved byte
    // The answer in several reports, all of Data Type 1 as the OBU sends its
    // serial number: data bytes per report, and each report's Reserved byte
    // (a report past the list's end carries mfsnStatus).
    std::vector<size_t> mfsnChunks;
    std::vector<uint8_t> mfsnStatuses;
    // Reports that reach the agent after its serial-number request, just
    // before the answer (another command's answer, a late one), or in its
    // place when it does not answer.
    std::vector<SimReport> beforeMfsnAnswer;

    // The OBU's information record (33 bytes: kind, fields 1 and 2, flags,
    // field 6, fields 3 to 5, field 7), kept and answered when `keepsInformation`.
    bool keepsInformation = false;
    std::vector<uint8_t> record = std::vector<uint8_t>(33, 0);
    std::vector<uint8_t> Record() const;

    // ---- Observations ----
    struct Seen {
        std::vector<SimReport> reports;             // every report written to the OBU
        std::vector<std::vector<uint8_t>> messages; // every message, decrypted
        int handshakes = 0;
        int commands = 0;
        int mfsnReads = 0;
        uint8_t lastAppRandom[8] = {};
    };
    Seen Observed() const;

    void OnOutputReport(const SimReport& report, SimReplyChannel& reply) override;

    // The session key as the OBU builds it (exposed for tests of the agent's keys).
    static std::vector<uint8_t> DeviceKey(const uint8_t product[16], const uint8_t* appRandom,
                                          const uint8_t* deviceRandom);
    // The answer reports for `message` (already encrypted), cut in `chunks`.
    static std::vector<SimReport> Frame(const std::vector<uint8_t>& message, std::vector<size_t> chunks);

private:
    void OnMessage(const std::vector<uint8_t>& encrypted, SimReplyChannel& reply);
    // The answer data of a command under the information model (lock held).
    std::vector<uint8_t> ActOnInformation(const std::vector<uint8_t>& plain);

    uint8_t m_product[16];
    mutable std::mutex m_lock;
    Seen m_seen;
    SimMessageGatherer m_gatherer;
    bool m_handshakeDone = false;
};
