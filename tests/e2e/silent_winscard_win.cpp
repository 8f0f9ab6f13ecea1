// A winscard.dll for the end-to-end tests: one reader with a card in it that
// never answers. The agent connects to it as to any PC/SC reader; a card command
// then waits in SCardTransmit for as long as the process lives. Before it
// waits, SCardTransmit creates the file that CORVANE_WINSCARD_MARK names, so that
// a test knows the command is inside the reader.
#include <windows.h>

#include <cstring>

namespace {

const char kReaders[] = "Silent Reader 0\0";  // the list ends in two NULs
const LONG kDone = 0;

}  // namespace

extern "C" {

__declspec(dllexport) LONG WINAPI SCardEstablishContext(DWORD, const void*, const void*, ULONG_PTR* context)
{
    *context = 1;
    return kDone;
}

__declspec(dllexport) LONG WINAPI SCardReleaseContext(ULONG_PTR) { return kDone; }

__declspec(dllexport) LONG WINAPI SCardListReadersA(ULONG_PTR, const char*, char* readers, DWORD* size)
{
    if (!readers || *size < sizeof kReaders) {
        *size = sizeof kReaders;
        return readers ? static_cast<LONG>(0x80100008) : kDone;  // the buffer is too small
    }
    std::memcpy(readers, kReaders, sizeof kReaders);
    *size = sizeof kReaders;
    return kDone;
}

__declspec(dllexport) LONG WINAPI SCardConnectA(ULONG_PTR, const char*, DWORD, DWORD, ULONG_PTR* card,
                                                DWORD* activeProtocol)
{
    *card = 1;
    *activeProtocol = 2;  // T=1
    return kDone;
}

__declspec(dllexport) LONG WINAPI SCardStatusA(ULONG_PTR, char* name, DWORD* nameLength, DWORD* state,
                                               DWORD* protocol, BYTE*, DWORD* answerLength)
{
    if (name && *nameLength > 0) name[0] = 0;
    *nameLength = 0;
    *state = 6;  // specific: the card is powered and ready
    *protocol = 2;
    *answerLength = 0;
    return kDone;
}

__declspec(dllexport) LONG WINAPI SCardBeginTransaction(ULONG_PTR) { return kDone; }
__declspec(dllexport) LONG WINAPI SCardEndTransaction(ULONG_PTR, DWORD) { return kDone; }
__declspec(dllexport) LONG WINAPI SCardDisconnect(ULONG_PTR, DWORD) { return kDone; }

__declspec(dllexport) LONG WINAPI SCardGetStatusChangeA(ULONG_PTR, DWORD, void*, DWORD) { return kDone; }

__declspec(dllexport) LONG WINAPI SCardTransmit(ULONG_PTR, const void*, const BYTE*, DWORD, void*, BYTE*, DWORD*)
{
    char mark[MAX_PATH];
    const DWORD length = GetEnvironmentVariableA("CORVANE_WINSCARD_MARK", mark, sizeof mark);
    if (length > 0 && length < sizeof mark) {
        HANDLE file = CreateFileA(mark, GENERIC_WRITE, 0, nullptr, CREATE_ALWAYS, FILE_ATTRIBUTE_NORMAL, nullptr);
        if (file != INVALID_HANDLE_VALUE) CloseHandle(file);
    }
    Sleep(INFINITE);
    return kDone;
}

}  // extern "C"
