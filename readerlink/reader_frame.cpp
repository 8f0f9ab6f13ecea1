#include "readerlink/reader_frame.h"

#include <cstring>

#include "readerlink/dev_lib.h"
#include "readerlink/error_codes.h"

namespace tarnlink {

int BuildSerialFrame(const uint8_t* request, int n, const uint8_t* tail, uint8_t* frame, int capacity)
{
    const int length = n + 4 + (tail ? 2 : 0);
    if (n < 0 || n > 0xFFFF || length > capacity) return -1;
    frame[0] = kStx;
    frame[1] = static_cast<uint8_t>(n / 256);
    frame[2] = static_cast<uint8_t>(n % 256);
    if (n > 0) std::memcpy(frame + 3, request, static_cast<size_t>(n));
    frame[3 + n] = CDevLib::CalcBcc(frame + 1, n + 2);
    if (tail) {
        frame[4 + n] = tail[0];
        frame[5 + n] = tail[1];
    }
    return length;
}

int BuildUsbFrame(const uint8_t* request, int n, uint8_t* frame, int capacity)
{
    if (n < 0 || n > 0xFFFF || n + 2 > capacity) return -1;
    frame[0] = static_cast<uint8_t>(n / 256);
    frame[1] = static_cast<uint8_t>(n % 256);
    if (n > 0) std::memcpy(frame + 2, request, static_cast<size_t>(n));
    return n + 2;
}

int SerialReplyReceiver::Feed(uint8_t byte)
{
    const int at = m_position++;
    if (at == 0) {
        if (byte != kStx) return kErrNoStx;
        m_reply[0] = byte;
        return kIncomplete;
    }
    if (at == 1) {
        m_reply[1] = byte;
        return kIncomplete;
    }
    if (at == 2) {
        m_reply[2] = byte;
        m_length = m_reply[1] * 256 + m_reply[2];
        if (m_length > MaxDataLength()) return kErrReplyTooLong;
        return kIncomplete;
    }
    if (at < m_length + 3) {
        m_reply[at] = byte;
        return kIncomplete;
    }
    return byte == CDevLib::CalcBcc(m_reply + 1, m_length + 2) ? kReplyTaken : kErrCheck;
}

}  // namespace tarnlink
