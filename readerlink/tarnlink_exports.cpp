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

// ---- RF field, buzzer, version and type A cards: one command byte and a
// fixed number of the caller's parameter bytes.

namespace {

// Status shape: the status, nothing copied.
int Command(int port, uint8_t command, const unsigned char* p = nullptr, int count = 0)
{
    return TheApp().ReaderCommand(port, command, p, count, nullptr, nullptr);
}

// Payload shape: status 0 copies the payload to out.
int Fetch(int port, uint8_t command, const unsigned char* p, int count, unsigned char* out)
{
    return TheApp().ReaderCommand(port, command, p, count, nullptr, out);
}

constexpr int kMaxE2Data = 255;

}  // namespace

extern "C" {

int TARNLINK_CALL TARN_ABM_RF_On(int port) { return Command(port, 0x10); }
int TARNLINK_CALL TARN_ABM_RF_Off(int port) { return Command(port, 0x11); }
int TARNLINK_CALL TARN_ABM_RF_Reset(int port) { return Command(port, 0x12); }

int TARNLINK_CALL TARN_ABM_BuzzerON(int port)
{
    const uint8_t on = 0x00;
    return Command(port, 0x13, &on, 1);
}

int TARNLINK_CALL TARN_ABM_BuzzerOFF(int port)
{
    const uint8_t off = 0x01;
    return Command(port, 0x13, &off, 1);
}

int TARNLINK_CALL TARN_ABM_RF_Version(int port, unsigned char* out) { return TheApp().ReaderVersion(port, 0x16, out); }
int TARNLINK_CALL TARN_AM_Reset(int port, const unsigned char* p) { return Command(port, 0x20, p, 2); }
int TARNLINK_CALL TARN_AM_Idle_Req(int port, unsigned char* out) { return Fetch(port, 0x21, nullptr, 0, out); }
int TARNLINK_CALL TARN_AM_Wakeup_Req(int port, unsigned char* out) { return Fetch(port, 0x22, nullptr, 0, out); }
int TARNLINK_CALL TARN_AM_Anticoll(int port, const unsigned char* p, unsigned char* out) { return Fetch(port, 0x23, p, 1, out); }
int TARNLINK_CALL TARN_AM_Select(int port, const unsigned char* p, unsigned char* out) { return Fetch(port, 0x24, p, 4, out); }
int TARNLINK_CALL TARN_AM_Auth(int port, const unsigned char* p) { return Command(port, 0x25, p, 3); }
int TARNLINK_CALL TARN_AM_Halt(int port) { return Command(port, 0x26); }
int TARNLINK_CALL TARN_AM_Read(int port, const unsigned char* p, unsigned char* out) { return Fetch(port, 0x27, p, 1, out); }
int TARNLINK_CALL TARN_AM_Write(int port, const unsigned char* p) { return Command(port, 0x28, p, 17); }
int TARNLINK_CALL TARN_AM_Increment(int port, const unsigned char* p) { return Command(port, 0x29, p, 5); }
int TARNLINK_CALL TARN_AM_Decrement(int port, const unsigned char* p) { return Command(port, 0x2A, p, 5); }
int TARNLINK_CALL TARN_AM_Inc_Transfer(int port, const unsigned char* p) { return Command(port, 0x2B, p, 6); }
int TARNLINK_CALL TARN_AM_Dec_Transfer(int port, const unsigned char* p) { return Command(port, 0x2C, p, 6); }
int TARNLINK_CALL TARN_AM_Restore(int port, const unsigned char* p) { return Command(port, 0x2D, p, 1); }
int TARNLINK_CALL TARN_AM_Transfer(int port, const unsigned char* p) { return Command(port, 0x2E, p, 1); }
int TARNLINK_CALL TARN_AM_Loadkey(int port, const unsigned char* p) { return Command(port, 0x2F, p, 8); }
int TARNLINK_CALL TARN_AM_Authkey(int port, const unsigned char* p) { return Command(port, 0x30, p, 8); }
int TARNLINK_CALL TARN_AM_Req_Auth(int port, const unsigned char* p, unsigned char* out) { return Fetch(port, 0x31, p, 4, out); }
int TARNLINK_CALL TARN_AM_Req_Authkey(int port, const unsigned char* p, unsigned char* out) { return Fetch(port, 0x32, p, 9, out); }
int TARNLINK_CALL TARN_AM_Inc_Transfer2(int port, const unsigned char* p) { return Command(port, 0x33, p, 6); }
int TARNLINK_CALL TARN_AM_Dec_Transfer2(int port, const unsigned char* p) { return Command(port, 0x34, p, 6); }
int TARNLINK_CALL TARN_AM_Req_Read(int port, const unsigned char* p, unsigned char* out) { return Fetch(port, 0x35, p, 4, out); }
int TARNLINK_CALL TARN_AM_Req_Readkey(int port, const unsigned char* p, unsigned char* out) { return Fetch(port, 0x36, p, 9, out); }
int TARNLINK_CALL TARN_AM_Read_Credit(int port, const unsigned char* p, unsigned char* out) { return Fetch(port, 0x37, p ? p + 1 : nullptr, 1, out); }
int TARNLINK_CALL TARN_AM_Read_Royalty(int port, const unsigned char* p, unsigned char* out) { return Fetch(port, 0x38, p ? p + 1 : nullptr, 1, out); }
int TARNLINK_CALL TARN_AM_Device_Info(int port, unsigned char* out) { return Fetch(port, 0x40, nullptr, 0, out); }

int TARNLINK_CALL TARN_AM_WriteE2(int port, int len, const unsigned char* data)
{
    return TheApp().ReaderCommand(port, 0x42, data, len, nullptr, nullptr, nullptr, kMaxE2Data);
}

int TARNLINK_CALL TARN_AM_ReadE2(int port, const unsigned char* p, unsigned char* out) { return Fetch(port, 0x43, p, 3, out); }

}  // extern "C"
