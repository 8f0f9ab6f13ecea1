// The agent's face of the reader link library: the exports it calls, one virtual
// per export with the export's own arguments and results. The program binds the
// library's real exports behind it (tarnlink_exports_win.cpp); tests put a
// simulated reader and card there.
#pragma once

#include <cstdint>

namespace card {

class IReaderLibrary {
public:
    virtual ~IReaderLibrary() = default;

    virtual int32_t InitPort(int32_t port, int32_t baud) = 0;
    virtual int32_t ClosePort(int32_t port) = 0;
    virtual int32_t IcPowerOn(int32_t port, int32_t* outLength, uint8_t* atr) = 0;
    virtual int32_t IcCase1(int32_t port, int32_t length, const uint8_t* data, int32_t* outLength, uint8_t* out) = 0;
    virtual int32_t IcCase2(int32_t port, int32_t length, const uint8_t* data, int32_t* outLength, uint8_t* out) = 0;
    virtual int32_t IcCase3(int32_t port, int32_t length, const uint8_t* data, int32_t* outLength, uint8_t* out) = 0;
    virtual int32_t AbmTransparent(int32_t port, int32_t command, int32_t length, const uint8_t* data,
                                   int32_t* outLength, uint8_t* out) = 0;
};

// The most a library call writes to an output buffer: the reader's reply frame
// holds at most 2048 bytes, of which the length prefix and the status byte are
// not copied. Every output buffer given to the library holds this many bytes.
constexpr int32_t kReaderReplyCapacity = 2048;

}  // namespace card
