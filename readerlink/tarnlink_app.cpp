#include "readerlink/tarnlink_app.h"

#include <cstring>

#include "readerlink/dev_lib.h"
#include "readerlink/dev_lib_reader.h"
#include "readerlink/error_codes.h"

namespace tarnlink {

CCommOBJ* CTarnlinkApp::FindRecord(int port)
{
    std::lock_guard<std::mutex> lock(m_tableLock);
    return m_ports.FindByPort(port);
}

CCommOBJ* CTarnlinkApp::FindOrAddRecord(int port)
{
    std::lock_guard<std::mutex> lock(m_tableLock);
    CCommOBJ* record = m_ports.FindByPort(port);
    if (!record) {
        auto made = std::make_unique<CCommOBJ>();
        made->m_nPort = port;
        record = made.get();
        m_ports.Add(std::move(made));
    }
    return record;
}

int CTarnlinkApp::InitPort(int port, int baud)
{
    CCommOBJ* record = FindOrAddRecord(port);
    std::lock_guard<std::mutex> turn(record->m_exchangeLock);
    record->m_nPort = port;
    record->m_nBaudRate = static_cast<uint32_t>(baud);
    record->m_nParity = 0;
    record->m_nByteSize = 8;
    record->m_nStopBits = 0;
    record->m_nLineMode = 1;
    record->m_nProtocol = kReaderProtocol;
    if (!record->m_pDevice && !CreateDevice(kReaderProtocol, *record, m_platform)) return -1;
    if (port < CDevLibReader::kFirstUsbPort) return record->m_pDevice->OpenPort();
    return record->m_pDevice->OpenUsbPort();
}

int CTarnlinkApp::ClosePort(int port)
{
    CCommOBJ* record = FindRecord(port);
    if (!record) return kErrNoRecord;
    std::lock_guard<std::mutex> turn(record->m_exchangeLock);
    if (!record->m_pDevice) return -1;
    return record->m_pDevice->ClosePort();
}

int CTarnlinkApp::ReaderCommand(int port, uint8_t command, const uint8_t* data, int len, int* outLen, uint8_t* out,
                                const uint8_t* tail, int maxData)
{
    CCommOBJ* record = FindRecord(port);
    if (!record) return kErrNoRecord;
    std::lock_guard<std::mutex> turn(record->m_exchangeLock);
    if (!record->m_pDevice) return kErrNoRecord;
    // Command byte, data, and the tail two places behind the data.
    const int tailRoom = tail ? 3 : 0;
    if (len < 0 || len > maxData || 1 + len + tailRoom > kRequestCapacity || (len > 0 && !data))
        return kErrRequestTooLong;

    uint8_t request[kRequestCapacity] = {};
    request[0] = command;
    if (len > 0) std::memcpy(request + 1, data, static_cast<size_t>(len));
    const int requestLength = 1 + len;
    if (tail) {
        request[requestLength + 1] = tail[0];
        request[requestLength + 2] = tail[1];
    }
    std::memcpy(record->m_pReq, request, static_cast<size_t>(requestLength + tailRoom));
    record->m_nReqLen = requestLength;

    const int result = tail ? record->m_pDevice->ExchangeWithTail(0) : record->m_pDevice->Exchange(0);
    if (IsError(result)) {
        std::memset(record->m_pResp, 0, 10);
        return result;
    }
    if (record->m_nRespLen < 1) {  // no status byte came
        std::memset(record->m_pResp, 0, 10);
        return kErrNoStatus;
    }
    const uint8_t status = record->m_pResp[3];
    if (status != 0) return status;
    const int payload = record->m_nRespLen - 1;
    if (out && payload > 0) std::memcpy(out, record->m_pResp + 4, static_cast<size_t>(payload));
    if (outLen) *outLen = payload;
    return 0;
}

}  // namespace tarnlink
