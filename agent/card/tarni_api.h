// The exports of the reader link library (Tarnlink.dll) that the agent calls.
// Ports and lengths are signed 32-bit; buffers belong to the caller and hold the
// longest reply (2043 bytes); an output length is written only when the reader
// answered with success (result 0). The library's functions are stdcall.
#pragma once

#if defined(_WIN32)
#define TARN_CALL __stdcall
#else
#define TARN_CALL
#endif

extern "C" {

// Opens `port` (1-99 serial "COM%d", 100 and above the USB readers in order):
// the port number when it opened, anything else when it did not.
int TARN_CALL TARN_InitPort(int port, int baud);
int TARN_CALL TARN_ClosePort(int port);
// Powers a contact card: 0 with the answer to reset in `atr`.
int TARN_CALL TARN_IC_PowerOn(int port, int* outLength, unsigned char* atr);
// Contact-card command cases 1, 2 and 3: 0 with the card's reply (data and SW1 SW2).
int TARN_CALL TARN_IC_Case1(int port, int length, const unsigned char* data, int* outLength, unsigned char* out);
int TARN_CALL TARN_IC_Case2(int port, int length, const unsigned char* data, int* outLength, unsigned char* out);
int TARN_CALL TARN_IC_Case3(int port, int length, const unsigned char* data, int* outLength, unsigned char* out);
// Passes `data` to the reader behind the reader command `command`.
int TARN_CALL TARN_ABM_Transparent(int port, int command, int length, const unsigned char* data,
                                   int* outLength, unsigned char* out);

}  // extern "C"
