#include "readerlink/node_frame.h"

#include <cstring>

#include "readerlink/error_codes.h"
#include "readerlink/reader_frame.h"

namespace tarnlink {

int BuildNodeFrame(uint8_t node, const uint8_t* data, int n, uint8_t* frame, int capacity)
{
    if (n < 0 || n > kMaxNodeData || n + 4 > capacity) return -1;
    frame[0] = kStx;
    frame[1] = node;
    frame[2] = static_cast<uint8_t>(n + 1);
    if (n > 0) std::memcpy(frame + 3, data, static_cast<size_t>(n));
    frame[3 + n] = CDevLib::CalcBcc(frame + 2, n + 1);
    return n + 4;
}

int BuildBusFrame(uint8_t node, const uint8_t* data, int n, uint8_t* frame, int capacity)
{
    if (n < 0 || n > kMaxNodeData || n + 5 > capacity) return -1;
    frame[0] = kStx;
    frame[1] = static_cast<uint8_t>(n + 1);
    frame[2] = node;
    if (n > 0) std::memcpy(frame + 3, data, static_cast<size_t>(n));
    // LEN bytes from offset 1: LEN, NODE and the data but its last byte.
    frame[3 + n] = CDevLib::CalcBcc(frame + 1, n + 1);
    frame[4 + n] = kEtx;
    return n + 5;
}

int NodeReplyReceiver::Feed(uint8_t byte)
{
    const int at = m_position++;
    if (at == 0) {
        m_reply[0] = byte;
        return byte == kStx ? kIncomplete : kErrNoStx;
    }
    if (at == 1) {
        m_reply[1] = byte;
        return byte == m_node ? kIncomplete : kErrNodeDiffers;
    }
    if (at == 2) {
        m_reply[2] = byte;
        return byte == 0 ? kErrNoStatus : kIncomplete;
    }
    const int length = m_reply[2];
    if (at <= length + 1) {
        m_reply[at] = byte;
        return kIncomplete;
    }
    return byte == CDevLib::CalcBcc(m_reply + 2, length) ? length - 1 : kErrCheck;
}

int BusReplyReceiver::Feed(uint8_t byte)
{
    const int at = m_position++;
    m_reply[at] = byte;  // a frame is at most 259 bytes
    if (at == 0) return byte == kStx ? kIncomplete : kErrNoStx;
    if (at == 1) return byte == 0 ? kErrNoStatus : kIncomplete;
    if (at == 2) return byte == m_node ? kIncomplete : kErrNodeDiffers;
    const int length = m_reply[1];
    if (at <= length + 1) return kIncomplete;
    if (at == length + 2) return byte == CDevLib::CalcBcc(m_reply + 1, length) ? kIncomplete : kErrCheck;
    return byte == kEtx ? length - 1 : kErrListenNoEtx;
}

}  // namespace tarnlink
