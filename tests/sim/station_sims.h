// Simulated stations of the library's older protocols, each the far end of a
// serial line, written from their wire formats:
// - NodeStationSim: a device at one node byte, speaking the node frames (STX,
//   NODE, LEN, data, BCC) or, as a bus station, the two-wire bus frames (STX,
//   LEN, NODE, data, BCC, ETX), which it can also send of its own accord;
// - TextModemSim: the text modem station "60" (character lines with a
//   hexadecimal check and ETX, text replies);
// - FramedModemSim: the modem station answering CRC-16 frames that carry two
//   identifiers, and raw commands.
#pragma once

#include <cstdint>
#include <deque>
#include <map>
#include <string>
#include <vector>

#include "tests/sim/serial_peer.h"

namespace sim {

enum class StationFault {
    None,
    Silence,         // no answer
    NoiseBeforeStx,  // two bytes ahead of the frame
    OtherNode,       // the answer names another node
    WrongCheck,      // block check or CRC off
    NoEtx,           // bus / modem: the ETX is another byte
    Truncated,       // half the answer
    OtherId1,        // modem: another first identifier
    OtherId2,        // modem: another second identifier
    BadLength,       // modem: length characters that weigh less than zero
    HugeLength,      // modem: a length of 9999 (and no more than 100 bytes of it)
    ZeroLength,      // node: a LEN of 0
};

class NodeStationSim : public SerialPeer {
public:
    NodeStationSim(uint8_t node, bool bus) : m_node(node), m_bus(bus) {}

    // Answers (status, then payload) by request data; others get status 0 and
    // the request data back.
    std::map<Bytes, Bytes> answers;
    void InjectFault(StationFault fault) { m_fault = fault; }

    struct Request {
        uint8_t node;
        Bytes data;
        Bytes wire;
        bool checkOk;
    };
    std::vector<Request> requests;
    std::vector<Bytes> echoes;  // bus: frames of ours that came back

    Bytes FromSerialLine(const uint8_t* bytes, size_t n) override;
    // A frame in this station's framing.
    Bytes Frame(uint8_t node, const Bytes& data) const;
    // Bus: a frame the station sends of its own accord (remembered, so that
    // the library's echo of it is known as such).
    Bytes Unsolicited(uint8_t node, const Bytes& data);

private:
    Bytes m_line;
    uint8_t m_node;
    bool m_bus;
    StationFault m_fault = StationFault::None;
    std::vector<Bytes> m_sent;
};

class TextModemSim : public SerialPeer {
public:
    // Replies in order (text without ETX); when none is queued, "600100".
    std::deque<std::string> replies;
    void InjectFault(StationFault fault) { m_fault = fault; }

    struct Line {
        std::string text;   // the line without its check
        std::string check;  // the check characters
        bool checkOk;
    };
    std::vector<Line> lines;

    Bytes FromSerialLine(const uint8_t* bytes, size_t n) override;

private:
    std::string m_pending;
    StationFault m_fault = StationFault::None;
};

class FramedModemSim : public SerialPeer {
public:
    // Reply data by the request's data (after the two identifiers); others get
    // "OK".
    std::map<Bytes, Bytes> answers;
    Bytes rawReply = {'O', 'K', '\r', '\n'};  // answer to bytes that are not a frame
    void InjectFault(StationFault fault) { m_fault = fault; }

    struct Request {
        Bytes body;  // between STX and ETX
        Bytes wire;
        bool crcOk;
        bool raw;
    };
    std::vector<Request> requests;

    Bytes FromSerialLine(const uint8_t* bytes, size_t n) override;
    // CRC-16/ARC, worked bit by bit.
    static uint16_t Crc(const Bytes& bytes);
    // A reply frame with these identifiers and data; `digits`, when given, are
    // the four length characters sent in place of the data's length.
    static Bytes Reply(const Bytes& id1, const Bytes& id2, const Bytes& data, const char* digits = nullptr);

private:
    StationFault m_fault = StationFault::None;
};

}  // namespace sim
