// CDevLibText: protocol type 3, the text modem station at address "60". A
// request of a given kind, or the block transfer: a header line and then the
// data in acknowledged blocks of 8 characters.
#pragma once

#include <cstdint>
#include <string>

#include "readerlink/dev_lib.h"

namespace tarnlink {

class CDevLibText : public CDevLib {
public:
    static constexpr uint32_t kReplyLimitMs = 300;
    static constexpr uint32_t kSettleMs = 10;  // before the reply is looked for
    static constexpr int kBlockSize = 8;
    static constexpr const char* kAddress = "60";
    static constexpr const char* kAcknowledged = "600100";

    using CDevLib::CDevLib;

    // Kind 0: "6002" and the request bytes as characters; 1: "6001DB"; 2:
    // "6007"; any other an empty line. Result as Receive.
    int Exchange(int kind) override;
    // Announces ("Call"), sends the frame held in the frame buffer, receives.
    int SendFrame(int kind) override;
    int OpenPort() override { return OpenSerialPort(); }
    // The block transfer of the padded request (m_nReqLen a multiple of 8):
    // `count` is the first block number written in hexadecimal ("%X"), used
    // when `flag` is set; `trailer` ends the header and every block. The
    // result of the last frame sent.
    int SendText(const char* count, int flag, const char* trailer) override;
    // A text reply: a length, pair 1, or 5000 to 5013.
    int Receive() override;

    // Characters of the last reply (up to its ETX) in the reply buffer.
    int LastReplyLength() const { return static_cast<int>(m_lastReply.size()); }
    // Frames and sends one line: the result of its reply.
    int SendLine(const std::string& line);

private:
    int SendBlocks(int first, int blocks, const std::string& trailer);
    bool LastReplyAcknowledged(int result) const;
    std::string m_lastReply;  // text of the last reply, up to ETX
};

}  // namespace tarnlink
