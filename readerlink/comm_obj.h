// Port records: one CCommOBJ per port number ever opened, kept in the
// CCommOBJArray of the library for the life of the library.
#pragma once

#include <cstdint>
#include <memory>
#include <mutex>
#include <vector>

#include "readerlink/link_io.h"

namespace tarnlink {

class CDevLib;

constexpr int kBufferSize = 2048;

class CCommOBJ {
public:
    CCommOBJ();
    ~CCommOBJ();
    CCommOBJ(const CCommOBJ&) = delete;
    CCommOBJ& operator=(const CCommOBJ&) = delete;

    int32_t m_nPort = 0;
    uint8_t m_nParity = 0;
    uint8_t m_nByteSize = 0;
    uint8_t m_nStopBits = 0;
    uint32_t m_nBaudRate = 0;

    // The open port: a serial line (ports 1 to 99) or a USB reader (100 on);
    // neither when closed.
    std::unique_ptr<ISerialLine> m_serial;
    std::unique_ptr<IUsbLink> m_usb;
    bool IsOpen() const { return m_serial || m_usb; }

    int32_t m_nReqLen = 0;    // the request, before framing
    uint8_t* m_pReq;
    int32_t m_nRespLen = 0;   // data bytes of the reply: status byte and payload
    uint8_t* m_pResp;         // byte 3 the status, bytes 4 on the payload
    int32_t m_nFrameLen = 0;  // the framed request as written to the line
    uint8_t* m_pFrame;

    int16_t m_nLineMode = 0;  // 1 normal, 2 half duplex with RTS switching
    int16_t m_nProtocol = 0;  // protocol type last asked for
    CDevLib* m_pDevice = nullptr;  // owned

    // Held by an export for the whole of its work on the port, so that two
    // callers of one port take turns instead of sharing the buffers.
    std::mutex m_exchangeLock;

private:
    std::unique_ptr<uint8_t[]> m_buffers;
};

class CCommOBJArray {
public:
    CCommOBJArray() = default;
    ~CCommOBJArray() { RemoveAll(); }
    CCommOBJArray(const CCommOBJArray&) = delete;
    CCommOBJArray& operator=(const CCommOBJArray&) = delete;

    void Add(std::unique_ptr<CCommOBJ> record) { m_records.push_back(std::move(record)); }
    CCommOBJ* GetAt(size_t index) const { return index < m_records.size() ? m_records[index].get() : nullptr; }
    size_t GetSize() const { return m_records.size(); }
    // The newest record of the port, or null.
    CCommOBJ* FindByPort(int port) const;
    void RemoveAt(size_t index);
    // Deletes every record, last first.
    void RemoveAll();

private:
    std::vector<std::unique_ptr<CCommOBJ>> m_records;
};

}  // namespace tarnlink
