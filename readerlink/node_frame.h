// Frames of the node-addressed protocols.
//
// Types 0 and 7: STX 02, NODE, LEN (data count + 1), data, BCC (XOR of LEN and
// the data). Type 1, the two-wire bus: STX 02, LEN, NODE, data, BCC (XOR of
// LEN, NODE and every data byte but the last), ETX 03. In a reply the first
// data byte is the station's status.
#pragma once

#include <cstdint>

#include "readerlink/dev_lib.h"

namespace tarnlink {

constexpr int kMaxNodeData = 254;  // LEN = data count + 1 must fit a byte
constexpr uint8_t kEtx = 0x03;

// The frame length, or -1 when the data do not fit a frame or `capacity`.
int BuildNodeFrame(uint8_t node, const uint8_t* data, int n, uint8_t* frame, int capacity);
int BuildBusFrame(uint8_t node, const uint8_t* data, int n, uint8_t* frame, int capacity);

// Takes a type-0/7 reply frame into the reply buffer (each byte at its frame
// index; the BCC is not stored). Outcome: the data count (LEN - 1), 1027 no
// STX, 1255 another node, 1034 a LEN of 0, 1028 wrong BCC.
class NodeReplyReceiver : public IByteReceiver {
public:
    NodeReplyReceiver(uint8_t* reply, uint8_t node) : m_reply(reply), m_node(node) {}
    int Feed(uint8_t byte) override;

private:
    uint8_t* m_reply;
    uint8_t m_node;
    int m_position = 0;
};

// Takes a type-1 frame whole (BCC and ETX too, so that it can be echoed) into
// the reply buffer. Outcome: the data count (LEN - 1), 1027 no STX, 1034 a LEN
// of 0, 1255 another node, 1028 wrong BCC, 1256 no ETX.
class BusReplyReceiver : public IByteReceiver {
public:
    BusReplyReceiver(uint8_t* reply, uint8_t node) : m_reply(reply), m_node(node) {}
    int Feed(uint8_t byte) override;
    // Bytes of the frame as it came (STX to ETX), once complete.
    int FrameLength() const { return m_position; }

private:
    uint8_t* m_reply;
    uint8_t m_node;
    int m_position = 0;
};

}  // namespace tarnlink
