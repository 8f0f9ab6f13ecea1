// The biometric unit's side for the fuzz targets: it reads the messages the
// system writes as the unit does (its own gathering and cipher, the session
// keys built from the product key, the fixed handshake AppRandom, the unit's
// DeviceRandom and the command's AppRandom) and answers each from the input:
//   0                       silence
//   1 size chunk plain...   a message sealed under the key the system will
//                           use for the answer: the random-key answer under
//                           the handshake receive key, a command's answer
//                           under the command receive key (the key a screen's
//                           next request is chained to); 16 * blocks bytes of
//                           plaintext, blocks 1 + size below 192, else
//                           1 + 90 * (size - 192) (up to 90736 bytes, past
//                           the screens' 90000), chunk data bytes a report
//                           (1 to 56; 0: 56; at least a 2048th of the
//                           message, so that no answer takes more than 2048
//                           reports)
//   2 count (len bytes...)* count % 8 raw reports
//   3                       the next read fails (the unit is gone)
// It notes what the system should make of it: whether the system reads the
// random-key answer and the command answer whole, and their plaintexts.
#pragma once

#include <algorithm>
#include <cstring>
#include <vector>

#include "obulink/session_key.h"
#include "tests/fuzz/fuzz_input.h"
#include "tests/fuzz/fuzz_lockstep_hid.h"
#include "tests/sim/biu_simulator.h"
#include "tests/sim/obu_simulator.h"
#include "tests/sim/reference_aes.h"

// The system's AppRandom values: a new one each draw, the same in every run.
class CountingRandom : public AppRandomSource {
public:
    void Draw(uint8_t out[8]) override
    {
        for (uint8_t i = 0; i < 8; ++i) out[i] = static_cast<uint8_t>(m_next * 8 + i);
        ++m_next;
    }

private:
    uint8_t m_next = 1;
};

class FuzzBiuPeer : public FuzzHidPeer {
public:
    static constexpr size_t kReportLength = BiuSimulator::kReportLength;
    static constexpr size_t kReportData = BiuSimulator::kReportData;

    FuzzBiuPeer(FuzzInput& input, LockstepHidPlatform& platform, size_t answerCapacity)
        : m_input(input), m_platform(platform), m_capacity(answerCapacity)
    {
    }

    // The product key the system is meant to hold.
    uint8_t product[16] = {};
    // Whether every handshake carries the fixed AppRandom (transactions), or
    // only the first (a screen).
    bool fixedRandomInEveryHandshake = true;

    // What one transaction (or one screen) showed the unit.
    struct Seen {
        int messages = 0;
        int handshakes = 0;
        int commands = 0;       // read under a key of the session
        int undecodable = 0;    // commands under no key the unit holds
        std::vector<uint8_t> command;  // the last command, decrypted
        // The random-key answer the system reads whole: its plaintext.
        bool handshakeKnown = false;
        bool handshakeAccepted = false;  // 0x10 and seven zeros
        // The last command answer that the system gathers whole (and can
        // decrypt) and takes as the command's: its plaintext; empty when none.
        std::vector<uint8_t> answer;
        uint64_t answerLastReport = 0;    // the number its last report is taken under (TakeQueued)
    };
    Seen seen;
    void Begin() { seen = Seen(); }

    void OnWrite(const FuzzReport& report) override
    {
        std::vector<uint8_t> message;
        if (report.size() != kReportLength || !m_gatherer.Add(report, message)) return;
        ++seen.messages;
        if (message.empty() || message.size() % 16) return;
        const bool handshake = IsHandshake(message);
        ++m_messagesEver;
        if (handshake) return OnHandshake(message);
        OnCommand(message);
    }

private:
    std::vector<uint8_t> Decrypted(const std::vector<uint8_t>& key, const std::vector<uint8_t>& sealed) const
    {
        return ReferenceAes(key.data(), 32).DecryptCbc(sealed);
    }

    bool IsHandshake(const std::vector<uint8_t>& message)
    {
        if (message.size() != 16) return false;
        const auto plain = Decrypted(ObuSimulator::DeviceKey(product, nullptr, nullptr), message);
        if (plain[0] != 0x10 || !std::all_of(plain.begin() + 1, plain.begin() + 8, [](uint8_t b) { return b == 0; }))
            return false;
        // Every unit transaction opens with the same handshake AppRandom, and
        // so does a screen until it has sent a request (whose AppRandom a later
        // handshake carries).
        static const uint8_t kHandshakeRandom[8] = {0x11, 0x22, 0x33, 0x44, 0x55, 0x66, 0x77, 0x88};
        if (fixedRandomInEveryHandshake || m_messagesEver == 0)
            Require(std::equal(plain.begin() + 8, plain.end(), kHandshakeRandom));
        std::memcpy(m_appRandom, &plain[8], 8);
        return true;
    }

    void OnHandshake(const std::vector<uint8_t>&)
    {
        ++seen.handshakes;
        m_session = false;
        m_chainedKey.clear();
        seen.handshakeKnown = false;
        const Answer answer = Answer::Read(m_input);
        if (answer.kind != Answer::kSealed) {
            Deliver(answer, {});
            return;
        }
        const auto key = ObuSimulator::DeviceKey(product, m_appRandom, nullptr);
        const bool first = m_platform.Queued() == 0;
        const size_t reports = Deliver(answer, key);
        // The system takes a random-key answer only as a whole one-block
        // message in one report.
        if (first && reports == 1 && answer.plain.size() == 16 && answer.chunk >= 16 &&
            m_platform.InputReportLength() >= 9 + 16) {
            m_session = true;
            std::memcpy(m_deviceRandom, &answer.plain[8], 8);
            seen.handshakeKnown = true;
            seen.handshakeAccepted = answer.plain[0] == 0x10 &&
                                     std::all_of(answer.plain.begin() + 1, answer.plain.begin() + 8,
                                                 [](uint8_t b) { return b == 0; });
        }
    }

    void OnCommand(const std::vector<uint8_t>& message)
    {
        std::vector<uint8_t> key;
        if (m_session) {
            // A screen's later request comes under the key of the answer before it.
            std::vector<uint8_t> plain;
            if (!m_chainedKey.empty()) plain = Decrypted(m_chainedKey, message);
            if (plain.empty() || !BiuSimulator::IsUnitRequest(plain))
                plain = Decrypted(ObuSimulator::DeviceKey(product, nullptr, m_deviceRandom), message);
            if (BiuSimulator::IsUnitRequest(plain)) {
                ++seen.commands;
                seen.command = plain;
                m_chainedKey = ObuSimulator::DeviceKey(product, &plain[8], m_deviceRandom);
                key = m_chainedKey;
            }
        }
        if (key.empty()) ++seen.undecodable;
        seen.answer.clear();
        const Answer answer = Answer::Read(m_input);
        if (answer.kind != Answer::kSealed || key.empty()) {
            // Without a session the answer is sealed under a key the system
            // does not hold, which is as good as noise.
            Deliver(answer, key.empty() ? ObuSimulator::DeviceKey(product, nullptr, nullptr) : key);
            return;
        }
        const bool first = m_platform.Queued() == 0;
        Deliver(answer, key);
        // Read whole: nothing before it, every report's data within the
        // input report, the whole within the system's capacity, and the
        // command's own answer (its command byte).
        if (first && m_platform.InputReportLength() >= 9 + answer.chunk && answer.plain.size() <= m_capacity &&
            answer.plain[0] == seen.command[0]) {
            seen.answer = answer.plain;
            seen.answerLastReport = m_platform.QueuedEver();
        }
    }

    struct Answer {
        enum Kind { kSilence, kSealed, kRaw, kFailure };
        Kind kind = kSilence;
        size_t chunk = kReportData;
        std::vector<uint8_t> plain;
        std::vector<FuzzReport> raw;

        static Answer Read(FuzzInput& input)
        {
            Answer answer;
            answer.kind = static_cast<Kind>(input.Byte() % 4);
            if (answer.kind == kSealed) {
                const size_t size = input.Byte();
                const size_t blocks = size < 192 ? 1 + size : 1 + 90 * (size - 192);
                answer.chunk = input.Byte() % (kReportData + 1);
                if (answer.chunk == 0) answer.chunk = kReportData;
                answer.chunk = std::max(answer.chunk, std::min(kReportData, (16 * blocks + 2047) / 2048));
                answer.plain = input.Bytes(16 * blocks);
            } else if (answer.kind == kRaw) {
                for (size_t n = input.Byte() % 8; n > 0; --n) answer.raw.push_back(input.Counted());
            }
            return answer;
        }
    };

    // Queues the answer's reports; returns how many.
    size_t Deliver(const Answer& answer, const std::vector<uint8_t>& key)
    {
        switch (answer.kind) {
        case Answer::kSilence: return 0;
        case Answer::kFailure: m_platform.FailNextRead(); return 0;
        case Answer::kRaw:
            for (const FuzzReport& r : answer.raw) m_platform.Queue(r);
            return answer.raw.size();
        case Answer::kSealed: break;
        }
        const std::vector<uint8_t> sealed = ReferenceAes(key.data(), 32).EncryptCbc(answer.plain);
        std::vector<size_t> chunks;
        for (size_t left = sealed.size(); left > 0; left -= std::min(left, answer.chunk))
            chunks.push_back(std::min(left, answer.chunk));
        const auto reports = BiuSimulator::Frame(sealed, chunks);
        for (const FuzzReport& r : reports) m_platform.Queue(r);
        return reports.size();
    }

    FuzzInput& m_input;
    LockstepHidPlatform& m_platform;
    size_t m_capacity;
    SimMessageGatherer m_gatherer{{0x00, kReportLength}};
    bool m_session = false;
    int m_messagesEver = 0;
    uint8_t m_appRandom[8] = {};
    uint8_t m_deviceRandom[8] = {};
    std::vector<uint8_t> m_chainedKey;
};
