/* Tarnlink: the reader link library. Shared by the library and its callers.
 *
 * Every function names a reader port by number: 1 to 99 are the serial ports
 * COM1 to COM99, 100 and above the USB readers in the order they can be opened
 * (100 the first). Results: 0 success; 1 to 255 the reader's status byte; above
 * 1024 a library error (TARNLINK_ERR_...). On any result other than 0 the output
 * buffer and output length are left untouched.
 *
 * Output buffers are the caller's and must hold the largest reply the reader
 * can give to the command: TARNLINK_MAX_REPLY bytes is always enough.
 *
 * Calls on one port take turns; calls on different ports may run at once. */
#ifndef TARNLINK_H
#define TARNLINK_H

#if defined(_WIN32)
#define TARNLINK_CALL __stdcall
#else
#define TARNLINK_CALL
#endif

#define TARNLINK_ERR_NO_STX 1027           /* reply did not begin with STX */
#define TARNLINK_ERR_CHECK 1028            /* wrong block check in the reply */
#define TARNLINK_ERR_TIMEOUT 1030          /* no complete reply in time */
#define TARNLINK_ERR_USB_WRITE 1031        /* USB write failed (also: port closed) */
#define TARNLINK_ERR_USB_READ 1032         /* USB read failed */
#define TARNLINK_ERR_REPLY_TOO_LONG 1033   /* reply longer than the library's buffer */
#define TARNLINK_ERR_NO_STATUS 1034        /* reply without a status byte */
#define TARNLINK_ERR_REQUEST_TOO_LONG 1035 /* data longer than a request can carry */
#define TARNLINK_ERR_BAD_LENGTH 1036       /* length characters of a modem reply give less than 0 */
#define TARNLINK_ERR_NOT_SUPPORTED 1037    /* the port's protocol does not offer the call */
#define TARNLINK_ERR_NO_PORT 1250          /* the port was never initialised */
#define TARNLINK_ERR_NODE 1255             /* the reply came from another node */
#define TARNLINK_ERR_BUS_NO_ETX 1256       /* ETX missing in a bus reply */
/* Text modem: 5000 to 5011 station statuses, 5012 no reply in time, 5013 a
 * station status without a meaning here. */

#define TARNLINK_MAX_DATA 299   /* data bytes a request carries after its command byte */
#define TARNLINK_MAX_REPLY 2043 /* payload bytes a reply can bring */

#ifdef __cplusplus
extern "C" {
#endif

/* Opens (or reopens) a port for the reader protocol. The port number on
 * success; -1 when a serial port cannot be opened; 1 when no USB reader is
 * left to open for the number. */
int TARNLINK_CALL TARN_InitPort(int port, int baud);
/* Closes the port; the record stays for a later TARN_InitPort. 1 closed, -1
 * already closed, 1250 never initialised. */
int TARNLINK_CALL TARN_ClosePort(int port);

/* Contact card: power on (the answer to reset in atr), and the APDU cases. */
int TARNLINK_CALL TARN_IC_PowerOn(int port, int* outLen, unsigned char* atr);
int TARNLINK_CALL TARN_IC_Case1(int port, int len, const unsigned char* data, int* outLen, unsigned char* out);
int TARNLINK_CALL TARN_IC_Case2(int port, int len, const unsigned char* data, int* outLen, unsigned char* out);
int TARNLINK_CALL TARN_IC_Case3(int port, int len, const unsigned char* data, int* outLen, unsigned char* out);

/* Transparent channels: the data goes to the reader behind one command byte. */
int TARNLINK_CALL TARN_ABM_Transparent(int port, int command, int len, const unsigned char* data, int* outLen,
                                       unsigned char* out);
int TARNLINK_CALL TARN_AM_Transparent(int port, int len, const unsigned char* data, int* outLen, unsigned char* out);
int TARNLINK_CALL TARN_AM_TransparentCRC(int port, int len, const unsigned char* data, int* outLen,
                                         unsigned char* out);
int TARNLINK_CALL TARN_BM_Transparent(int port, int len, const unsigned char* data, int* outLen, unsigned char* out);
int TARNLINK_CALL TARN_BM_TransparentCRC(int port, int len, const unsigned char* data, int* outLen,
                                         unsigned char* out);
/* As TARN_BM_Transparent; on a serial line the two tail bytes follow the frame. */
int TARNLINK_CALL TARN_BM_Transparent_Test(int port, int len, const unsigned char* data, int* outLen,
                                           unsigned char* out, unsigned char tail1, unsigned char tail2);
/* Sends the two bytes of value, low byte first. */
int TARNLINK_CALL TARN_BM_Transparent_Set(int port, int value, int* outLen, unsigned char* out);

/* ---- RF field, buzzer, version and type A cards. Parameter bytes are read
 * from p[0] on; out receives the reader's payload (its length is not
 * reported). Results as above. */
int TARNLINK_CALL TARN_ABM_RF_On(int port);
int TARNLINK_CALL TARN_ABM_RF_Off(int port);
int TARNLINK_CALL TARN_ABM_RF_Reset(int port);
int TARNLINK_CALL TARN_ABM_BuzzerON(int port);
int TARNLINK_CALL TARN_ABM_BuzzerOFF(int port);
/* The version text in out whatever the status; the status returned. */
int TARNLINK_CALL TARN_ABM_RF_Version(int port, unsigned char* out);
/* Command 20 with p[0] p[1]. */
int TARNLINK_CALL TARN_AM_Reset(int port, const unsigned char* p);
int TARNLINK_CALL TARN_AM_Idle_Req(int port, unsigned char* out);
int TARNLINK_CALL TARN_AM_Wakeup_Req(int port, unsigned char* out);
int TARNLINK_CALL TARN_AM_Anticoll(int port, const unsigned char* p, unsigned char* out);
int TARNLINK_CALL TARN_AM_Select(int port, const unsigned char* p, unsigned char* out);
int TARNLINK_CALL TARN_AM_Auth(int port, const unsigned char* p);
int TARNLINK_CALL TARN_AM_Halt(int port);
int TARNLINK_CALL TARN_AM_Read(int port, const unsigned char* p, unsigned char* out);
int TARNLINK_CALL TARN_AM_Write(int port, const unsigned char* p);
int TARNLINK_CALL TARN_AM_Increment(int port, const unsigned char* p);
int TARNLINK_CALL TARN_AM_Decrement(int port, const unsigned char* p);
int TARNLINK_CALL TARN_AM_Inc_Transfer(int port, const unsigned char* p);
int TARNLINK_CALL TARN_AM_Dec_Transfer(int port, const unsigned char* p);
int TARNLINK_CALL TARN_AM_Restore(int port, const unsigned char* p);
int TARNLINK_CALL TARN_AM_Transfer(int port, const unsigned char* p);
int TARNLINK_CALL TARN_AM_Loadkey(int port, const unsigned char* p);
int TARNLINK_CALL TARN_AM_Authkey(int port, const unsigned char* p);
int TARNLINK_CALL TARN_AM_Req_Auth(int port, const unsigned char* p, unsigned char* out);
int TARNLINK_CALL TARN_AM_Req_Authkey(int port, const unsigned char* p, unsigned char* out);
int TARNLINK_CALL TARN_AM_Inc_Transfer2(int port, const unsigned char* p);
int TARNLINK_CALL TARN_AM_Dec_Transfer2(int port, const unsigned char* p);
int TARNLINK_CALL TARN_AM_Req_Read(int port, const unsigned char* p, unsigned char* out);
int TARNLINK_CALL TARN_AM_Req_Readkey(int port, const unsigned char* p, unsigned char* out);
/* These two send p[1] (the caller's second byte). */
int TARNLINK_CALL TARN_AM_Read_Credit(int port, const unsigned char* p, unsigned char* out);
int TARNLINK_CALL TARN_AM_Read_Royalty(int port, const unsigned char* p, unsigned char* out);
int TARNLINK_CALL TARN_AM_Device_Info(int port, unsigned char* out);
/* At most 255 data bytes. */
int TARNLINK_CALL TARN_AM_WriteE2(int port, int len, const unsigned char* data);
int TARNLINK_CALL TARN_AM_ReadE2(int port, const unsigned char* p, unsigned char* out);

/* ---- Older ports, polling, the bus listener and the modems. Byte-sized
 * arguments are taken modulo 256. 1250 without a record unless said. */
/* Opens a serial port with its line settings for protocol 0: the port number,
 * 255 on failure. */
int TARNLINK_CALL InitPort(unsigned char port, int baud, unsigned char parity, unsigned char dataBits,
                           unsigned char stopBits);
/* Closes the port when it has a record; answers the port number. */
int TARNLINK_CALL ClosePort(unsigned char port);
/* One request to a node: the reply's data count, status and data in out. On an
 * error TARN_Polling writes 10 zero bytes to out, PollingTarn leaves it. A
 * reader reply of more than 1024 data bytes is answered as an error: its data
 * count. */
int TARNLINK_CALL TARN_Polling(int port, int node, const unsigned char* data, int len, unsigned char* out);
int TARNLINK_CALL PollingTarn(unsigned char port, unsigned char node, const unsigned char* data, unsigned char len,
                              unsigned char* out);
/* Line settings, line mode (1 normal, 2 half duplex) and protocol; protocol 1
 * opens the port with its bus listener (port number, 0 thread failed, -1 not
 * opened); another protocol only keeps the settings (0). */
int TARNLINK_CALL ListenPollTarn(int port, int baud, unsigned char parity, unsigned char dataBits,
                                 unsigned char stopBits, short lineMode, short protocol);
/* Keeps the bus listener running and hands over the data of the newest frame
 * it heard, on every call (data count, 0 for none). A port that cannot listen
 * hands over the data of its last reply. */
int TARNLINK_CALL listPollingTarn(unsigned char port, int node, const unsigned char* data, unsigned char len,
                                  unsigned char* out);
/* Text modem block transfer; the reply text in out, its length returned. */
int TARNLINK_CALL TARN200LIB_STD_Write(unsigned char port, unsigned short unused, const char* count,
                                       const char* trailer, const unsigned char* data, unsigned char len,
                                       unsigned char* out);
/* Text modem request of a kind (0 data, 1 kept request, 2 status). */
int TARNLINK_CALL TARN200LIB_Polling(int port, int kind, const unsigned char* data, int len, unsigned char* out);
/* Framed modem exchange; identifiers, length digits and data in out. */
int TARNLINK_CALL TARN_SendData2Modem(int port, const unsigned char* data, int len, int timeoutMs,
                                      unsigned char* out);
/* Writes the bytes as they are, waits, reads what came (count, -1 failed). */
int TARNLINK_CALL TARN_ModemCommand(int port, const unsigned char* data, int len, unsigned char* out, int waitMs);
/* 1 when the byte came in time, else 0. */
int TARNLINK_CALL TARN_ListenModemENQ(int port, unsigned char byte, int timeoutMs);

#ifdef __cplusplus
}
#endif

#endif /* TARNLINK_H */
