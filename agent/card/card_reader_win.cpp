#include "agent/card/card_reader_win.h"

#include <cstring>

namespace card {

namespace {

class SystemBinder : public IModuleBinder {
public:
    HMODULE Load(const char* name) override { return LoadLibraryA(name); }
    FARPROC Find(HMODULE module, const char* name) override { return GetProcAddress(module, name); }
};

// An answer to reset has at most 33 bytes.
constexpr DWORD kAnswerToResetSize = 36;

template <typename Function>
bool Resolve(IModuleBinder& binder, HMODULE module, const char* name, Function& function)
{
    function = reinterpret_cast<Function>(reinterpret_cast<void*>(binder.Find(module, name)));
    return function != nullptr;
}

}  // namespace

IModuleBinder& SystemModuleBinder()
{
    // Never destroyed: the card link is closed by the controller's destruction
    // at exit, after the function statics are gone.
    static SystemBinder* binder = new SystemBinder;
    return *binder;
}

bool CCardReader::Bind()
{
    if (m_bound)
        return true;
    if (!m_hWinSCard)
        m_hWinSCard = m_binder.Load(kLibraryName);
    if (!m_hWinSCard)
        return false;
    // All ten must be there, looked up in this order.
    m_bound = Resolve(m_binder, m_hWinSCard, "SCardEstablishContext", m_pEstablishContext) &&
              Resolve(m_binder, m_hWinSCard, "SCardConnectA", m_pConnect) &&
              Resolve(m_binder, m_hWinSCard, "SCardBeginTransaction", m_pBeginTransaction) &&
              Resolve(m_binder, m_hWinSCard, "SCardGetStatusChangeA", m_pGetStatusChange) &&
              Resolve(m_binder, m_hWinSCard, "SCardTransmit", m_pTransmit) &&
              Resolve(m_binder, m_hWinSCard, "SCardStatusA", m_pStatus) &&
              Resolve(m_binder, m_hWinSCard, "SCardListReadersA", m_pListReaders) &&
              Resolve(m_binder, m_hWinSCard, "SCardEndTransaction", m_pEndTransaction) &&
              Resolve(m_binder, m_hWinSCard, "SCardDisconnect", m_pDisconnect) &&
              Resolve(m_binder, m_hWinSCard, "SCardReleaseContext", m_pReleaseContext);
    return m_bound;
}

bool CCardReader::Connect()
{
    Close();  // one connection at a time
    if (!Bind())
        return false;
    m_hContext = 0;
    if (m_pEstablishContext(SCARD_SCOPE_USER, nullptr, nullptr, &m_hContext) != SCARD_S_SUCCESS) {
        m_hContext = 0;
        return false;
    }
    std::memset(m_szReaders, 0, sizeof m_szReaders);
    DWORD listSize = sizeof m_szReaders - 1;  // the list always ends in two NULs
    const LONG listed = m_pListReaders(m_hContext, nullptr, m_szReaders, &listSize);
    m_szReaders[sizeof m_szReaders - 1] = 0;
    SCARDHANDLE card = 0;
    if (listed != SCARD_S_SUCCESS || m_szReaders[0] == 0 ||
        m_pConnect(m_hContext, m_szReaders, SCARD_SHARE_SHARED, SCARD_PROTOCOL_T0 | SCARD_PROTOCOL_T1, &card,
                   &m_dwActiveProtocol) != SCARD_S_SUCCESS ||
        card == 0) {
        m_pReleaseContext(m_hContext);
        m_hContext = 0;
        return false;
    }
    m_hCard = card;
    char readerName[kReaderListSize];
    BYTE answerToReset[kAnswerToResetSize];
    DWORD answerLength = sizeof answerToReset;
    ReadCardStatus(readerName, sizeof readerName, answerToReset, &answerLength);
    return true;
}

LONG CCardReader::ReadCardStatus(char* readerName, DWORD readerNameSize, BYTE* answerToReset, DWORD* answerLength)
{
    if (!m_bound || !m_hCard)
        return SCARD_E_INVALID_HANDLE;
    DWORD nameLength = readerNameSize;
    DWORD protocol = SCARD_PROTOCOL_T0 | SCARD_PROTOCOL_T1;
    const LONG result =
        m_pStatus(m_hCard, readerName, &nameLength, &m_dwState, &protocol, answerToReset, answerLength);
    if (result == SCARD_S_SUCCESS) {
        m_dwActiveProtocol = protocol;
        m_ioRecvPci.dwProtocol = protocol;
        m_ioRecvPci.cbPciLength = sizeof(SCARD_IO_REQUEST);
    }
    return result;
}

bool CCardReader::Transmit(const uint8_t* request, size_t requestLength, uint8_t* reply, size_t capacity,
                           size_t& replyLength)
{
    if (!m_bound || !m_hCard)
        return false;
    const SCARD_IO_REQUEST sendPci = {m_dwActiveProtocol, sizeof(SCARD_IO_REQUEST)};
    DWORD length = static_cast<DWORD>(capacity);
    const LONG result = m_pTransmit(m_hCard, &sendPci, request, static_cast<DWORD>(requestLength), &m_ioRecvPci,
                                    reply, &length);
    if (result != SCARD_S_SUCCESS || length > capacity)
        return false;
    replyLength = length;
    return true;
}

void CCardReader::Close()
{
    if (!m_bound)
        return;
    if (m_hCard)
        m_pDisconnect(m_hCard, SCARD_EJECT_CARD);
    if (m_hContext)
        m_pReleaseContext(m_hContext);
    m_hCard = 0;
    m_hContext = 0;
}

}  // namespace card
