#include "biometric/biu_controller.h"

#include <cstring>
#include <string>

#include "biometric/biu_text.h"
#include "biometric/holder_info.h"
#include "biometric/single_report_transaction.h"
#include "biometric/unit_info.h"
#include "biometric/user_info.h"
#include "framework/lifetime.h"

namespace {

CString StateText(int32_t state)
{
    return CString(std::string(1, static_cast<char>('0' + state)));
}

uint8_t FirstDigit(const CString& text)
{
    return text.IsEmpty() ? 0 : static_cast<uint8_t>(text.GetAt(0) - '0');
}

// A deletion's user number is the parameter's first character minus '0',
// passed on whatever it is; an empty parameter names no user, and nothing is
// sent for it.
CString DeleteNamedUser(CUserDeletion& deletion, const CString& text)
{
    if (!text.IsEmpty()) deletion.DeleteUserInfo(FirstDigit(text));
    return "";
}

}  // namespace

CQv_BIUIssueCtrl::CQv_BIUIssueCtrl()
{
    m_Device.m_dwReadTimeout = kHidInfinite;
    m_Device.m_dwWriteTimeout = kHidInfinite;
    m_Device.ResetState();
    corvane::NoteLifetime(this, "CQv_BIUIssueCtrl", true);
}

// At exit the handle is left to the system.
CQv_BIUIssueCtrl::~CQv_BIUIssueCtrl()
{
    corvane::NoteLifetime(this, "CQv_BIUIssueCtrl", false);
}

void CQv_BIUIssueCtrl::SetServices(const ExchangeServices& services, AppRandomSource* random)
{
    // Refused only on a thread that holds the unit already, or on the window
    // thread while another holds it (the services are set while none does).
    const Hold hold = HoldDevice();
    m_Services = services;
    m_pRandom = random;
}

CString CQv_BIUIssueCtrl::SetProductKey(const Hold& hold, const CString& keyText)
{
    // Refused because another thread holds the unit, the key stays: that
    // thread's command may be reading it. Refused on a thread that holds the
    // unit already (a command whose wait started this one), no other thread
    // reads the key meanwhile, and the command under way has its own copy.
    if (m_UnitLock.GuardedHere(hold)) {
        // Only the characters the page sent are read; missing ones give 0.
        char chars[kKeyTextLength];
        for (size_t i = 0; i < kKeyTextLength; ++i)
            chars[i] = i < keyText.GetLength() ? keyText.GetAt(i) : '0';
        std::memset(m_ProductKey, 0, sizeof m_ProductKey);
        biu::PackDigitPairs(chars, kKeyTextLength, m_ProductKey);
    }
    m_Services.clock->SleepMs(kKeySetPauseMs);
    return "";
}

int32_t CQv_BIUIssueCtrl::FindDevice()
{
    const unsigned n = CBIUHIDDevice::CountDevices();
    if (n == 0) return kNoDevice;
    return m_Device.OpenDevice(n - 1) == kHidDone ? kOpen : kOpenFailed;
}

CString CQv_BIUIssueCtrl::OpenBIU(const Hold& hold)
{
    if (!hold.Holds(m_UnitLock)) return StateText(kOpenFailed);  // a command of this thread is using the unit
    std::lock_guard<std::mutex> record(m_RecordLock);
    if (m_Device.m_bOpened) m_Device.CloseHandleAndReset();
    m_nDeviceState = FindDevice();
    return StateText(m_nDeviceState);
}

CString CQv_BIUIssueCtrl::CloseBIU(const Hold& hold)
{
    if (!hold.Holds(m_UnitLock)) return "1";  // as with nothing open; the unit stays open for the command using it
    std::lock_guard<std::mutex> record(m_RecordLock);
    CString text = "1";
    if (m_Device.m_bOpened) {
        if (m_Device.CloseHandleAndReset()) text = "2";  // an invalid handle is only forgotten
    }
    m_nDeviceState = kNoDevice;
    return text;
}

CString CQv_BIUIssueCtrl::GetConnectState()
{
    // Not the unit lock: the record is only looked at (an invalid handle is
    // forgotten, never closed), so a running screen need not end first.
    std::lock_guard<std::mutex> record(m_RecordLock);
    const bool open = m_Device.m_bOpened && IsValidHidHandle(m_Device.m_hDevice);
    // From inside a command of this thread (its wait dispatched this one) the
    // record is that command's: it is looked at and left as it is.
    if (m_UnitLock.HeldByThisThread()) return open ? "2" : "0";
    if (open) {
        m_nDeviceState = kOpen;
        return "2";
    }
    if (m_Device.m_bOpened) m_Device.ResetState();  // the invalid handle is not closed
    m_nDeviceState = kNoDevice;
    return "0";
}

int32_t CQv_BIUIssueCtrl::CopyRecord(CBIUHIDDevice& copy)
{
    std::lock_guard<std::mutex> record(m_RecordLock);
    copy = m_Device;
    return m_nDeviceState;
}

int32_t CQv_BIUIssueCtrl::StateFor(const Hold& hold, CBIUHIDDevice& copy)
{
    // Refused: another command is using the unit, and this one is answered as
    // for a unit found but not opened.
    return hold.Holds(m_UnitLock) ? CopyRecord(copy) : kOpenFailed;
}

template <class Transaction, class Entry>
CString CQv_BIUIssueCtrl::RunTransaction(const Hold& hold, Entry entry)
{
    CBIUHIDDevice device;
    switch (StateFor(hold, device)) {
    case kNoDevice: return "0";
    case kOpenFailed: return "1";
    case kOpen: break;
    default: return "";
    }
    // The transaction shares the handle by value and never closes it.
    Transaction transaction(device, m_ProductKey);
    transaction.SetServices(m_Services);
    if (m_pRandom) transaction.SetRandomSource(*m_pRandom);
    return entry(transaction);
}

CString CQv_BIUIssueCtrl::InitiateBIU(const Hold& hold)
{
    return RunTransaction<CInitiateBIU>(hold, [](CInitiateBIU& t) { return t.InitiateBIU(); });
}

CString CQv_BIUIssueCtrl::GetBIUInfo(const Hold& hold)
{
    return RunTransaction<CGetBIUBIUInfo>(hold, [](CGetBIUBIUInfo& t) { return t.GetBIUInfo(); });
}

CString CQv_BIUIssueCtrl::GetUserInfo(const Hold& hold)
{
    return RunTransaction<CBIUInquery>(hold, [](CBIUInquery& t) { return t.GetUserInfo(); });
}

CString CQv_BIUIssueCtrl::DeleteFingerprint(const Hold& hold, const CString& text)
{
    return RunTransaction<CDelete>(hold, [&](CDelete& t) { return DeleteNamedUser(t, text); });
}

CString CQv_BIUIssueCtrl::DeleteUser(const Hold& hold, const CString& text)
{
    return RunTransaction<CDeleteUser>(hold, [&](CDeleteUser& t) { return DeleteNamedUser(t, text); });
}

CString CQv_BIUIssueCtrl::RegistBIUInfo(const Hold& hold, const CString& text)
{
    // A text shorter than the holder record's 152 characters sends nothing.
    return RunTransaction<CRegistBIUInfo>(hold, [&](CRegistBIUInfo& t) {
        t.SetHolderText(text);
        return t.RegistBIUInfo();
    });
}

void CQv_BIUIssueCtrl::ReadRegistration(const CString& userText, const CString& fingerText,
                                        FingerprintRegistration& out)
{
    out.user = FirstDigit(userText);
    std::memset(out.registered, 0, sizeof out.registered);
    out.registeredCount = 0;
    for (size_t k = 0; k < 4 && k < fingerText.GetLength(); ++k) {
        const int finger = fingerText.GetAt(k) - '0';
        if (finger < 1 || finger > 10) continue;  // '0': no finger; others name none either
        out.registered[finger] = 1;
        ++out.registeredCount;
    }
}

int8_t CQv_BIUIssueCtrl::ReadRegId(const CString& text)
{
    const int id = text.IsEmpty() ? 0 : text.GetAt(0) - '0';
    return static_cast<int8_t>(biu::IsUserNumber(id) ? id : 0);
}

template <class Input>
CString CQv_BIUIssueCtrl::RunScreen(const Hold& hold, Input& input, void (FingerprintScreens::*run)(const Input&),
                                    const char* otherStateText)
{
    CBIUHIDDevice device;
    const int32_t state = StateFor(hold, device);
    input.device = &device;
    input.productKey = m_ProductKey;
    switch (state) {
    case kNoDevice: return "0";
    case kOpenFailed: return "1";
    case kOpen:
        if (m_pScreens) (m_pScreens->*run)(input);
        return "2";
    default: return otherStateText;
    }
}

CString CQv_BIUIssueCtrl::RegistFingerprint(const Hold& hold, const CString& userText, const CString& fingerText)
{
    FingerprintRegistration input;
    ReadRegistration(userText, fingerText, input);
    return RunScreen(hold, input, &FingerprintScreens::RunRegistration, "");
}

CString CQv_BIUIssueCtrl::VerifyFingerprint(const Hold& hold, const CString& text)
{
    FingerprintVerification input;
    input.regId = ReadRegId(text);
    return RunScreen(hold, input, &FingerprintScreens::RunVerification, "2");
}
