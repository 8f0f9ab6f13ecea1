// CObuSelfIssueCtrl: the one object through which the commands reach the OBU.
//
// It holds the product key that the page sets (id 32), owns the OBU's device
// record, finds and opens the OBU (the last HID device whose product string
// starts "Wendra-OBU") and runs each OBU transaction on a copy of the record.
//
// Locking (framework/device_lock.h): every operation that uses the OBU, its
// record, its state or the product key runs under a hold of the controller's
// device lock (HoldDevice), handed to it by the caller. A command takes one
// hold and hands it to its open step, its operation and its close step, so
// that a request on another thread waits until all three are done and never
// uses a record that the other has just closed or reopened. The hold is
// refused on the thread that holds the OBU already (a command started from
// inside the holding command's wait, which dispatches the thread's window
// messages), and on the window thread while another thread holds it (the
// panel and the tray never wait for a page client's command). Under a refused
// hold the operations touch neither the record, the state nor the handle and
// answer as for an OBU that was found but could not be opened ("1"). The key
// is set under a refused hold only when this thread holds the OBU already
// (then no other thread reads it meanwhile): refused because another thread
// holds the OBU, it is left as it is and "1" is answered at once. The S-code
// needs no OBU and no hold.
//
// Results are texts (CString).
//
//   OpenOBU        "0" no OBU, "1" found but not opened, "2" open
//   CloseOBU       "2" closed, "1" nothing was open
//   SetProductKey  "" set from the text's first 32 characters (hexadecimal
//                  digits, any other character by its low four bits); "1"
//                  for a text shorter than 32, or refused while another
//                  thread holds the OBU (the key in use stays)
//   GetMFSN, GetOBUInfo, ResetOBU, ActiveOBU, ChangeOBUInfo, ReactiveOBU
//                  "0"/"1" for an OBU that is not open, else the transaction's
//                  text; the write commands answer "1" for a text too short
//                  for its columns, and nothing is sent
//   CreateScode    the S-code or "MFSN Error", whatever the OBU's state
#pragma once

#include <cstdint>

#include "framework/cstring.h"
#include "framework/device_lock.h"
#include "obulink/exchange_wait.h"
#include "obulink/hid_device.h"
#include "obulink/obu_info.h"
#include "obulink/session_key.h"

class CObuSelfIssueCtrl {
public:
    enum DeviceState : int32_t { kNoDevice = 0, kOpenFailed = 1, kOpen = 2 };
    using Hold = DeviceLock::Hold;

    CObuSelfIssueCtrl();
    ~CObuSelfIssueCtrl();
    CObuSelfIssueCtrl(const CObuSelfIssueCtrl&) = delete;
    CObuSelfIssueCtrl& operator=(const CObuSelfIssueCtrl&) = delete;

    // A command's hold of the OBU: waits for a command of another thread;
    // refused (empty) on the thread that holds the OBU already, and on the
    // window thread while another thread holds it.
    [[nodiscard]] Hold HoldDevice() { return m_DeviceLock.Take(); }

    CString OpenOBU(const Hold& hold);
    CString CloseOBU(const Hold& hold);
    CString GetMFSN(const Hold& hold);
    CString GetOBUInfo(const Hold& hold);
    CString ResetOBU(const Hold& hold);
    CString ActiveOBU(const Hold& hold, const CString& commandText);
    CString ChangeOBUInfo(const Hold& hold, const CString& commandText);
    CString ReactiveOBU(const Hold& hold, const CString& commandText);
    // Needs no OBU and runs whatever its state (see Locking above).
    CString SetProductKey(const Hold& hold, const CString& keyText);

    // Needs no OBU and no hold.
    CString CreateScode(const CString& commandText);

    int32_t DeviceState() const { return m_nDeviceState; }

    // Clock, pump and random source of the transactions (tests run the long
    // waits on a scaled clock). Set while no command of another thread runs.
    void SetServices(const ExchangeServices& services, AppRandomSource* random = nullptr);

    static constexpr size_t kKeyTextLength = 32;
    static constexpr uint32_t kKeySetPauseMs = 200;

private:
    bool Holds(const Hold& hold) const { return hold.Holds(m_DeviceLock); }
    // Finds and opens the OBU in m_Device: a DeviceState.
    int ConnectOBU();
    // Runs `transaction` (already built) by the device state.
    template <class Transaction, class Entry>
    CString RunTransaction(Transaction& transaction, Entry entry);
    CString RunWrite(const Hold& hold, const CString& commandText, uint8_t command);

    DeviceLock m_DeviceLock;
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
