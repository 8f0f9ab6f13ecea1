// The older entries of the library: ports with full line settings, polling of
// node-addressed devices, the bus listener, the text modem and the framed
// modem. Each works on the port's record with whatever device it has.
#include <algorithm>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <string>

#include "readerlink/dev_lib.h"
#include "readerlink/dev_lib_node.h"
#include "readerlink/dev_lib_text.h"
#include "readerlink/error_codes.h"
#include "readerlink/tarnlink_app.h"

namespace tarnlink {

namespace {

constexpr int kListenerProtocol = 1;
constexpr uint8_t kSpentRequestFill = 0x14;  // written over a request once it is sent

void SetLine(CCommOBJ& record, uint32_t baud, uint8_t parity, uint8_t dataBits, uint8_t stopBits)
{
    record.m_nBaudRate = baud;
    record.m_nParity = parity;
    record.m_nByteSize = dataBits;
    record.m_nStopBits = stopBits;
}

void CopyReply(const CCommOBJ& record, int from, int count, uint8_t* out)
{
    count = std::clamp(count, 0, kBufferSize - from);
    if (out && count > 0) std::memcpy(out, record.m_pResp + from, static_cast<size_t>(count));
}

}  // namespace

bool CTarnlinkApp::SetRequest(CCommOBJ& record, const uint8_t* data, int len)
{
    if (len < 0 || len > kBufferSize || (len > 0 && !data)) return false;
    if (len > 0) std::memcpy(record.m_pReq, data, static_cast<size_t>(len));
    record.m_nReqLen = len;
    return true;
}

int CTarnlinkApp::ReaderVersion(int port, uint8_t command, uint8_t* out)
{
    return OnPort(port, kErrNoRecord, [&](CCommOBJ* record) -> int {
        record->m_pReq[0] = command;
        record->m_nReqLen = 1;
        int result = record->m_pDevice->Exchange(0);
        if (!IsError(result) && record->m_nRespLen < 1) result = kErrNoStatus;  // no status byte came
        if (IsError(result)) {
            std::memset(record->m_pResp, 0, 10);
            return result;
        }
        CopyReply(*record, 4, record->m_nRespLen - 1, out);
        return record->m_pResp[3];
    });
}

int CTarnlinkApp::InitPortWithLine(int port, uint32_t baud, uint8_t parity, uint8_t dataBits, uint8_t stopBits)
{
    constexpr int kFailed = 255;
    CCommOBJ* record = FindOrAddRecord(port);
    std::lock_guard<std::mutex> turn(record->m_exchangeLock);
    SetLine(*record, baud, parity, dataBits, stopBits);
    record->m_nLineMode = 1;
    record->m_nProtocol = 0;
    if (!record->m_pDevice) CreateDevice(0, *record, m_platform);
    const int opened = record->m_pDevice->OpenPort();
    return opened < 0 ? kFailed : opened & 0xFF;
}

int CTarnlinkApp::Poll(int port, int node, const uint8_t* data, int len, uint8_t* out, bool clearOnError)
{
    return OnPort(port, kErrNoRecord, [&](CCommOBJ* record) -> int {
        if (!SetRequest(*record, data, len)) return kErrRequestTooLong;
        int result = record->m_pDevice->Exchange(node);
        // These entries answer the reply's data count, so a reader reply of
        // more than 1024 data bytes cannot be told from an error number: it is
        // answered as one, and its data is not handed out.
        if (!IsError(result) && IsError(record->m_nRespLen)) result = record->m_nRespLen;
        if (IsError(result)) {
            if (clearOnError) {
                std::memset(record->m_pResp, 0, 10);
                CopyReply(*record, 0, 10, out);
            }
            return result;
        }
        CopyReply(*record, 3, record->m_nRespLen, out);
        return record->m_nRespLen;
    });
}

int CTarnlinkApp::ListenPoll(int port, uint32_t baud, uint8_t parity, uint8_t dataBits, uint8_t stopBits,
                             int16_t lineMode, int16_t protocol)
{
    CCommOBJ* record = FindOrAddRecord(port);
    std::lock_guard<std::mutex> turn(record->m_exchangeLock);
    SetLine(*record, baud, parity, dataBits, stopBits);
    record->m_nLineMode = lineMode;
    record->m_nProtocol = protocol;
    if (!record->m_pDevice) CreateDevice(protocol, *record, m_platform);
    if (protocol != kListenerProtocol) return 0;
    // The former device goes; a listener of its own is stopped and joined first.
    delete record->m_pDevice;
    record->m_pDevice = nullptr;
    return CreateDevice(kListenerProtocol, *record, m_platform)->OpenListen();
}

int CTarnlinkApp::ListenPolling(int port, const uint8_t* data, int len, uint8_t* out)
{
    return OnPort(port, kErrNoRecord, [&](CCommOBJ* record) -> int {
        if (!SetRequest(*record, data, len)) return kErrRequestTooLong;
        // A port that listens already keeps its listener; one that cannot
        // listen hands over its reply all the same.
        record->m_pDevice->OpenListen();
        CopyReply(*record, 3, record->m_nRespLen, out);
        return record->m_nRespLen;
    });
}

int CTarnlinkApp::TextWrite(int port, const char* count, const char* trailer, const uint8_t* data, int len,
                            uint8_t* out)
{
    return OnPort(port, kErrNoRecord, [&](CCommOBJ* record) -> int {
        if (!SetRequest(*record, data, len)) return kErrRequestTooLong;
        const int padded = (len + CDevLibText::kBlockSize - 1) / CDevLibText::kBlockSize * CDevLibText::kBlockSize;
        std::memset(record->m_pReq + len, '0', static_cast<size_t>(padded - len));
        record->m_nReqLen = padded;

        const bool given = count && count[0] != '\0';
        const long value = given ? std::strtol(count, nullptr, 10) : 1;
        char hexCount[16];
        std::snprintf(hexCount, sizeof hexCount, "%lX", static_cast<unsigned long>(value));
        const int result = record->m_pDevice->SendText(hexCount, given ? 1 : 0, trailer ? trailer : "");
        std::memset(record->m_pReq, kSpentRequestFill, static_cast<size_t>(padded));
        if (IsError(result)) return result;
        CopyReply(*record, 0, record->m_nRespLen, out);
        return record->m_nRespLen;
    });
}

int CTarnlinkApp::TextPoll(int port, int kind, const uint8_t* data, int len, uint8_t* out)
{
    return OnPort(port, kErrNoRecord, [&](CCommOBJ* record) -> int {
        if (len < 0 || len > kBufferSize) return kErrRequestTooLong;
        if (kind != 1 && !SetRequest(*record, data, len)) return kErrRequestTooLong;
        const int result = record->m_pDevice->Exchange(kind);
        std::memset(record->m_pReq, kSpentRequestFill, static_cast<size_t>(len));
        if (IsError(result)) return result;
        // The reply's text from index 4: twice the result's count as asked, but
        // never more than the reply brought.
        auto* text = dynamic_cast<CDevLibText*>(record->m_pDevice);
        const int held = text ? text->LastReplyLength() - 4 : record->m_nRespLen - 1;
        CopyReply(*record, 4, std::min(2 * record->m_nRespLen, held), out);
        return record->m_nRespLen;
    });
}

int CTarnlinkApp::ModemSend(int port, const uint8_t* data, int len, uint32_t timeoutMs, uint8_t* out)
{
    return OnPort(port, kErrNoRecord, [&](CCommOBJ* record) -> int {
        if (!SetRequest(*record, data, len)) return kErrRequestTooLong;
        const int result = record->m_pDevice->ModemExchange(timeoutMs);
        if (IsError(result)) return result;
        CopyReply(*record, 1, record->m_nRespLen, out);
        return record->m_nRespLen;
    });
}

int CTarnlinkApp::ModemCommand(int port, const uint8_t* data, int len, uint8_t* out, uint32_t waitMs)
{
    return OnPort(port, kErrNoRecord, [&](CCommOBJ* record) -> int {
        if (!SetRequest(*record, data, len)) return kErrRequestTooLong;
        const int result = record->m_pDevice->RawCommand(waitMs);
        if (result < 0 || IsError(result)) return result;
        CopyReply(*record, 0, result, out);
        return result;
    });
}

int CTarnlinkApp::ModemWaitForByte(int port, uint8_t byte, uint32_t timeoutMs)
{
    return OnPort(port, 0, [&](CCommOBJ* record) -> int {
        return record->m_pDevice->WaitForByte(byte, timeoutMs) == 1 ? 1 : 0;
    });
}

void CTarnlinkApp::StopListeners()
{
    std::lock_guard<std::mutex> lock(m_tableLock);
    for (size_t i = 0; i < m_ports.GetSize(); ++i) {
        CCommOBJ* record = m_ports.GetAt(i);
        if (auto* listener = dynamic_cast<CDevLibListen*>(record->m_pDevice)) listener->StopListener();
    }
}

}  // namespace tarnlink
