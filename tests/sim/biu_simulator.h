// BiuSimulator: the biometric (fingerprint) unit's side of the secure
// exchange, for tests.
//
// Wire: 65-byte reports with report id 0x00; bytes 1-8 type (1 first, 2
// following), 2-byte packet index, 3-byte total length, length, reserved; data
// from byte 9, 56 bytes a report. Messages are AES-256-CBC (zero chaining
// block) under session keys the unit builds itself (ObuSimulator::DeviceKey:
// the two devices share the key layout and the filler bytes), with its own
// cipher (ReferenceAes).
//
// Session: a random-key request (0x10 under the handshake key) opens a session
// and is answered with the unit's DeviceRandom. The first command of a session
// comes under the command send key (no AppRandom); each answer goes under the
// key with the command's AppRandom, and a later command of the same session
// may come under that answer's key (the fingerprint screens chain their
// requests that way). Either is taken.
//
// Commands and the unit's state:
//   0x11 unit information: refusal bytes, issue status, numbers, serial and
//        the four user records (`unit`)
//   0x12 user information: `userInfo` (15 bytes, d[0..14])
//   0x20 initiation: the unit forgets its issue and its users
//   0x21 one fingerprint scan: the next of `scans` (status, image 1-bit or 8-bit)
//   0x23, 0x24 verification: the next of `verdicts`
//   0x25, 0x26 deletion of a user's fingerprints / of the user (request byte 2)
//   0x30 holder information (96 bytes): issues the unit, the four entries
//        become its user records
// Faults: silence at either step, a refused handshake answer, answers under
// another product key, late answers (delayed, or kept back until taken),
// answer reports cut in chosen sizes, and raw reports in place of any answer.
#pragma once

#include <cstdint>
#include <deque>
#include <functional>
#include <mutex>
#include <string>
#include <utility>
#include <vector>

#include "tests/sim/sim_framing.h"
#include "tests/sim/sim_hid_platform.h"

class BiuSimulator : public SimDevicePeer {
public:
    explicit BiuSimulator(const uint8_t productKey[16]);

    static constexpr size_t kReportLength = 65;
    static constexpr size_t kReportData = 56;

    // Plugs this unit into `platform` as a device with the unit's report sizes.
    SimHidDevice& PlugInto(SimHidPlatform& platform, const std::string& product = "[wendra] fingerprint unit");

    // ---- The unit ----
    struct UnitRecord {
        uint8_t refusal[2] = {};
        uint8_t issueStatus = 3;  // 1 issued, 2 issued under another number, else not issued
        uint8_t value3 = 0;
        uint8_t numbers[16] = {};
        uint8_t serial[16] = {};
        uint8_t users[4][18] = {};
    };
    UnitRecord unit;
    std::vector<uint8_t> userInfo = std::vector<uint8_t>(15, 0);

    struct Scan {
        uint8_t status = 0;  // bit 0 failed, bit 1 key not accepted, bit 2 time-out; no image when set
        uint16_t width = 0;
        uint16_t height = 0;
        uint8_t format = 1;  // 0: one bit a pixel (rows of width / 8 bytes), else one byte a pixel
        std::vector<uint8_t> pixels;
    };
    static Scan EightBitScan(uint16_t width, uint16_t height);
    static Scan OneBitScan(uint16_t width, uint16_t height);
    static Scan FailedScan(uint8_t status);
    std::deque<Scan> scans;  // empty: an 8-bit 32 x 40 image

    struct Verdict {
        uint8_t status = 0;  // bit 0: no match
        uint8_t user = 1;    // the user whose fingerprint matched
    };
    std::deque<Verdict> verdicts;  // empty: a match of the user asked (or user 1)

    // ---- Behaviour ----
    bool answerHandshake = true;
    bool answerCommand = true;
    uint32_t handshakeDelayMs = 0;
    uint32_t answerDelayMs = 0;
    uint8_t handshakeCommand = 0x10;
    uint8_t handshakeByte1 = 0;
    uint8_t deviceRandom[8] = {0xB0, 0xB1, 0xB2, 0xB3, 0xB4, 0xB5, 0xB6, 0xB7};
    uint8_t status = 0;                     // byte 1 of the answers other than scans and verdicts
    std::vector<uint8_t> answerProductKey;  // 16 bytes: answers sealed under this key instead
    std::vector<size_t> answerChunks;       // data bytes per answer report (default 56)
    // The answers to commands are kept back until TakeWithheld hands them over
    // (an answer that comes after the agent stopped waiting for it).
    bool withholdAnswers = false;
    std::vector<SimReport> TakeWithheld();
    // Reports of an earlier answer that reach the agent together with the next
    // random-key answer, just before it or just after it; handed on once.
    std::vector<SimReport> lateReports;
    bool lateReportsBeforeHandshakeAnswer = false;
    // When set, the reports returned replace the answer to a command; the
    // function gets the command and the answer the unit would have sent, sealed.
    std::function<std::vector<SimReport>(uint8_t command, const std::vector<uint8_t>& sealed)> rawAnswer;

    // ---- Observations ----
    enum class KeyUsed { CommandSendKey, ChainedKey };
    struct Seen {
        std::vector<SimReport> reports;              // every report written to the unit
        std::vector<std::vector<uint8_t>> messages;  // handshake requests and commands, decrypted
        std::vector<KeyUsed> commandKeys;            // the key each command came under
        int handshakes = 0;
        int commands = 0;
        int undecodable = 0;  // messages under no key of the session
        uint8_t lastAppRandom[8] = {};
        std::vector<std::vector<uint8_t>> holderRequests;       // every 0x30 request, decrypted
        std::vector<std::pair<uint8_t, uint8_t>> deletions;     // command, user byte
    };
    Seen Observed() const;
    UnitRecord Unit() const;

    void OnOutputReport(const SimReport& report, SimReplyChannel& reply) override;

    // A request of the unit's table: a known command and Data Size bytes 5
    // and 6 zero (which a message under a wrong key almost never shows).
    static bool IsUnitRequest(const std::vector<uint8_t>& plain);

    // Reports of `message` (already sealed), cut in `chunks` data bytes.
    static std::vector<SimReport> Frame(const std::vector<uint8_t>& message, std::vector<size_t> chunks = {});

private:
    void OnMessage(const std::vector<uint8_t>& sealed, SimReplyChannel& reply);
    bool Decrypts(const std::vector<uint8_t>& key, const std::vector<uint8_t>& sealed, std::vector<uint8_t>& plain) const;
    std::vector<uint8_t> AnswerTo(const std::vector<uint8_t>& command);

    uint8_t m_product[16];
    mutable std::mutex m_lock;
    Seen m_seen;
    SimMessageGatherer m_gatherer;
    bool m_session = false;
    std::vector<uint8_t> m_chainedKey;  // the key of the last answer of this session
    std::vector<SimReport> m_withheld;
};
