// CQv_BIUIssueCtrl: the one object through which the commands (web ids 61 to
// 71) reach the biometric unit.
//
// It keeps the unit's product key (id 61), owns the unit's device record,
// finds and opens the unit (the last HID device whose product string starts
// "[wendra]"), and runs each transaction of the unit, and the two fingerprint
// screens, on a copy of the record and of the key.
//
//   SetProductKey      ""; 32 characters, two a byte by their low four bits
//   OpenBIU            "0" no unit, "1" found but not opened, "2" open
//   CloseBIU           "2" closed, "1" nothing was open
//   GetConnectState    "2" open, "0" not open
//   InitiateBIU, GetBIUInfo, GetUserInfo, RegistBIUInfo
//                      "0" / "1" for a unit that is not open, else the
//                      transaction's text
//   DeleteFingerprint, DeleteUser
//                      "0" / "1" for a unit that is not open, else ""
//   RegistFingerprint  "0" / "1", "2" after the registration screen
//   VerifyFingerprint  "0" / "1", "2" after the verification screen
//                      (the pauses after a screen, kAfterRegistrationMs and
//                      kAfterVerificationMs, are the caller's, after the hold)
//
// The screens are windows; the controller reaches them through
// FingerprintScreens, which the Windows program installs (UseScreens). Without
// screens (the host build) a fingerprint command in state 2 shows nothing.
//
// Results are texts (CString).
//
// Locking (framework/device_lock.h): every operation that uses the unit (the
// key, the open, the close, the transactions and the screens) runs under a
// hold of the controller's unit lock (HoldDevice), handed to it by the caller,
// who holds it for as long as the steps it runs together take; so two
// exchanges never take each other's reports and a close or a new open never
// pulls the handle from under a transaction or a screen: a request on another
// thread waits for it. The hold is refused on the thread that holds the unit
// already (a command started from inside the holding one's wait, screen or
// message box, which dispatch the thread's window messages), and on the window
// thread while another thread holds it (the panel and the tray never wait for
// a page client's command). Under a refused hold an operation touches neither
// the record, the state nor the handle and answers as in state 1 (found but
// not opened): "1". The key is set under a refused hold only when this thread
// holds the unit already (no other thread reads it meanwhile); refused because
// another thread holds the unit, the key is left as it is. The key's pause
// stays either way. GetConnectState takes no hold and waits for no one: under
// the record's own lock (held only while the record is read or changed) it
// sets the state to 2 for a record with a valid handle, and otherwise resets
// the record (a handle no longer valid is forgotten, never closed) and the
// state to 0; from inside a
// command of its own thread it answers what the record shows and changes
// nothing.
#pragma once

#include <atomic>
#include <cstdint>
#include <mutex>

#include "framework/cstring.h"
#include "framework/device_lock.h"
#include "obulink/exchange_wait.h"
#include "obulink/hid_device.h"
#include "obulink/session_key.h"

// What a registration screen is given (the web id 67's parameter, cut).
struct FingerprintRegistration {
    uint8_t user = 0;               // the holder's user number on the unit
    int32_t registered[12] = {};    // index 1..10: that finger is registered already
    int32_t registeredCount = 0;    // 0..4: the slot the new finger takes
    const CBIUHIDDevice* device = nullptr;
    const uint8_t* productKey = nullptr;  // 16 bytes
};

// What a verification screen is given (web id 68).
struct FingerprintVerification {
    int8_t regId = 0;  // 1..4: verify against that registration; 0: against all
    const CBIUHIDDevice* device = nullptr;
    const uint8_t* productKey = nullptr;
};

class FingerprintScreens {
public:
    virtual ~FingerprintScreens() = default;
    // Each runs its screen modally on the calling thread and returns when the
    // operator has closed it.
    virtual void RunRegistration(const FingerprintRegistration& input) = 0;
    virtual void RunVerification(const FingerprintVerification& input) = 0;
};

class CQv_BIUIssueCtrl {
public:
    enum DeviceState : int32_t { kNoDevice = 0, kOpenFailed = 1, kOpen = 2 };

    CQv_BIUIssueCtrl();
    ~CQv_BIUIssueCtrl();
    CQv_BIUIssueCtrl(const CQv_BIUIssueCtrl&) = delete;
    CQv_BIUIssueCtrl& operator=(const CQv_BIUIssueCtrl&) = delete;

    using Hold = DeviceLock::Hold;
    // A command's hold of the unit: waits for a command of another thread;
    // refused (empty) on the thread that holds the unit already, and on the
    // window thread while another thread holds it.
    [[nodiscard]] Hold HoldDevice() { return m_UnitLock.Take(); }

    CString SetProductKey(const Hold& hold, const CString& keyText);
    CString OpenBIU(const Hold& hold);
    CString CloseBIU(const Hold& hold);
    CString InitiateBIU(const Hold& hold);
    CString GetBIUInfo(const Hold& hold);
    CString GetUserInfo(const Hold& hold);
    CString RegistFingerprint(const Hold& hold, const CString& userText, const CString& fingerText);
    CString VerifyFingerprint(const Hold& hold, const CString& text);
    CString DeleteFingerprint(const Hold& hold, const CString& text);
    CString DeleteUser(const Hold& hold, const CString& text);
    CString RegistBIUInfo(const Hold& hold, const CString& text);
    // Takes no hold (see Locking above).
    CString GetConnectState();

    // Cuts the registration parameters: user from the first character, a flag
    // for each of the first four finger characters '1'..':' (fingers 1 to 10;
    // '0' and any other character name no finger), the count of fingers named.
    static void ReadRegistration(const CString& userText, const CString& fingerText,
                                 FingerprintRegistration& out);
    // The registration id of a verification: the first character minus '0'
    // when that is 1 to 4, else 0 (verify against every registration).
    static int8_t ReadRegId(const CString& text);

    int32_t DeviceState() const { return m_nDeviceState.load(); }
    const uint8_t* ProductKey() const { return m_ProductKey; }

    void UseScreens(FingerprintScreens* screens) { m_pScreens = screens; }
    // Clock, pump and random source of the transactions, and the clock of the
    // fixed pauses (tests run them on a scaled clock). Set while no command of
    // another thread runs.
    void SetServices(const ExchangeServices& services, AppRandomSource* random = nullptr);

    // A fixed pause on the controller's clock (the commands' 200 ms).
    void Pause(uint32_t ms) { m_Services.clock->SleepMs(ms); }

    static constexpr size_t kKeyTextLength = 32;
    static constexpr uint32_t kKeySetPauseMs = 200;
    static constexpr uint32_t kAfterRegistrationMs = 1000;
    static constexpr uint32_t kAfterVerificationMs = 200;

private:
    template <class Transaction, class Entry>
    CString RunTransaction(const Hold& hold, Entry entry);
    // Runs a screen on a copy of the record, by the state the hold gives.
    template <class Input>
    CString RunScreen(const Hold& hold, Input& input, void (FingerprintScreens::*run)(const Input&),
                      const char* otherStateText);
    int32_t FindDevice();
    // The state and a copy of the record, read together under the record lock.
    int32_t CopyRecord(CBIUHIDDevice& copy);
    // The state an operation under `hold` runs by (and the record's copy):
    // kOpenFailed, and no copy, when the hold was refused.
    int32_t StateFor(const Hold& hold, CBIUHIDDevice& copy);

    DeviceLock m_UnitLock;            // held while the unit is used
    std::mutex m_RecordLock;          // held while m_Device and the state are read or changed
    uint8_t m_ProductKey[16] = {};
    CBIUHIDDevice m_Device;
    std::atomic<int32_t> m_nDeviceState{kNoDevice};
    FingerprintScreens* m_pScreens = nullptr;
    ExchangeServices m_Services;
    AppRandomSource* m_pRandom = nullptr;
};

// The agent's biometric-unit controller, defined with the agent's other
// long-lived objects (agent/globals_win.cpp; the test programs:
// tests/controller_globals.cpp).
extern CQv_BIUIssueCtrl g_BIUIssueCtrl;
