// Frames of the framed modem (protocol type 10).
//
// Request: STX 02, the request bytes (identifier 1 in its first 10 bytes,
// identifier 2 in the next 10), ETX 03, CRC high, CRC low; the CRC is
// CRC-16/ARC over STX and the request bytes. Reply: STX, ID1 (10), ID2 (10),
// LEN as four ASCII digits, LEN data bytes, ETX, CRC high, CRC low over STX to
// the last data byte.
#pragma once

#include <cstdint>

#include "readerlink/dev_lib.h"

namespace tarnlink {

constexpr int kModemIdLength = 10;

// CRC-16/ARC (reflected polynomial 0xA001, initial 0, no final XOR).
uint16_t Crc16(const uint8_t* bytes, int n);
// The frame length, or -1 when it would not fit `capacity`.
int BuildModemFrame(const uint8_t* request, int n, uint8_t* frame, int capacity);

// Takes a reply into the reply buffer, each byte at its frame index; bytes
// ahead of the STX are dropped. LEN weighs its four characters 1000, 100, 10
// and 1 by their codes less '0' (":" counts 10). Outcome: LEN + 24
// (identifiers, digits and data), 1025/1026 another identifier, 1036 a LEN
// below zero, 1033 a LEN the buffer cannot hold, 1029 no ETX, 1028 wrong CRC.
class ModemReplyReceiver : public IByteReceiver {
public:
    // `id2` starting with a space accepts any second identifier.
    ModemReplyReceiver(uint8_t* reply, int capacity, const uint8_t* id1, const uint8_t* id2)
        : m_reply(reply), m_capacity(capacity), m_id1(id1), m_id2(id2) {}
    int Feed(uint8_t byte) override;
    int DataLength() const { return m_length; }

private:
    uint8_t* m_reply;
    int m_capacity;
    const uint8_t* m_id1;
    const uint8_t* m_id2;
    int m_position = 0;
    int m_length = 0;
};

}  // namespace tarnlink
