#include "tests/sim/card_reader_sim.h"

namespace sim {

namespace {

Bytes Concat(std::initializer_list<uint8_t> head, const Bytes& tail)
{
    Bytes all(head);
    all.insert(all.end(), tail.begin(), tail.end());
    return all;
}

}  // namespace

ScriptedCard::ScriptedCard() : atr{0x3B, 0x02, 0x14, 0x50}, probeAnswer{'B', 0x50, 0x12, 0x34, 0x56, 0x78} {}

Bytes CardReaderSim::Answer(const Bytes& request) const
{
    auto scripted = card.replies.find(request);
    if (scripted != card.replies.end()) return scripted->second;
    if (request.empty()) return {kUnknownCommand};
    const Bytes data(request.begin() + 1, request.end());
    auto apdu = [&](bool present) -> Bytes {
        if (!present) return {kNoCard};
        if (card.behind) {
            const std::optional<Bytes> answer = card.behind(request[0], data);
            return answer ? Concat({kDone}, *answer) : Bytes{kNoCard};
        }
        auto it = card.apdus.find(data);
        return Concat({kDone}, it != card.apdus.end() ? it->second : Bytes{0x6E, 0x00});
    };
    switch (request[0]) {
    case 0xC0:  // power the contact card
        return card.contact ? Concat({kDone}, card.atr) : Bytes{kNoCard};
    case 0xC1:
    case 0xC2:
    case 0xC3:
        return apdu(card.contact);
    case 0x61:  // APDU to the contactless card
        return apdu(card.contactless);
    case 0x4C:  // look for a contactless card
        return card.contactless ? Concat({kDone}, card.probeAnswer) : Bytes{kNoCard};
    default:
        return {kUnknownCommand};
    }
}

ReaderFault CardReaderSim::TakeFault()
{
    ReaderFault fault = m_fault;
    m_fault = ReaderFault::None;
    return fault;
}

Bytes CardReaderSim::SerialReply(const Bytes& answer)
{
    const ReaderFault fault = TakeFault();
    Bytes body = fault == ReaderFault::NoData ? Bytes{} : answer;
    if (fault == ReaderFault::Oversized) body.assign(3000, 0x00);
    Bytes frame = {0x02, static_cast<uint8_t>(body.size() >> 8), static_cast<uint8_t>(body.size() & 0xFF)};
    frame.insert(frame.end(), body.begin(), body.end());
    uint8_t check = 0;
    for (size_t i = 1; i < frame.size(); ++i) check ^= frame[i];
    frame.push_back(fault == ReaderFault::WrongBcc ? static_cast<uint8_t>(check ^ 0x5A) : check);
    switch (fault) {
    case ReaderFault::Silence:
        return {};
    case ReaderFault::NoiseBeforeStx:
        frame.insert(frame.begin(), {0xFF, 0x00});
        break;
    case ReaderFault::Truncated:
        frame.resize(frame.size() / 2);
        break;
    default:
        break;
    }
    return frame;
}

Bytes CardReaderSim::FromSerialLine(const uint8_t* bytes, size_t n)
{
    m_line.insert(m_line.end(), bytes, bytes + n);
    Bytes out;
    for (;;) {
        // Bytes ahead of an STX belong to the frame before (its tail).
        size_t stx = 0;
        while (stx < m_line.size() && m_line[stx] != 0x02) ++stx;
        if (stx > 0 && !requests.empty()) {
            Bytes& trailing = requests.back().trailing;
            trailing.insert(trailing.end(), m_line.begin(), m_line.begin() + static_cast<long>(stx));
        }
        m_line.erase(m_line.begin(), m_line.begin() + static_cast<long>(stx));
        if (m_line.size() < 3) return out;
        const size_t length = m_line[1] * 256u + m_line[2];
        if (m_line.size() < length + 4) return out;
        Request request;
        request.wire.assign(m_line.begin(), m_line.begin() + static_cast<long>(length + 4));
        request.data.assign(m_line.begin() + 3, m_line.begin() + static_cast<long>(length + 3));
        uint8_t check = 0;
        for (size_t i = 1; i < length + 3; ++i) check ^= m_line[i];
        request.checkOk = check == m_line[length + 3];
        m_line.erase(m_line.begin(), m_line.begin() + static_cast<long>(length + 4));
        requests.push_back(request);
        if (request.checkOk) {
            Bytes reply = SerialReply(Answer(request.data));
            out.insert(out.end(), reply.begin(), reply.end());
        }
    }
}

std::optional<Bytes> CardReaderSim::FromUsb(const uint8_t* bytes, size_t n)
{
    Request request;
    request.wire.assign(bytes, bytes + n);
    const size_t length = n >= 2 ? bytes[0] * 256u + bytes[1] : 0;
    request.checkOk = n >= 2 && length == n - 2;
    if (n > 2) request.data.assign(bytes + 2, bytes + n);
    requests.push_back(request);

    Bytes answer = Answer(request.data);
    switch (TakeFault()) {
    case ReaderFault::Silence:
        return std::nullopt;
    case ReaderFault::ShortUsbRead:
        return Bytes{0x00};
    case ReaderFault::NoData:
        return Bytes{0x00, 0x00};
    case ReaderFault::Truncated:
        answer.resize(answer.size() / 2);
        break;
    case ReaderFault::Oversized:
        answer.assign(3000, 0x00);
        break;
    default:
        break;
    }
    Bytes packet = {static_cast<uint8_t>(answer.size() >> 8), static_cast<uint8_t>(answer.size() & 0xFF)};
    packet.insert(packet.end(), answer.begin(), answer.end());
    return packet;
}

}  // namespace sim
