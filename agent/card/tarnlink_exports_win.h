// The reader link library's real exports behind the agent's reader-library face.
#pragma once

#include "agent/card/reader_library.h"

namespace card {

class CTarnlinkExports : public IReaderLibrary {
public:
    int32_t InitPort(int32_t port, int32_t baud) override;
    int32_t ClosePort(int32_t port) override;
    int32_t IcPowerOn(int32_t port, int32_t* outLength, uint8_t* atr) override;
    int32_t IcCase1(int32_t port, int32_t length, const uint8_t* data, int32_t* outLength, uint8_t* out) override;
    int32_t IcCase2(int32_t port, int32_t length, const uint8_t* data, int32_t* outLength, uint8_t* out) override;
    int32_t IcCase3(int32_t port, int32_t length, const uint8_t* data, int32_t* outLength, uint8_t* out) override;
    int32_t AbmTransparent(int32_t port, int32_t command, int32_t length, const uint8_t* data, int32_t* outLength,
                           uint8_t* out) override;
};

}  // namespace card
