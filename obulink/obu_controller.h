// CObuSelfIssueCtrl: the one object through which the commands reach the OBU.
//
// It holds the product key that the page sets (id 32), owns the OBU's device
// record, finds and opens the OBU (the last HID device whose product string
// starts "Wendra-OBU") and runs each OBU transaction on a copy of the record.
// A command opens, runs one operation and closes; HoldDevice() lets it keep
// the three steps together, so that two requests never use a record that the
// other has just closed or reopened. Every operation also holds it itself.
//
// Results are texts (CString) here; ole_result_win.h turns them into the
// OLE strings that Windows-facing callers take.
//
//   OpenOBU        "0" no OBU, "1" found but not opened, "2" open
//   CloseOBU       "2" closed, "1" nothing was open
//   SetProductKey  "" set from the text's first 32 characters (hexadecimal
//                  digits, any other character by its low four bits); "1"
//                  for a text shorter than 32 (the key in use stays)
//   GetMFSN, GetOBUInfo, ResetOBU, ActiveOBU, ChangeOBUInfo, ReactiveOBU
//                  "0"/"1" for an OBU that is not open, else the transaction's
//                  text; the write commands answer "1" for a text too short
//                  for its columns, and nothing is sent
//   CreateScode    the S-code or "MFSN Error", whatever the OBU's state
#pragma once

#include <cstdint>
#include <mutex>
#include <type_traits>

#include "framework/cstring.h"
#include "obulink/exchange_wait.h"
#include "obulink/hid_device.h"
#include "obulink/obu_info.h"
#include "obulink/session_key.h"

class CObuSelfIssueCtrl {
public:
    enum DeviceState : int32_t { kNoDevice = 0, kOpenFailed = 1, kOpen = 2 };

    CObuSelfIssueCtrl();
    virtual ~CObuSelfIssueCtrl();
    CObuSelfIssueCtrl(const CObuSelfIssueCtrl&) = delete;
    CObuSelfIssueCtrl& operator=(const CObuSelfIssueCtrl&) = delete;

    // The controller's one virtual operation; it does nothing.
    virtual void Reserved() {}

    int ConnectOBU();
    CString OpenOBU();
    CString CloseOBU();
    CString SetProductKey(const CString& keyText);

    CString GetMFSN();
    CString GetOBUInfo();
    CString ResetOBU();
    CString ActiveOBU(const CString& commandText);
    CString ChangeOBUInfo(const CString& commandText);
    CString ReactiveOBU(const CString& commandText);
    CString CreateScode(const CString& commandText);

    // Held by a command across its open, operation and close.
    std::unique_lock<std::recursive_mutex> HoldDevice() { return std::unique_lock<std::recursive_mutex>(m_DeviceLock); }

    int32_t DeviceState() const { return m_nDeviceState; }

    // Clock, pump and random source of the transactions (tests run the long
    // waits on a scaled clock).
    void SetServices(const ExchangeServices& services, AppRandomSource* random = nullptr);

    static constexpr size_t kKeyTextLength = 32;
    static constexpr uint32_t kKeySetPauseMs = 200;

private:
    // Runs `transaction` (already built) by the device state.
    template <class Transaction, class Entry>
    CString RunTransaction(Transaction& transaction, Entry entry);
    CString RunWrite(const CString& commandText, uint8_t command);

    std::recursive_mutex m_DeviceLock;
    uint8_t m_KeyArea[40] = {};  // only its first 16 bytes, m_ProductKey, are used
    uint8_t* const m_ProductKey = m_KeyArea;
    CHIDDevice m_Device;
    int32_t m_nDeviceState = kNoDevice;
    ExchangeServices m_Services;
    AppRandomSource* m_pRandom = nullptr;
};

// The agent's OBU controller, defined with the agent's other long-lived objects
// (agent/globals_win.cpp; the test programs: tests/controller_globals.cpp).
extern CObuSelfIssueCtrl g_ObuSelfIssueCtrl;
