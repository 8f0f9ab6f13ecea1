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
#define TARNLINK_ERR_NO_PORT 1250          /* the port was never initialised */

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

#ifdef __cplusplus
}
#endif

#endif /* TARNLINK_H */
