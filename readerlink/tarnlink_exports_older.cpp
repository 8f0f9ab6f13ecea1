// The older exported functions: ports with full line settings, node polling,
// the bus listener and the two modems. Byte-sized arguments come masked.
#include <cstdint>

#include "readerlink/tarnlink.h"
#include "readerlink/tarnlink_app.h"

using tarnlink::TheApp;

extern "C" {

int TARNLINK_CALL InitPort(unsigned char port, int baud, unsigned char parity, unsigned char dataBits,
                           unsigned char stopBits)
{
    return TheApp().InitPortWithLine(port, static_cast<uint32_t>(baud), parity, dataBits, stopBits);
}

int TARNLINK_CALL ClosePort(unsigned char port)
{
    TheApp().ClosePort(port);
    return port;
}

int TARNLINK_CALL TARN_Polling(int port, int node, const unsigned char* data, int len, unsigned char* out)
{
    return TheApp().Poll(port, node & 0xFF, data, len, out, true);
}

int TARNLINK_CALL PollingTarn(unsigned char port, unsigned char node, const unsigned char* data, unsigned char len,
                              unsigned char* out)
{
    return TheApp().Poll(port, node, data, len, out, false);
}

int TARNLINK_CALL ListenPollTarn(int port, int baud, unsigned char parity, unsigned char dataBits,
                                 unsigned char stopBits, short lineMode, short protocol)
{
    return TheApp().ListenPoll(port, static_cast<uint32_t>(baud), parity, dataBits, stopBits, lineMode, protocol);
}

int TARNLINK_CALL listPollingTarn(unsigned char port, int /*node*/, const unsigned char* data, unsigned char len,
                                  unsigned char* out)
{
    return TheApp().ListenPolling(port, data, len, out);
}

int TARNLINK_CALL TARN200LIB_STD_Write(unsigned char port, unsigned short /*unused*/, const char* count,
                                       const char* trailer, const unsigned char* data, unsigned char len,
                                       unsigned char* out)
{
    return TheApp().TextWrite(port, count, trailer, data, len, out);
}

int TARNLINK_CALL TARN200LIB_Polling(int port, int kind, const unsigned char* data, int len, unsigned char* out)
{
    return TheApp().TextPoll(port, kind, data, len, out);
}

int TARNLINK_CALL TARN_SendData2Modem(int port, const unsigned char* data, int len, int timeoutMs,
                                      unsigned char* out)
{
    return TheApp().ModemSend(port, data, len, static_cast<uint32_t>(timeoutMs < 0 ? 0 : timeoutMs), out);
}

int TARNLINK_CALL TARN_ModemCommand(int port, const unsigned char* data, int len, unsigned char* out, int waitMs)
{
    return TheApp().ModemCommand(port, data, len, out, static_cast<uint32_t>(waitMs < 0 ? 0 : waitMs));
}

int TARNLINK_CALL TARN_ListenModemENQ(int port, unsigned char byte, int timeoutMs)
{
    return TheApp().ModemWaitForByte(port, byte, static_cast<uint32_t>(timeoutMs < 0 ? 0 : timeoutMs));
}

}  // extern "C"
