// The reader's frames (protocol type 11).
//
// Serial request and reply: STX 02, LENH, LENL, LEN data bytes, BCC (XOR of
// LENH, LENL and the data); a request may carry two tail bytes after the BCC,
// outside LEN and BCC. USB request: LENH, LENL, data. In a reply the first data
// byte is the reader's status (0 done).
#pragma once

#include <cstdint>

namespace tarnlink {

constexpr uint8_t kStx = 0x02;

// Frames `n` request bytes for a serial line into `frame` (room for `capacity`
// bytes), followed by the two `tail` bytes when `tail` is not null. The frame
// length, or -1 when it would not fit.
int BuildSerialFrame(const uint8_t* request, int n, const uint8_t* tail, uint8_t* frame, int capacity);
// The USB form: the length prefix and the request bytes. The frame length, or -1.
int BuildUsbFrame(const uint8_t* request, int n, uint8_t* frame, int capacity);

// Takes one serial reply frame a byte at a time and stores it at the same index
// of the reply buffer (STX at 0, LENH, LENL, then the data from 3); the BCC is
// not stored. No byte is ever stored outside the buffer: a LEN the buffer cannot
// hold ends the frame at once.
class SerialReplyReceiver {
public:
    static constexpr int kIncomplete = -1;

    SerialReplyReceiver(uint8_t* reply, int capacity) : m_reply(reply), m_capacity(capacity) {}

    // kIncomplete while the frame goes on; then the outcome: kReplyTaken for a
    // good frame (its LEN in DataLength()), 1027 no STX, 1028 wrong BCC, 1033
    // LEN too long for the buffer.
    int Feed(uint8_t byte);
    int DataLength() const { return m_length; }
    int position() const { return m_position; }
    // The largest LEN the buffer takes (the whole frame, BCC included, fits).
    int MaxDataLength() const { return m_capacity - 4; }

private:
    uint8_t* m_reply;
    int m_capacity;
    int m_position = 0;
    int m_length = 0;
};

}  // namespace tarnlink
