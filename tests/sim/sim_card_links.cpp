#include "tests/sim/sim_card_links.h"

#include <algorithm>
#include <cstring>

namespace sim {

namespace {

// The answer to reset of the virtual contact card.
const Bytes kAnswerToReset = {0x3B, 0x6E, 0x00, 0x00, 0x80, 0x31, 0x80, 0x66, 0xB0, 0x84,
                              0x0C, 0x01, 0x6E, 0x01, 0x83, 0x00, 0x90, 0x00};
// What the reader's contactless probe answers: 'B' and the card's identifier.
const Bytes kProbeAnswer = {0x42, 0x08, 0x12, 0x34, 0x56, 0x78};

}  // namespace

void SimReaderLibrary::Note(const std::string& call, int32_t port, const uint8_t* data, int32_t length)
{
    std::string line = call + " " + std::to_string(port);
    if (data && length > 0)
        line += " " + HexOf(Bytes(data, data + length));
    m_calls.push_back(line);
}

bool SimReaderLibrary::IsOpen(int32_t port) const
{
    return std::find(m_open.begin(), m_open.end(), port) != m_open.end();
}

int32_t SimReaderLibrary::InitPort(int32_t port, int32_t)
{
    Note("InitPort", port);
    if (port < 100 || port >= 100 + m_readers)
        return kNoUsbReader;
    if (!IsOpen(port))
        m_open.push_back(port);
    return port;
}

int32_t SimReaderLibrary::ClosePort(int32_t port)
{
    Note("ClosePort", port);
    m_open.erase(std::remove(m_open.begin(), m_open.end(), port), m_open.end());
    return 0;
}

int32_t SimReaderLibrary::Reply(const Bytes& payload, int32_t* outLength, uint8_t* out)
{
    std::memcpy(out, payload.data(), payload.size());
    *outLength = static_cast<int32_t>(payload.size());
    return 0;
}

int32_t SimReaderLibrary::IcPowerOn(int32_t port, int32_t* outLength, uint8_t* atr)
{
    Note("PowerOn", port);
    if (!IsOpen(port))
        return kNoPortRecord;
    if (m_presence != CardPresence::kContact)
        return kReaderNoCard;
    m_card.Reset();
    return Reply(kAnswerToReset, outLength, atr);
}

Bytes ContactChannelReply(const Bytes& command, const Bytes& reply, bool dataOut)
{
    Bytes payload = reply;
    if (dataOut && reply.size() > 2 && command.size() >= 2)
        payload.insert(payload.begin(), command[1]);
    return payload;
}

int32_t SimReaderLibrary::ContactCase(const char* name, bool dataOut, int32_t port, int32_t length,
                                      const uint8_t* data, int32_t* outLength, uint8_t* out)
{
    Note(name, port, data, length);
    if (!IsOpen(port))
        return kNoPortRecord;
    if (m_presence != CardPresence::kContact)
        return kReaderNoCard;
    const Bytes command(data, data + length);
    VirtualIssuingCard::Reply reply = m_card.Answer(command);
    if (reply.silent)
        return kReaderNoCard;
    return Reply(ContactChannelReply(command, reply.bytes, dataOut), outLength, out);
}

int32_t SimReaderLibrary::IcCase1(int32_t port, int32_t length, const uint8_t* data, int32_t* outLength, uint8_t* out)
{
    return ContactCase("Case1", false, port, length, data, outLength, out);
}

int32_t SimReaderLibrary::IcCase2(int32_t port, int32_t length, const uint8_t* data, int32_t* outLength, uint8_t* out)
{
    return ContactCase("Case2", true, port, length, data, outLength, out);
}

int32_t SimReaderLibrary::IcCase3(int32_t port, int32_t length, const uint8_t* data, int32_t* outLength, uint8_t* out)
{
    return ContactCase("Case3", false, port, length, data, outLength, out);
}

int32_t SimReaderLibrary::AbmTransparent(int32_t port, int32_t command, int32_t length, const uint8_t* data,
                                         int32_t* outLength, uint8_t* out)
{
    Note("Transparent " + HexOf({static_cast<uint8_t>(command)}), port, data, length);
    if (!IsOpen(port))
        return kNoPortRecord;
    if (m_presence != CardPresence::kContactless)
        return kReaderNoCard;
    if (command == 0x4C) {
        m_card.Reset();
        return Reply(kProbeAnswer, outLength, out);
    }
    if (command != 0x61)
        return kReaderNoCard;
    VirtualIssuingCard::Reply reply = m_card.Answer(Bytes(data, data + length));
    if (reply.silent)
        return kReaderNoCard;
    return Reply(reply.bytes, outLength, out);
}

bool SimPcscLink::Connect()
{
    ++m_connects;
    if (!m_present)
        return false;
    m_card.Reset();
    m_connected = true;
    return true;
}

bool SimPcscLink::Transmit(const uint8_t* request, size_t requestLength, uint8_t* reply, size_t capacity,
                           size_t& replyLength)
{
    if (!m_connected)
        return false;
    VirtualIssuingCard::Reply answer = m_card.Answer(Bytes(request, request + requestLength));
    if (answer.silent || answer.bytes.size() > capacity)
        return false;
    std::memcpy(reply, answer.bytes.data(), answer.bytes.size());
    replyLength = answer.bytes.size();
    return true;
}

void SimPcscLink::Close()
{
    ++m_closes;
    m_connected = false;
}

}  // namespace sim
