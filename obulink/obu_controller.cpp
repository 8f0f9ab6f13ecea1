#include "obulink/obu_controller.h"

#include <cstring>
#include <type_traits>

#include "framework/lifetime.h"
#include "obulink/exchange_trace.h"
#include "obulink/mfsn_read.h"
#include "obulink/obu_transactions.h"
#include "obulink/scode.h"

namespace {

const char kOpenTrace[] = "Wendra 단말기를 여는 중 입니다\nHID description[ Wendra-OBU ]\nReport ID : 0x01";

// What an OBU that was found but not opened answers, and what the write
// commands and the key answer for a text too short to read (the key also
// while another thread holds the OBU).
const char kNotOpenedText[] = "1";
const char kRefusedText[] = "1";

// A key character's value: a hexadecimal digit's in either case, else the low
// four bits of its code ('G' counts as 7).
int KeyDigitValue(char c)
{
    const int hex = HexDigitOrMinusOne(c);
    return hex >= 0 ? hex : static_cast<unsigned char>(c) & 0x0F;
}

}  // namespace

CObuSelfIssueCtrl::CObuSelfIssueCtrl()
{
    m_Device.m_dwReadTimeout = kHidInfinite;
    m_Device.m_dwWriteTimeout = kHidInfinite;
    m_Device.ResetState();
    corvane::NoteLifetime(this, "CObuSelfIssueCtrl", true);
}

// Nothing is closed at exit: the OBU's handle goes with the process.
CObuSelfIssueCtrl::~CObuSelfIssueCtrl()
{
    corvane::NoteLifetime(this, "CObuSelfIssueCtrl", false);
}

void CObuSelfIssueCtrl::SetServices(const ExchangeServices& services, AppRandomSource* random)
{
    // Refused only on a thread that holds the OBU already, or on the window
    // thread while another holds it (the services are set while none does).
    const Hold hold = HoldDevice();
    m_Services = services;
    m_pRandom = random;
}

int CObuSelfIssueCtrl::ConnectOBU()
{
    const unsigned count = CHIDDevice::CountDevices();
    if (count == 0) return kNoDevice;
    return m_Device.OpenDevice(count - 1) == kHidDone ? kOpen : kOpenFailed;
}

CString CObuSelfIssueCtrl::OpenOBU(const Hold& hold)
{
    if (!Holds(hold)) return kNotOpenedText;
    ExchangeTrace trace;
    trace.Label(kOpenTrace);
    if (m_Device.m_bOpened) m_Device.CloseHandleAndReset();
    m_nDeviceState = ConnectOBU();
    switch (m_nDeviceState) {
    case kNoDevice:
        trace.Label("단말기 연결 실패");
        return "0";
    case kOpenFailed: return kNotOpenedText;
    default: break;
    }
    trace.Label("단말기 연결 성공");
    return "2";
}

CString CObuSelfIssueCtrl::CloseOBU(const Hold& hold)
{
    if (!Holds(hold)) return "1";  // as with nothing open; the holder's OBU stays open
    m_nDeviceState = kNoDevice;
    if (!m_Device.m_bOpened) return "1";
    if (m_Device.CloseHandleAndReset()) {
        ExchangeTrace().Label("단말기 연결 종료 성공");
        return "2";
    }
    return "1";
}

CString CObuSelfIssueCtrl::SetProductKey(const Hold& hold, const CString& keyText)
{
    // Any text of at least 32 characters is taken, and only those 32 are
    // read; a shorter one is refused (its missing digits would be read past
    // its end) and the key in use stays.
    const std::string& text = keyText.str();
    if (text.size() < kKeyTextLength) return kRefusedText;
    // Refused because another thread holds the OBU: its command may be reading
    // the key. Refused on a thread that holds it already (id 32's own command,
    // or the one whose wait started this one), no other thread reads the key
    // meanwhile and a transaction under way has its own copy.
    if (!m_DeviceLock.GuardedHere(hold)) return kRefusedText;
    uint8_t key[16];
    for (size_t i = 0; i < 16; ++i)
        key[i] = static_cast<uint8_t>(KeyDigitValue(text[2 * i]) * 16 + KeyDigitValue(text[2 * i + 1]));
    std::memset(m_KeyArea, 0, sizeof m_KeyArea);
    std::memcpy(m_ProductKey, key, sizeof key);
    ExchangeTrace().Data("[**][**][**][**][**][**][**][**]");  // the key itself stays out of the trace
    m_Services.clock->SleepMs(kKeySetPauseMs);
    return "";
}

template <class Transaction, class Entry>
CString CObuSelfIssueCtrl::RunTransaction(Transaction& transaction, Entry entry)
{
    switch (m_nDeviceState) {
    case kNoDevice: return "0";
    case kOpenFailed: return kNotOpenedText;
    default: break;
    }
    transaction.SetServices(m_Services);
    if constexpr (!std::is_same_v<Transaction, CDoGetMFSN>) {
        if (m_pRandom) transaction.SetRandomSource(*m_pRandom);
    }
    return (transaction.*entry)();
}

CString CObuSelfIssueCtrl::GetMFSN(const Hold& hold)
{
    if (!Holds(hold)) return kNotOpenedText;
    CDoGetMFSN transaction(m_Device);
    return RunTransaction(transaction, &CDoGetMFSN::GetMFSN);
}

CString CObuSelfIssueCtrl::GetOBUInfo(const Hold& hold)
{
    if (!Holds(hold)) return kNotOpenedText;
    CDoGetOBUinfo transaction(m_Device, m_ProductKey);
    return RunTransaction(transaction, &CDoGetOBUinfo::GetOBUInfo);
}

CString CObuSelfIssueCtrl::ResetOBU(const Hold& hold)
{
    if (!Holds(hold)) return kNotOpenedText;
    CDoResetOBU transaction(m_Device, m_ProductKey);
    return RunTransaction(transaction, &CDoResetOBU::ResetOBU);
}

CString CObuSelfIssueCtrl::RunWrite(const Hold& hold, const CString& commandText, uint8_t command)
{
    // The text is cut before the state is looked at; one that does not fit
    // its columns is refused whatever the state, and nothing is sent.
    ObuInfoArea info;
    uint8_t flags = 0;
    if (!CutObuCommandText(commandText, command == 0x03, info, flags)) return kRefusedText;
    if (!Holds(hold)) return kNotOpenedText;
    switch (command) {
    case 0x01: {
        CDoActiveOBU transaction(m_Device, m_ProductKey, info);
        return RunTransaction(transaction, &CDoActiveOBU::DoActiveOBU);
    }
    case 0x03: {
        CDoChangeOBUinfo transaction(m_Device, m_ProductKey, info, flags);
        return RunTransaction(transaction, &CDoChangeOBUinfo::ChangeOBUInfo);
    }
    default: {
        CDoReactiveOBU transaction(m_Device, m_ProductKey, info);
        return RunTransaction(transaction, &CDoReactiveOBU::DoReactiveOBU);
    }
    }
}

CString CObuSelfIssueCtrl::ActiveOBU(const Hold& hold, const CString& commandText)
{
    return RunWrite(hold, commandText, 0x01);
}

CString CObuSelfIssueCtrl::ChangeOBUInfo(const Hold& hold, const CString& commandText)
{
    return RunWrite(hold, commandText, 0x03);
}

CString CObuSelfIssueCtrl::ReactiveOBU(const Hold& hold, const CString& commandText)
{
    return RunWrite(hold, commandText, 0x04);
}

CString CObuSelfIssueCtrl::CreateScode(const CString& commandText)
{
    CdoCreateScode scode;
    scode.SetCommandText(commandText);
    return scode.CreateScode();
}
