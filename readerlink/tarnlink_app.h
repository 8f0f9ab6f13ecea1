// CTarnlinkApp: the library's one application object. It owns the table of port
// records, which lives as long as the library, and runs what the exports ask:
// opening and closing ports and the reader-command rule. Calls may come from
// several threads: calls on one port take turns, calls on different ports run
// side by side.
#pragma once

#include <cstdint>
#include <mutex>

#include "readerlink/comm_obj.h"
#include "readerlink/link_io.h"

namespace tarnlink {

class CTarnlinkApp {
public:
    static constexpr int kReaderProtocol = 11;
    static constexpr int kRequestCapacity = 300;  // command byte and at most 299 data bytes

    explicit CTarnlinkApp(IReaderPlatform& platform) : m_platform(platform) {}

    // Finds or makes the port's record, sets it up for the reader protocol and
    // opens the port: the port number, -1, or 1 (no USB reader for the number).
    int InitPort(int port, int baud);
    // Closes the port's line and keeps its record: 1 closed, -1 already closed,
    // 1250 no record.
    int ClosePort(int port);

    // The reader-command rule: sends `command` followed by the `len` data bytes
    // (and, on serial lines, the two `tail` bytes after the frame when given)
    // and reduces the reply: 0 with the payload in out and its length in
    // *outLen; the reader's non-zero status; or an error above 1024, with the
    // first 10 reply bytes cleared. More than `maxData` data bytes (or than the
    // request holds) give 1035; a port without a record gives 1250 first.
    int ReaderCommand(int port, uint8_t command, const uint8_t* data, int len, int* outLen, uint8_t* out,
                      const uint8_t* tail = nullptr, int maxData = kRequestCapacity - 1);

    // The version: the payload whatever the status (no length reported); the
    // status, or an error.
    int ReaderVersion(int port, uint8_t command, uint8_t* out);

    // ---- the older entries (other protocols on serial lines)

    // Sets the line and protocol 0 and opens the serial port: the port number,
    // or 255.
    int InitPortWithLine(int port, uint32_t baud, uint8_t parity, uint8_t dataBits, uint8_t stopBits);
    // One request to `node` through the port's device: the reply's data count
    // with status and data (reply from index 3) in out. On an error above
    // 1024, `clearOnError` clears the first 10 reply bytes and copies them to
    // out.
    int Poll(int port, int node, const uint8_t* data, int len, uint8_t* out, bool clearOnError);
    // Sets all line settings and, for protocol 1, puts a new listener device on
    // the port and opens it: the port number, 0 or -1. For another protocol
    // the settings are kept and nothing is opened: 0.
    int ListenPoll(int port, uint32_t baud, uint8_t parity, uint8_t dataBits, uint8_t stopBits, int16_t lineMode,
                   int16_t protocol);
    // Keeps (or starts) the port's listener and hands over the data of the
    // reply as it stands (the newest frame the listener heard): their count, 0
    // when nothing was heard. A port whose device cannot listen hands over its
    // reply the same way.
    int ListenPolling(int port, const uint8_t* data, int len, uint8_t* out);
    // Text modem: the block transfer of `len` data bytes padded with "0" to a
    // multiple of 8; the reply text in out, its length returned.
    int TextWrite(int port, const char* count, const char* trailer, const uint8_t* data, int len, uint8_t* out);
    // Text modem: one request of `kind` (kind 1 keeps the request buffer); the
    // reply text from its index 4 in out.
    int TextPoll(int port, int kind, const uint8_t* data, int len, uint8_t* out);
    // Framed modem: the reply from index 1 (identifiers, digits, data) in out.
    int ModemSend(int port, const uint8_t* data, int len, uint32_t timeoutMs, uint8_t* out);
    // Raw command: the bytes read (0 to 1024) in out, their count; -1 when the
    // read failed.
    int ModemCommand(int port, const uint8_t* data, int len, uint8_t* out, uint32_t waitMs);
    // 1 when `byte` came within the time, else 0 (also without a record).
    int ModemWaitForByte(int port, uint8_t byte, uint32_t timeoutMs);

    // Stops every listener (the library unloads).
    void StopListeners();

    CCommOBJArray& Ports() { return m_ports; }
    IReaderPlatform& Platform() { return m_platform; }

private:
    // Runs `work` on the port's record, its turn taken; `missing` when the
    // port has no record or no device.
    template <typename Work>
    int OnPort(int port, int missing, Work work)
    {
        CCommOBJ* record = FindRecord(port);
        if (!record) return missing;
        std::lock_guard<std::mutex> turn(record->m_exchangeLock);
        if (!record->m_pDevice) return missing;
        return work(record);
    }
    // Copies `len` caller bytes into the request buffer: false when they do not fit.
    static bool SetRequest(CCommOBJ& record, const uint8_t* data, int len);
    CCommOBJ* FindRecord(int port);
    CCommOBJ* FindOrAddRecord(int port);

    IReaderPlatform& m_platform;
    // Records are only ever added, so a record found stays valid; the lock
    // covers the lookup and the growth of the table.
    std::mutex m_tableLock;
    CCommOBJArray m_ports;
};

// The library's application object. The Windows library keeps one over the
// Win32 platform; a test program may provide its own.
CTarnlinkApp& TheApp();

}  // namespace tarnlink
