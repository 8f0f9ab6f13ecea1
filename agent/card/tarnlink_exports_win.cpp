#include "agent/card/tarnlink_exports_win.h"

#include "readerlink/tarnlink.h"

namespace card {

int32_t CTarnlinkExports::InitPort(int32_t port, int32_t baud)
{
    return TARN_InitPort(port, baud);
}

int32_t CTarnlinkExports::ClosePort(int32_t port)
{
    return TARN_ClosePort(port);
}

int32_t CTarnlinkExports::IcPowerOn(int32_t port, int32_t* outLength, uint8_t* atr)
{
    return TARN_IC_PowerOn(port, outLength, atr);
}

int32_t CTarnlinkExports::IcCase1(int32_t port, int32_t length, const uint8_t* data, int32_t* outLength, uint8_t* out)
{
    return TARN_IC_Case1(port, length, data, outLength, out);
}

int32_t CTarnlinkExports::IcCase2(int32_t port, int32_t length, const uint8_t* data, int32_t* outLength, uint8_t* out)
{
    return TARN_IC_Case2(port, length, data, outLength, out);
}

int32_t CTarnlinkExports::IcCase3(int32_t port, int32_t length, const uint8_t* data, int32_t* outLength, uint8_t* out)
{
    return TARN_IC_Case3(port, length, data, outLength, out);
}

int32_t CTarnlinkExports::AbmTransparent(int32_t port, int32_t command, int32_t length, const uint8_t* data,
                                         int32_t* outLength, uint8_t* out)
{
    return TARN_ABM_Transparent(port, command, length, data, outLength, out);
}

}  // namespace card
