// CDevLibReader: protocol type 11, the card reader. Over a serial port (1 to 99)
// a request goes in an STX frame and the reply is received a byte at a time;
// over USB (100 on) the request goes with its length prefix in one write and the
// reply comes in one read.
#pragma once

#include <cstdint>

#include "readerlink/dev_lib.h"

namespace tarnlink {

class CDevLibReader : public CDevLib {
public:
    static constexpr uint32_t kReceiveLimitMs = 10000;  // serial reply, from the start of the receive
    static constexpr uint32_t kPollPauseMs = 30;        // pause after a poll that found nothing
    static constexpr uint32_t kUsbReplyLimitMs = 10000; // USB reply
    static constexpr int kUsbReplyCapacity = 300;       // one USB read
    static constexpr int kFirstUsbPort = 100;
    static constexpr int kUsbInterfaceScan = 100;       // interface indexes looked at

    using CDevLib::CDevLib;

    // The exchanges answer kReplyTaken with the reply's data count in
    // m_nRespLen, or an error.
    int Receive() override;
    // Serial: drop queued input, write the built frame, receive the reply.
    int SendFrame(int node) override;
    // Frames the request and runs the serial or USB exchange; node is ignored.
    int Exchange(int node) override;
    // As Exchange; on a serial line the two bytes at request indexes
    // m_nReqLen + 1 and m_nReqLen + 2 follow the BCC. USB drops them.
    int ExchangeWithTail(int node) override;
    int OpenPort() override { return OpenSerialPort(); }
    // Opens the (port - 99)-th reader interface that can be opened: the port
    // number, or 1 when there is none.
    int OpenUsbPort() override;

    int UsbWriteRead();
    int UsbRead();

private:
    int ExchangeFramed(bool withTail);
};

}  // namespace tarnlink
