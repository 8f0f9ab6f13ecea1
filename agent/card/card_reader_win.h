// CCardReader: the PC/SC link. The platform's smart-card service is bound at
// run time ("winscard.dll", ten functions looked up by name) so that the agent
// starts also where the service is missing; the binding goes through a module
// binder, which tests replace to put a virtual card in the service's place.
#pragma once

#include <windows.h>
#include <winscard.h>

#include "agent/card/pcsc_link.h"

namespace card {

// Where the PC/SC functions come from.
class IModuleBinder {
public:
    virtual ~IModuleBinder() = default;
    virtual HMODULE Load(const char* name) = 0;
    virtual FARPROC Find(HMODULE module, const char* name) = 0;
};

// LoadLibraryA and GetProcAddress.
IModuleBinder& SystemModuleBinder();

class CCardReader : public IPcscLink {
public:
    static constexpr const char* kLibraryName = "winscard.dll";
    static constexpr DWORD kReaderListSize = 270;

    explicit CCardReader(IModuleBinder& binder = SystemModuleBinder()) : m_binder(binder) {}
    // Releases nothing: the service stays bound for the life of the process.
    ~CCardReader() override = default;

    // Binds the service (once), makes a context, lists the readers and connects
    // to the card in the first one, T=0 or T=1. A failed attempt releases the
    // context it made.
    bool Connect() override;
    // Sends with the send information of the protocol the card negotiated.
    bool Transmit(const uint8_t* request, size_t requestLength, uint8_t* reply, size_t capacity,
                  size_t& replyLength) override;
    // Disconnects with the card ejected and releases the context.
    void Close() override;

    // The status of the connection: the reader's name, the answer to reset and
    // the protocol; on success the receive information takes that protocol.
    LONG ReadCardStatus(char* readerName, DWORD readerNameSize, BYTE* answerToReset, DWORD* answerLength);

    SCARDCONTEXT m_hContext = 0;
    SCARDHANDLE m_hCard = 0;
    DWORD m_dwActiveProtocol = 0;
    DWORD m_dwState = 0;

private:
    bool Bind();

    IModuleBinder& m_binder;
    HMODULE m_hWinSCard = nullptr;
    bool m_bound = false;

    decltype(&::SCardEstablishContext) m_pEstablishContext = nullptr;
    decltype(&::SCardConnectA) m_pConnect = nullptr;
    decltype(&::SCardBeginTransaction) m_pBeginTransaction = nullptr;
    decltype(&::SCardGetStatusChangeA) m_pGetStatusChange = nullptr;
    decltype(&::SCardTransmit) m_pTransmit = nullptr;
    decltype(&::SCardStatusA) m_pStatus = nullptr;
    decltype(&::SCardListReadersA) m_pListReaders = nullptr;
    decltype(&::SCardEndTransaction) m_pEndTransaction = nullptr;
    decltype(&::SCardDisconnect) m_pDisconnect = nullptr;
    decltype(&::SCardReleaseContext) m_pReleaseContext = nullptr;

    char m_szReaders[kReaderListSize] = {};
    SCARD_IO_REQUEST m_ioRecvPci = {0, sizeof(SCARD_IO_REQUEST)};
};

}  // namespace card
