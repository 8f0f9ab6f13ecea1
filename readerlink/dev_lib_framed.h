// CDevLibFramed: protocol type 10, a station behind a modem that answers
// CRC-protected frames naming the request's two identifiers; also a raw
// command (write, wait, read what came) and a wait for one given byte.
#pragma once

#include <cstdint>

#include "readerlink/dev_lib.h"
#include "readerlink/modem_frame.h"

namespace tarnlink {

class CDevLibFramed : public CDevLib {
public:
    static constexpr int kRawReplyCapacity = 1024;

    explicit CDevLibFramed(IReaderPlatform& platform);

    // Frames the request, sends it and receives the reply within `timeoutMs`:
    // LEN + 24 (the reply from its index 1), or an error.
    int ModemExchange(uint32_t timeoutMs) override;
    // Writes the request as it is, sleeps `waitMs`, then one read of up to 1024
    // bytes into the reply from index 0: the count, or -1.
    int RawCommand(uint32_t waitMs) override;
    // 1 as soon as `byte` comes (other bytes are dropped); 0 after `timeoutMs`.
    int WaitForByte(uint8_t byte, uint32_t timeoutMs) override;
    int OpenPort() override { return OpenSerialPort(); }

    int ReceiveModemFrame(uint32_t timeoutMs);

    int m_nModemDataLen = 0;
    uint8_t m_Id2[kModemIdLength];
    uint8_t m_Id1[kModemIdLength];
};

}  // namespace tarnlink
