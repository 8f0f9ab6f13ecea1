// CGetBIUBIUInfo: the unit's information (command 0x11), worded for the page
// (web id 65): whether the unit answered, whether and under which numbers it
// is issued, and its four user records. Refusals and a unit that is not
// issued are also told to the operator in a message box.
#pragma once

#include <cstdint>

#include "biometric/biu_exchange.h"
#include "framework/cstring.h"

// The answer data as the page gets it (d: the answer from byte 16 on, at least
// 109 bytes readable):
//   no answer          "0"                    box "통신불량"
//   d[0] or d[1] set   "0"                    box: the unit refuses
//   d[2] = 2           "2"                    box: another issue number (also a refused handshake)
//   d[2] = 1           '1', digit of d[2], digit of d[3], 32 digits of d[4..19],
//                      32 hexadecimal characters of d[20..35], the count of
//                      user records in use, four records of 35 digits (208 characters)
//   otherwise          the same 67 characters and 140 '0' (207 characters), box: not issued
struct UnitInfoVerdict {
    CString text;
    const char* boxText = nullptr;  // null: no box
    const char* boxCaption = nullptr;
};
UnitInfoVerdict DescribeUnitInfo(bool answered, const uint8_t* d);

class CGetBIUBIUInfo : public CBiuTransaction {
public:
    CGetBIUBIUInfo(const CHidDeviceRecord& device, const uint8_t productKey[16]);
    ~CGetBIUBIUInfo() override;

    // The whole transaction: the exchange, its box if any, the result text.
    CString GetBIUInfo();

    static constexpr uint32_t kPauseAfterExchangeMs = 200;

protected:
    size_t ComposeCommand(uint8_t* message) override { return ComposeShortRequest(message, kBiuGetUnitInfo); }
    const char* StartBanner() const override;
    void SendReport(const uint8_t* report) override;
    void OnHandshakeRefused() override;
    void TraceRandomKeyRequest(const uint8_t* plain, const uint8_t* cipher) override;
    void TraceRandomKeyAnswer(const uint8_t* received, const uint8_t* plain) override;
    void TraceAnswerDecrypted(const uint8_t* plain, size_t n) override;
};
