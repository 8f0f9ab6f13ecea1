// CBIUInquery: the unit's user information (command 0x12) for the page (web
// id 66) as 21 characters: d[2] + '0', then for each of the four users its
// whole byte + '0' and the four digits of its two packed bytes. The text ends
// at the first character that comes out as 0 (a byte 0xD0). Nothing is shown
// to the operator and the answer is not judged; with no answer the data is
// all zero, so the text is 21 characters '0'.
#pragma once

#include <cstdint>

#include "biometric/biu_exchange.h"
#include "framework/cstring.h"

// d: the answer from byte 16 on, at least 15 bytes readable.
CString UserInfoText(const uint8_t* d);

class CBIUInquery : public CBiuTransaction {
public:
    CBIUInquery(const CHidDeviceRecord& device, const uint8_t productKey[16]);
    ~CBIUInquery() override;

    CString GetUserInfo();

protected:
    size_t ComposeCommand(uint8_t* message) override { return ComposeShortRequest(message, kBiuGetUserInfo); }
    const char* StartBanner() const override;
    void SendReport(const uint8_t* report) override;
    void TraceReceivedReport(const uint8_t* report) override;
    void TraceRandomKeyRequest(const uint8_t*, const uint8_t*) override {}
    void TraceRandomKeyAnswer(const uint8_t*, const uint8_t*) override {}
    void TraceCommand(const uint8_t* plain, size_t n, const uint8_t* cipher) override;

private:
    bool m_bRequestSent = false;
};
