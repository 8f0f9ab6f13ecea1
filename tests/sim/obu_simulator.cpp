#include "tests/sim/obu_simulator.h"

#include <algorithm>
#include <cstring>

#include "obulink/session_key.h"
#include "tests/sim/reference_aes.h"

namespace {

constexpr SimReportShape kShape = {0x01, 64};

}  // namespace

ObuSimulator::ObuSimulator(const uint8_t productKey[16]) : m_gatherer(kShape)
{
    std::memcpy(m_product, productKey, 16);
}

ObuSimulator::Seen ObuSimulator::Observed() const
{
    std::lock_guard<std::mutex> hold(m_lock);
    return m_seen;
}

std::vector<uint8_t> ObuSimulator::DeviceKey(const uint8_t product[16], const uint8_t* appRandom,
                                             const uint8_t* deviceRandom)
{
    // Even positions: the product key. Positions 1 mod 4: the AppRandom (or 0).
    // Positions 3 mod 4: the first filler in the first half and the second in
    // the second half, or the DeviceRandom in order.
    std::vector<uint8_t> key(32, 0);
    int app = 0, dev = 0;
    for (int position = 0; position < 32; ++position) {
        if (position % 2 == 0) {
            key[position] = product[position / 2];
        } else if (position % 4 == 1) {
            key[position] = appRandom ? appRandom[app] : 0;
            ++app;
        } else {
            key[position] = deviceRandom ? deviceRandom[dev]
                                         : (position < 16 ? kSessionKeyFiller1 : kSessionKeyFiller2);
            ++dev;
        }
    }
    return key;
}

std::vector<SimReport> ObuSimulator::Frame(const std::vector<uint8_t>& message, std::vector<size_t> chunks)
{
    return SimFrameMessage(kShape, message, std::move(chunks));
}

void ObuSimulator::OnOutputReport(const SimReport& report, SimReplyChannel& reply)
{
    std::vector<uint8_t> complete;
    {
        std::lock_guard<std::mutex> hold(m_lock);
        m_seen.reports.push_back(report);
        if (!m_gatherer.Add(report, complete)) return;
    }
    OnMessage(complete, reply);
}

std::vector<uint8_t> ObuSimulator::Record() const
{
    std::lock_guard<std::mutex> hold(m_lock);
    return record;
}

std::vector<uint8_t> ObuSimulator::ActOnInformation(const std::vector<uint8_t>& plain)
{
    record.resize(33, 0);
    const uint8_t command = plain[0];
    if (command == 0x02) {
        std::fill(record.begin(), record.end(), 0);
        return {};
    }
    if ((command == 0x01 || command == 0x04) && plain.size() >= 49) {
        record.assign(plain.begin() + 16, plain.begin() + 49);
    } else if (command == 0x03 && plain.size() >= 49) {
        // Record byte ranges of fields 1 to 5, in flag order.
        static const struct { size_t from, count; } kFields[] = {{1, 8}, {9, 8}, {19, 5}, {24, 4}, {28, 4}};
        const uint8_t flags = plain[16 + 17];
        for (size_t f = 0; f < 5; ++f)
            if (flags & (0x80 >> f))
                std::copy_n(plain.begin() + 16 + kFields[f].from, kFields[f].count, record.begin() + kFields[f].from);
        record[0] = 0x03;
        record[17] = flags;
    }
    return record;
}

void ObuSimulator::OnMessage(const std::vector<uint8_t>& encrypted, SimReplyChannel& reply)
{
    if (encrypted.empty() || encrypted.size() % 16) return;
    std::unique_lock<std::mutex> hold(m_lock);
    const uint8_t* answerProduct = answerProductKey.size() == 16 ? answerProductKey.data() : m_product;

    // The clear serial-number request: command 0x00 and nothing else.
    if (encrypted.size() == 16 && std::all_of(encrypted.begin(), encrypted.end(), [](uint8_t b) { return b == 0; })) {
        m_seen.messages.push_back(encrypted);
        ++m_seen.mfsnReads;
        std::vector<SimReport> reports;
        if (answerMfsn) {
            std::vector<uint8_t> answer(24, 0);
            std::memcpy(&answer[16], mfsn, 8);
            reports = Frame(answer, mfsnChunks);
            for (size_t i = 0; i < reports.size(); ++i) {
                reports[i][1] = 1;
                reports[i][8] = i < mfsnStatuses.size() ? mfsnStatuses[i] : mfsnStatus;
            }
        }
        reports.insert(reports.begin(), beforeMfsnAnswer.begin(), beforeMfsnAnswer.end());
        const uint32_t delay = answerDelayMs;
        hold.unlock();
        for (auto& r : reports) reply.Deliver(r, delay);
        return;
    }

    // A random-key request starts a transaction again, whatever came before.
    const auto handshakeKey = DeviceKey(m_product, nullptr, nullptr);
    const auto asHandshake = ReferenceAes(handshakeKey.data(), 32).DecryptCbc(encrypted);
    const bool isHandshake = encrypted.size() == 16 && asHandshake[0] == 0x10 &&
                             std::all_of(asHandshake.begin() + 1, asHandshake.begin() + 8, [](uint8_t b) { return b == 0; });
    if (isHandshake || !m_handshakeDone) {
        const auto& plain = asHandshake;
        m_seen.messages.push_back(plain);
        if (!isHandshake && !refuseUnreadableHandshake) return;
        if (isHandshake) {
            ++m_seen.handshakes;
            std::memcpy(m_seen.lastAppRandom, &plain[8], 8);
            if (!answerHandshake) return;
        }
        m_handshakeDone = isHandshake;
        std::vector<uint8_t> answer(16, 0);
        answer[0] = handshakeCommand;
        answer[1] = isHandshake ? handshakeByte1 : 0x02;
        std::memcpy(&answer[8], deviceRandom, 8);
        const auto answerKey = DeviceKey(answerProduct, &plain[8], nullptr);
        const auto sealed = ReferenceAes(answerKey.data(), 32).EncryptCbc(answer);
        const uint32_t delay = handshakeDelayMs;
        hold.unlock();
        for (auto& r : Frame(sealed, {})) reply.Deliver(r, delay);
        return;
    }

    m_handshakeDone = false;  // one command per random-key exchange
    const auto key = DeviceKey(m_product, nullptr, deviceRandom);
    const auto plain = ReferenceAes(key.data(), 32).DecryptCbc(encrypted);
    m_seen.messages.push_back(plain);
    ++m_seen.commands;
    std::memcpy(m_seen.lastAppRandom, &plain[8], 8);
    if (!answerCommand) return;

    const std::vector<uint8_t> data =
        keepsInformation ? (status == 0 ? ActOnInformation(plain) : std::vector<uint8_t>()) : answerData;
    std::vector<uint8_t> answer((16 + data.size() + 15) / 16 * 16, 0);
    answer[0] = plain[0];
    answer[1] = status;
    answer[2] = status2;
    std::memcpy(&answer[8], deviceRandom, 8);
    std::copy(data.begin(), data.end(), answer.begin() + 16);
    const auto answerKey = DeviceKey(answerProduct, &plain[8], deviceRandom);
    const auto sealed = ReferenceAes(answerKey.data(), 32).EncryptCbc(answer);
    const std::vector<SimReport> reports = rawAnswer ? rawAnswer(sealed) : Frame(sealed, answerChunks);
    const uint32_t delay = answerDelayMs;
    hold.unlock();
    for (auto& r : reports) reply.Deliver(r, delay);
}
