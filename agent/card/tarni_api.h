// The exports of the reader link library (Tarnlink.dll) that the agent calls.
// Ports and lengths are signed 32-bit; buffers belong to the caller; an output
// length is written only when the reader answered with success (result 0).
#pragma once

#include <cstdint>

#if defined(_WIN32) && !defined(_WIN64)
#define TARN_CALL __stdcall
#else
#define TARN_CALL
#endif

extern "C" {

// Opens `port` (1-99 serial "COM%d", 100 and above the USB readers in order):
// the port number when it opened, anything else when it did not.
int32_t TARN_CALL TARN_InitPort(int32_t port, int32_t baud);
int32_t TARN_CALL TARN_ClosePort(int32_t port);
// Powers a contact card: 0 with the answer to reset in `atr`.
int32_t TARN_CALL TARN_IC_PowerOn(int32_t port, int32_t* outLength, uint8_t* atr);
// Contact-card command cases 1, 2 and 3: 0 with the card's reply (data and SW1 SW2).
int32_t TARN_CALL TARN_IC_Case1(int32_t port, int32_t length, uint8_t* data, int32_t* outLength, uint8_t* out);
int32_t TARN_CALL TARN_IC_Case2(int32_t port, int32_t length, uint8_t* data, int32_t* outLength, uint8_t* out);
int32_t TARN_CALL TARN_IC_Case3(int32_t port, int32_t length, uint8_t* data, int32_t* outLength, uint8_t* out);
// Passes `data` to the reader behind the reader command `command`.
int32_t TARN_CALL TARN_ABM_Transparent(int32_t port, int32_t command, int32_t length, uint8_t* data,
                                       int32_t* outLength, uint8_t* out);

}  // extern "C"
