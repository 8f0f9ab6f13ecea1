// The exported functions: each names its reader command and hands the call to
// the library's application object.
#include "readerlink/tarnlink.h"

#include <cstdint>

#include "readerlink/tarnlink_app.h"

using tarnlink::TheApp;

namespace {

constexpr uint8_t kPowerOn = 0xC0;
constexpr uint8_t kIcCase1 = 0xC1;
constexpr uint8_t kIcCase2 = 0xC2;
constexpr uint8_t kIcCase3 = 0xC3;
constexpr uint8_t kTypeATransparent = 0x41;
constexpr uint8_t kTypeATransparentCrc = 0x47;
constexpr uint8_t kTypeBTransparent = 0x60;
constexpr uint8_t kTypeBSet = 0x62;
constexpr uint8_t kTypeBTransparentCrc = 0x6E;

int Transparent(int port, uint8_t command, int len, const unsigned char* data, int* outLen, unsigned char* out)
{
    return TheApp().ReaderCommand(port, command, data, len, outLen, out);
}

}  // namespace

extern "C" {

int TARNLINK_CALL TARN_InitPort(int port, int baud)
{
    return TheApp().InitPort(port, baud);
}

int TARNLINK_CALL TARN_ClosePort(int port)
{
    return TheApp().ClosePort(port);
}

int TARNLINK_CALL TARN_IC_PowerOn(int port, int* outLen, unsigned char* atr)
{
    const uint8_t parameter = 0x00;
    return TheApp().ReaderCommand(port, kPowerOn, &parameter, 1, outLen, atr);
}

int TARNLINK_CALL TARN_IC_Case1(int port, int len, const unsigned char* data, int* outLen, unsigned char* out)
{
    return Transparent(port, kIcCase1, len, data, outLen, out);
}

int TARNLINK_CALL TARN_IC_Case2(int port, int len, const unsigned char* data, int* outLen, unsigned char* out)
{
    return Transparent(port, kIcCase2, len, data, outLen, out);
}

int TARNLINK_CALL TARN_IC_Case3(int port, int len, const unsigned char* data, int* outLen, unsigned char* out)
{
    return Transparent(port, kIcCase3, len, data, outLen, out);
}

int TARNLINK_CALL TARN_ABM_Transparent(int port, int command, int len, const unsigned char* data, int* outLen,
                                       unsigned char* out)
{
    return Transparent(port, static_cast<uint8_t>(command & 0xFF), len, data, outLen, out);
}

int TARNLINK_CALL TARN_AM_Transparent(int port, int len, const unsigned char* data, int* outLen, unsigned char* out)
{
    return Transparent(port, kTypeATransparent, len, data, outLen, out);
}

int TARNLINK_CALL TARN_AM_TransparentCRC(int port, int len, const unsigned char* data, int* outLen,
                                         unsigned char* out)
{
    return Transparent(port, kTypeATransparentCrc, len, data, outLen, out);
}

int TARNLINK_CALL TARN_BM_Transparent(int port, int len, const unsigned char* data, int* outLen, unsigned char* out)
{
    return Transparent(port, kTypeBTransparent, len, data, outLen, out);
}

int TARNLINK_CALL TARN_BM_TransparentCRC(int port, int len, const unsigned char* data, int* outLen,
                                         unsigned char* out)
{
    return Transparent(port, kTypeBTransparentCrc, len, data, outLen, out);
}

int TARNLINK_CALL TARN_BM_Transparent_Test(int port, int len, const unsigned char* data, int* outLen,
                                           unsigned char* out, unsigned char tail1, unsigned char tail2)
{
    const uint8_t tail[2] = {tail1, tail2};
    return TheApp().ReaderCommand(port, kTypeBTransparent, data, len, outLen, out, tail);
}

int TARNLINK_CALL TARN_BM_Transparent_Set(int port, int value, int* outLen, unsigned char* out)
{
    const uint8_t bytes[2] = {static_cast<uint8_t>(value & 0xFF), static_cast<uint8_t>((value >> 8) & 0xFF)};
    return TheApp().ReaderCommand(port, kTypeBSet, bytes, 2, outLen, out);
}

}  // extern "C"
