#include "tests/sim/station_sims.h"

#include <algorithm>
#include <cstdio>
#include <string>

namespace sim {

namespace {

constexpr uint8_t STX = 0x02;
constexpr uint8_t ETX = 0x03;

// A hexadecimal digit's value; any other character counts 0.
unsigned Digit(char c)
{
    if (c >= '0' && c <= '9') return static_cast<unsigned>(c - '0');
    if (c >= 'A' && c <= 'F') return static_cast<unsigned>(c - 'A' + 10);
    if (c >= 'a' && c <= 'f') return static_cast<unsigned>(c - 'a' + 10);
    return 0;
}

uint8_t Xor(const Bytes& bytes, size_t from, size_t to)
{
    uint8_t x = 0;
    for (size_t i = from; i < to; ++i) x ^= bytes[i];
    return x;
}

}  // namespace

// ---- node and bus station

Bytes NodeStationSim::Frame(uint8_t node, const Bytes& data) const
{
    Bytes frame;
    const uint8_t length = static_cast<uint8_t>(data.size() + 1);
    if (m_bus) {
        frame = {STX, length, node};
        frame.insert(frame.end(), data.begin(), data.end());
        // Check: LEN, NODE and the data without its last byte.
        frame.push_back(Xor(frame, 1, 1u + length));
        frame.push_back(ETX);
    } else {
        frame = {STX, node, length};
        frame.insert(frame.end(), data.begin(), data.end());
        frame.push_back(Xor(frame, 2, frame.size()));
    }
    return frame;
}

Bytes NodeStationSim::Unsolicited(uint8_t node, const Bytes& data)
{
    m_sent.push_back(Frame(node, data));
    return m_sent.back();
}

Bytes NodeStationSim::FromSerialLine(const uint8_t* bytes, size_t n)
{
    m_line.insert(m_line.end(), bytes, bytes + n);
    Bytes out;
    for (;;) {
        while (!m_line.empty() && m_line[0] != STX) m_line.erase(m_line.begin());
        if (m_line.size() < 3) return out;
        const size_t length = m_bus ? m_line[1] : m_line[2];
        const size_t whole = m_bus ? length + 4 : length + 3;
        if (m_line.size() < whole) return out;
        const Bytes wire(m_line.begin(), m_line.begin() + static_cast<long>(whole));
        m_line.erase(m_line.begin(), m_line.begin() + static_cast<long>(whole));
        Request request;
        request.wire = wire;
        request.node = m_bus ? wire[2] : wire[1];
        request.data.assign(wire.begin() + 3, wire.begin() + 3 + static_cast<long>(length - 1));
        if (m_bus) {
            request.checkOk = Xor(wire, 1, 1 + length) == wire[length + 2] && wire[length + 3] == ETX;
            bool ours = false;
            for (const Bytes& sent : m_sent) ours = ours || sent == wire;
            if (ours) {
                echoes.push_back(wire);
                continue;
            }
        } else {
            request.checkOk = Xor(wire, 2, 2 + length) == wire[length + 2];
        }
        requests.push_back(request);
        if (!request.checkOk || request.node != m_node) continue;

        auto scripted = answers.find(request.data);
        Bytes data = scripted != answers.end() ? scripted->second : Bytes{0x00};
        if (scripted == answers.end()) data.insert(data.end(), request.data.begin(), request.data.end());
        const StationFault fault = m_fault;
        m_fault = StationFault::None;
        Bytes reply = Frame(fault == StationFault::OtherNode ? static_cast<uint8_t>(m_node + 1) : m_node, data);
        switch (fault) {
        case StationFault::Silence:
            continue;
        case StationFault::NoiseBeforeStx:
            reply.insert(reply.begin(), {0x7F, 0x00});
            break;
        case StationFault::WrongCheck:
            reply[reply.size() - (m_bus ? 2 : 1)] ^= 0x5A;
            break;
        case StationFault::NoEtx:
            reply.back() = 0x04;
            break;
        case StationFault::Truncated:
            reply.resize(reply.size() / 2);
            break;
        case StationFault::ZeroLength:
            reply = m_bus ? Bytes{STX, 0x00, m_node, 0x00, ETX} : Bytes{STX, m_node, 0x00, 0x00};
            break;
        default:
            break;
        }
        out.insert(out.end(), reply.begin(), reply.end());
    }
}

// ---- text modem

Bytes TextModemSim::FromSerialLine(const uint8_t* bytes, size_t n)
{
    Bytes out;
    for (size_t i = 0; i < n; ++i) {
        if (bytes[i] != ETX) {
            m_pending.push_back(static_cast<char>(bytes[i]));
            continue;
        }
        // The check is the last one or two characters: the split whose check
        // matches the pairs before it.
        Line line{m_pending, "", false};
        for (size_t digits = 2; digits >= 1 && !line.checkOk; --digits) {
            if (m_pending.size() < digits) continue;
            const std::string text = m_pending.substr(0, m_pending.size() - digits);
            unsigned x = 0;
            for (size_t p = 0; p < text.size(); p += 2)
                x ^= Digit(text[p]) * 16 + (p + 1 < text.size() ? Digit(text[p + 1]) : 0);
            char written[4];
            std::snprintf(written, sizeof written, "%X", x);
            if (m_pending.substr(text.size()) == written) line = {text, written, true};
        }
        m_pending.clear();
        lines.push_back(line);

        const StationFault fault = m_fault;
        m_fault = StationFault::None;
        if (fault == StationFault::Silence) continue;
        std::string reply = "600100";
        if (!replies.empty()) {
            reply = replies.front();
            replies.pop_front();
        }
        if (fault == StationFault::Truncated) reply.resize(reply.size() / 2);
        out.insert(out.end(), reply.begin(), reply.end());
        if (fault != StationFault::Truncated) out.push_back(ETX);
    }
    return out;
}

// ---- framed modem

uint16_t FramedModemSim::Crc(const Bytes& bytes)
{
    uint16_t crc = 0;
    for (uint8_t byte : bytes) {
        crc ^= byte;
        for (int bit = 0; bit < 8; ++bit) crc = (crc & 1) ? static_cast<uint16_t>((crc >> 1) ^ 0xA001) : crc >> 1;
    }
    return crc;
}

Bytes FramedModemSim::Reply(const Bytes& id1, const Bytes& id2, const Bytes& data, const char* digits)
{
    Bytes frame = {STX};
    frame.insert(frame.end(), id1.begin(), id1.end());
    frame.insert(frame.end(), id2.begin(), id2.end());
    char length[8];
    std::snprintf(length, sizeof length, "%04u", static_cast<unsigned>(data.size()));
    frame.insert(frame.end(), digits ? digits : length, (digits ? digits : length) + 4);
    frame.insert(frame.end(), data.begin(), data.end());
    const uint16_t crc = Crc(frame);
    frame.push_back(ETX);
    frame.push_back(static_cast<uint8_t>(crc >> 8));
    frame.push_back(static_cast<uint8_t>(crc & 0xFF));
    return frame;
}

Bytes FramedModemSim::FromSerialLine(const uint8_t* bytes, size_t n)
{
    const Bytes wire(bytes, bytes + n);
    Request request{{}, wire, false, n == 0 || bytes[0] != STX};
    if (request.raw) {
        requests.push_back(request);
        return rawReply;
    }
    // STX, body, ETX, CRC high, CRC low: the library writes a frame in one write.
    if (n >= 4 && wire[n - 3] == ETX) {
        request.body.assign(wire.begin() + 1, wire.end() - 3);
        const uint16_t crc = Crc(Bytes(wire.begin(), wire.end() - 3));
        request.crcOk = wire[n - 2] == (crc >> 8) && wire[n - 1] == (crc & 0xFF);
    }
    requests.push_back(request);
    if (!request.crcOk) return {};

    Bytes id1(request.body.begin(), request.body.begin() + std::min<long>(10, static_cast<long>(request.body.size())));
    Bytes id2;
    if (request.body.size() > 10)
        id2.assign(request.body.begin() + 10, request.body.begin() + std::min<long>(20, static_cast<long>(request.body.size())));
    id1.resize(10, ' ');
    id2.resize(10, ' ');
    const Bytes data(request.body.begin() + std::min<long>(20, static_cast<long>(request.body.size())), request.body.end());
    auto scripted = answers.find(data);
    Bytes replyData = scripted != answers.end() ? scripted->second : Bytes{'O', 'K'};

    const StationFault fault = m_fault;
    m_fault = StationFault::None;
    if (fault == StationFault::OtherId1) id1[2] ^= 0x01;
    if (fault == StationFault::OtherId2) id2[9] ^= 0x01;
    Bytes reply = Reply(id1, id2, replyData);
    switch (fault) {
    case StationFault::Silence:
        return {};
    case StationFault::NoiseBeforeStx:
        reply.insert(reply.begin(), {0x7F, 0x05, 0x00});
        break;
    case StationFault::WrongCheck:
        reply.back() ^= 0x5A;
        break;
    case StationFault::NoEtx:
        reply[reply.size() - 3] = 0x04;
        break;
    case StationFault::BadLength:
        reply[21] = '/';  // weighs -1000
        break;
    case StationFault::HugeLength:
        reply[21] = reply[22] = reply[23] = reply[24] = '9';
        reply.resize(100, 'z');
        break;
    case StationFault::Truncated:
        reply.resize(reply.size() / 2);
        break;
    default:
        break;
    }
    return reply;
}

}  // namespace sim
