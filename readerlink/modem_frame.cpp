#include "readerlink/modem_frame.h"

#include <cstring>

#include "readerlink/error_codes.h"
#include "readerlink/node_frame.h"
#include "readerlink/reader_frame.h"

namespace tarnlink {

namespace {

struct Crc16Table {
    uint16_t entries[256];
    Crc16Table()
    {
        for (int i = 0; i < 256; ++i) {
            uint16_t crc = static_cast<uint16_t>(i);
            for (int bit = 0; bit < 8; ++bit) crc = (crc & 1) ? static_cast<uint16_t>((crc >> 1) ^ 0xA001) : crc >> 1;
            entries[i] = crc;
        }
    }
};

const Crc16Table kCrcTable;

}  // namespace

uint16_t Crc16(const uint8_t* bytes, int n)
{
    uint16_t crc = 0;
    for (int i = 0; i < n; ++i) crc = static_cast<uint16_t>((crc >> 8) ^ kCrcTable.entries[(crc ^ bytes[i]) & 0xFF]);
    return crc;
}

int BuildModemFrame(const uint8_t* request, int n, uint8_t* frame, int capacity)
{
    if (n < 0 || n + 4 > capacity) return -1;
    frame[0] = kStx;
    if (n > 0) std::memcpy(frame + 1, request, static_cast<size_t>(n));
    const uint16_t crc = Crc16(frame, n + 1);
    frame[n + 1] = kEtx;
    frame[n + 2] = static_cast<uint8_t>(crc >> 8);
    frame[n + 3] = static_cast<uint8_t>(crc & 0xFF);
    return n + 4;
}

int ModemReplyReceiver::Feed(uint8_t byte)
{
    if (m_position == 0 && byte != kStx) return kIncomplete;  // noise ahead of the frame
    const int at = m_position++;
    if (at >= m_capacity) return kErrReplyTooLong;  // a buffer shorter than the frame's head
    m_reply[at] = byte;
    if (at == kModemIdLength && std::memcmp(m_reply + 1, m_id1, 4) != 0) return kErrModemId1;
    if (at == 2 * kModemIdLength && m_id2[0] != ' ' &&
        std::memcmp(m_reply + 1 + kModemIdLength, m_id2, kModemIdLength) != 0)
        return kErrModemId2;
    if (at == 24) {
        // Each character weighs its code less '0', digit or not. A length below
        // zero would put the ETX at a position already passed, and one beyond
        // the buffer its data past it: neither is waited for.
        m_length = 0;
        for (int i = 21; i <= 24; ++i) m_length = m_length * 10 + (m_reply[i] - '0');
        if (m_length < 0) return kErrBadLength;
        if (m_length + 28 > m_capacity) return kErrReplyTooLong;
    }
    if (at < 25) return kIncomplete;
    if (at == m_length + 25 && byte != kEtx) return kErrModemNoEtx;
    if (at < m_length + 27) return kIncomplete;
    const uint16_t crc = Crc16(m_reply, m_length + 25);
    const bool right = m_reply[m_length + 26] == (crc >> 8) && m_reply[m_length + 27] == (crc & 0xFF);
    return right ? m_length + 24 : kErrCheck;
}

}  // namespace tarnlink
