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
    // first 10 reply bytes cleared.
    int ReaderCommand(int port, uint8_t command, const uint8_t* data, int len, int* outLen, uint8_t* out,
                      const uint8_t* tail = nullptr);

    CCommOBJArray& Ports() { return m_ports; }
    IReaderPlatform& Platform() { return m_platform; }

private:
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
