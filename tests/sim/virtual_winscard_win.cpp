#include "tests/sim/virtual_winscard_win.h"

#include <cstring>

namespace sim {

namespace {

VirtualWinSCardState g_state;
const char kReaderName[] = "Virtual Issuing Reader 0";
const BYTE kAnswerToReset[] = {0x3B, 0x6E, 0x00, 0x00, 0x80, 0x31, 0x80, 0x66, 0xB0, 0x84,
                               0x0C, 0x01, 0x6E, 0x01, 0x83, 0x00, 0x90, 0x00};
// A handle of the fake module.
HMODULE const kModule = reinterpret_cast<HMODULE>(static_cast<ULONG_PTR>(0x5CA4D000));

const char* ProtocolName(DWORD protocol)
{
    return protocol == SCARD_PROTOCOL_T0 ? "T0" : protocol == SCARD_PROTOCOL_T1 ? "T1" : "T?";
}

LONG WINAPI EstablishContext(DWORD scope, LPCVOID, LPCVOID, LPSCARDCONTEXT context)
{
    g_state.calls.push_back("SCardEstablishContext " + std::to_string(scope));
    if (g_state.establishResult != SCARD_S_SUCCESS)
        return g_state.establishResult;
    *context = g_state.nextHandle++;
    g_state.contexts.insert(*context);
    return SCARD_S_SUCCESS;
}

LONG WINAPI ReleaseContext(SCARDCONTEXT context)
{
    g_state.calls.push_back("SCardReleaseContext");
    return g_state.contexts.erase(context) ? SCARD_S_SUCCESS : SCARD_E_INVALID_HANDLE;
}

LONG WINAPI ListReaders(SCARDCONTEXT context, LPCSTR, LPSTR readers, LPDWORD size)
{
    g_state.calls.push_back("SCardListReadersA");
    if (!g_state.contexts.count(context))
        return SCARD_E_INVALID_HANDLE;
    if (!g_state.readerPresent)
        return SCARD_E_NO_READERS_AVAILABLE;
    const DWORD needed = sizeof kReaderName + 1;  // the name, its NUL and the closing NUL
    if (*size < needed) {
        *size = needed;
        return SCARD_E_INSUFFICIENT_BUFFER;
    }
    std::memcpy(readers, kReaderName, sizeof kReaderName);
    readers[sizeof kReaderName] = 0;
    *size = needed;
    return SCARD_S_SUCCESS;
}

LONG WINAPI Connect(SCARDCONTEXT context, LPCSTR reader, DWORD share, DWORD protocols, LPSCARDHANDLE card,
                    LPDWORD active)
{
    g_state.calls.push_back("SCardConnectA " + std::string(reader ? reader : "") + " " + std::to_string(share) +
                            " " + std::to_string(protocols));
    if (!g_state.contexts.count(context))
        return SCARD_E_INVALID_HANDLE;
    if (!reader || std::strcmp(reader, kReaderName) != 0)
        return SCARD_E_UNKNOWN_READER;
    if (!g_state.cardPresent)
        return SCARD_E_NO_SMARTCARD;
    if (!(protocols & g_state.cardProtocol))
        return SCARD_E_PROTO_MISMATCH;
    *card = g_state.nextHandle++;
    *active = g_state.cardProtocol;
    g_state.cards.insert(*card);
    if (g_state.card)
        g_state.card->Reset();
    return SCARD_S_SUCCESS;
}

LONG WINAPI Disconnect(SCARDHANDLE card, DWORD disposition)
{
    g_state.calls.push_back("SCardDisconnect " + std::to_string(disposition));
    return g_state.cards.erase(card) ? SCARD_S_SUCCESS : SCARD_E_INVALID_HANDLE;
}

LONG WINAPI Status(SCARDHANDLE card, LPSTR readerName, LPDWORD readerLength, LPDWORD state, LPDWORD protocol,
                   LPBYTE atr, LPDWORD atrLength)
{
    g_state.calls.push_back("SCardStatusA");
    if (!g_state.cards.count(card))
        return SCARD_E_INVALID_HANDLE;
    if (*readerLength < sizeof kReaderName || *atrLength < sizeof kAnswerToReset) {
        *readerLength = sizeof kReaderName;
        *atrLength = sizeof kAnswerToReset;
        return SCARD_E_INSUFFICIENT_BUFFER;
    }
    std::memcpy(readerName, kReaderName, sizeof kReaderName);
    *readerLength = sizeof kReaderName;
    std::memcpy(atr, kAnswerToReset, sizeof kAnswerToReset);
    *atrLength = sizeof kAnswerToReset;
    *state = SCARD_SPECIFIC;
    *protocol = g_state.cardProtocol;
    return SCARD_S_SUCCESS;
}

LONG WINAPI Transmit(SCARDHANDLE card, LPCSCARD_IO_REQUEST sendPci, LPCBYTE request, DWORD requestLength,
                     LPSCARD_IO_REQUEST, LPBYTE reply, LPDWORD replyLength)
{
    const Bytes command(request, request + requestLength);
    g_state.calls.push_back(std::string("SCardTransmit ") + ProtocolName(sendPci ? sendPci->dwProtocol : 0) + " " +
                            HexOf(command));
    if (!g_state.cards.count(card))
        return SCARD_E_INVALID_HANDLE;
    // The send information must name the protocol of the connection.
    if (!sendPci || sendPci->dwProtocol != g_state.cardProtocol || sendPci->cbPciLength != sizeof(SCARD_IO_REQUEST))
        return SCARD_E_INVALID_PARAMETER;
    VirtualIssuingCard::Reply answer = g_state.card->Answer(command);
    if (answer.silent)
        return SCARD_E_TIMEOUT;
    if (answer.bytes.size() > *replyLength)
        return SCARD_E_INSUFFICIENT_BUFFER;
    std::memcpy(reply, answer.bytes.data(), answer.bytes.size());
    *replyLength = static_cast<DWORD>(answer.bytes.size());
    return SCARD_S_SUCCESS;
}

LONG WINAPI BeginTransaction(SCARDHANDLE)
{
    g_state.calls.push_back("SCardBeginTransaction");
    return SCARD_S_SUCCESS;
}

LONG WINAPI EndTransaction(SCARDHANDLE, DWORD)
{
    g_state.calls.push_back("SCardEndTransaction");
    return SCARD_S_SUCCESS;
}

LONG WINAPI GetStatusChange(SCARDCONTEXT, DWORD, LPSCARD_READERSTATEA, DWORD)
{
    g_state.calls.push_back("SCardGetStatusChangeA");
    return SCARD_E_TIMEOUT;
}

struct Export {
    const char* name;
    FARPROC address;
};

template <typename F>
FARPROC Address(F function)
{
    return reinterpret_cast<FARPROC>(reinterpret_cast<void*>(function));
}

const Export kExports[] = {
    {"SCardEstablishContext", Address(&EstablishContext)},
    {"SCardReleaseContext", Address(&ReleaseContext)},
    {"SCardListReadersA", Address(&ListReaders)},
    {"SCardConnectA", Address(&Connect)},
    {"SCardDisconnect", Address(&Disconnect)},
    {"SCardStatusA", Address(&Status)},
    {"SCardTransmit", Address(&Transmit)},
    {"SCardBeginTransaction", Address(&BeginTransaction)},
    {"SCardEndTransaction", Address(&EndTransaction)},
    {"SCardGetStatusChangeA", Address(&GetStatusChange)},
};

}  // namespace

VirtualWinSCardState& VirtualWinSCard()
{
    return g_state;
}

void ResetVirtualWinSCard(VirtualIssuingCard* card)
{
    g_state = VirtualWinSCardState();
    g_state.card = card;
}

HMODULE VirtualWinSCardBinder::Load(const char* name)
{
    ++m_loads;
    return lstrcmpiA(name, card::CCardReader::kLibraryName) == 0 ? kModule : nullptr;
}

FARPROC VirtualWinSCardBinder::Find(HMODULE module, const char* name)
{
    g_state.lookups.push_back(name);
    if (module != kModule)
        return nullptr;
    for (const std::string& withheld : g_state.withheld)
        if (withheld == name)
            return nullptr;
    for (const Export& e : kExports)
        if (std::strcmp(e.name, name) == 0)
            return e.address;
    return nullptr;
}

}  // namespace sim
