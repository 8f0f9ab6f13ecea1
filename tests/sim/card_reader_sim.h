// A simulated contact and contactless card reader: the reader's side of both
// links (serial frames with STX and block check, USB packets with a length
// prefix), a scripted card behind it, and faults to inject into its replies.
#pragma once

#include <cstddef>
#include <cstdint>
#include <functional>
#include <map>
#include <optional>
#include <vector>

#include "tests/sim/serial_peer.h"

namespace sim {

// The card in (or near) the reader, as a test scripts it.
struct ScriptedCard {
    ScriptedCard();
    bool contact = true;       // a contact card sits in the slot
    bool contactless = false;  // a contactless card is in the field
    Bytes atr;          // 3B 02 14 50
    Bytes probeAnswer;  // 'B' and a serial number
    // Card answers (data, SW1, SW2) by APDU; an APDU not listed gets 6E 00.
    std::map<Bytes, Bytes> apdus;
    // When set, a card of its own answers every APDU in place of `apdus`:
    // given the reader command that carried it (C1 to C3, or 61) and the APDU,
    // what the reader hands on after its status byte, or nothing when the
    // card stays silent (the reader then reports no card).
    std::function<std::optional<Bytes>(uint8_t command, const Bytes& apdu)> behind;
    // Whole reader answers (status byte, payload) by whole request; they win
    // over everything else.
    std::map<Bytes, Bytes> replies;
};

enum class ReaderFault {
    None,
    NoiseBeforeStx,  // serial: two bytes of noise ahead of the STX
    WrongBcc,        // serial: the block check is off
    Silence,         // no answer at all
    Truncated,       // only the first half of the answer
    Oversized,       // a LEN of 3000 with as many bytes
    NoData,          // a reply of LEN 0 (serial) or the length prefix alone (USB)
    ShortUsbRead,    // USB: one byte
};

class CardReaderSim : public SerialPeer {
public:
    // Reader statuses.
    static constexpr uint8_t kDone = 0x00;
    static constexpr uint8_t kUnknownCommand = 0x01;
    static constexpr uint8_t kNoCard = 0x02;

    ScriptedCard card;

    // The next reply carries `fault`.
    void InjectFault(ReaderFault fault) { m_fault = fault; }

    // Serial line: bytes that came down the line; the bytes the reader sends back.
    Bytes FromSerialLine(const uint8_t* bytes, size_t n) override;
    // USB: one packet in; the packet back, or none (silence).
    std::optional<Bytes> FromUsb(const uint8_t* bytes, size_t n);

    struct Request {
        Bytes data;      // command byte and its data
        Bytes wire;      // the frame as it came
        Bytes trailing;  // serial: bytes after the frame, before the next STX
        bool checkOk;    // serial: the block check was right
    };
    std::vector<Request> requests;

    // The reader's answer to one request: status byte, then the payload.
    Bytes Answer(const Bytes& request) const;

private:
    Bytes SerialReply(const Bytes& answer);
    ReaderFault TakeFault();
    Bytes m_line;  // serial bytes not yet taken
    ReaderFault m_fault = ReaderFault::None;
};

}  // namespace sim
