// The unit's single-report transactions (initiation, deletions, holder
// information): the whole answer is the one Data Type 1 report after the
// handshake; nothing of it is kept and the page is answered "" whatever came.
// Their traces differ only in their labels, which each gives as data.
#pragma once

#include <cstdint>

#include "biometric/biu_exchange.h"

struct SingleReportTraceLabels {
    const char* startBanner;
    const char* randomKeyRequest;        // with the first 64 plaintext bytes; null: none
    const char* randomKeyRequestCipher;  // with the 16 encrypted bytes; null: none
    const char* randomKeyAnswerCipher;   // with 64 received bytes
    const char* randomKeyAnswerPlain;    // with 64 decrypted bytes
    const char* command;                 // with the 16 plaintext bytes; null: none
    const char* commandCipher;           // with the encrypted bytes; null: none
    const char* reportWritten;           // with the whole report, "[%02X]"
};

// The deletions' labels (the holder information writes the same ones under
// its own banner).
extern const SingleReportTraceLabels kDeletionTraceLabels;

class CBiuSingleReportTransaction : public CBiuTransaction {
protected:
    CBiuSingleReportTransaction(const CHidDeviceRecord& device, const uint8_t productKey[16],
                                const SingleReportTraceLabels& labels,
                                const ExchangeProfile& profile = kBiuSingleReportProfile);

    const char* StartBanner() const override { return m_Labels.startBanner; }
    void SendReport(const uint8_t* report) override;
    // Nothing of the answer is kept.
    void KeepAnswer(const uint8_t*, size_t) override {}

    void TraceReceivedReport(const uint8_t* report) override;
    void TraceRandomKeyRequest(const uint8_t* plain, const uint8_t* cipher) override;
    void TraceRandomKeyAnswer(const uint8_t* received, const uint8_t* plain) override;
    void TraceCommand(const uint8_t* plain, size_t n, const uint8_t* cipher) override;

private:
    static constexpr size_t kTracedBytes = 64;
    const SingleReportTraceLabels m_Labels;
};

// CInitiateBIU: initiates the unit (command 0x20, web id 64). Its receive
// thread reads on after the answer until the wait has ended.
class CInitiateBIU : public CBiuSingleReportTransaction {
public:
    CInitiateBIU(const CHidDeviceRecord& device, const uint8_t productKey[16]);
    ~CInitiateBIU() override;

    CString InitiateBIU();

protected:
    size_t ComposeCommand(uint8_t* message) override { return ComposeShortRequest(message, kBiuInitiate); }
};

// CDelete (command 0x25, web id 69: the user's fingerprints) and CDeleteUser
// (0x26, web id 70: the user). The user number goes in request byte 2 as it
// is given, whatever its value.
class CUserDeletion : public CBiuSingleReportTransaction {
public:
    CString DeleteUserInfo(uint8_t user);

protected:
    CUserDeletion(const CHidDeviceRecord& device, const uint8_t productKey[16], uint8_t command);
    size_t ComposeCommand(uint8_t* message) override { return ComposeShortRequest(message, m_Command, m_UserIndex); }

private:
    uint8_t m_Command;
    uint8_t m_UserIndex = 0;
};

class CDelete : public CUserDeletion {
public:
    CDelete(const CHidDeviceRecord& device, const uint8_t productKey[16])
        : CUserDeletion(device, productKey, kBiuDeleteFingerprints) {}
    ~CDelete() override;
};

class CDeleteUser : public CUserDeletion {
public:
    CDeleteUser(const CHidDeviceRecord& device, const uint8_t productKey[16])
        : CUserDeletion(device, productKey, kBiuDeleteUser) {}
    ~CDeleteUser() override;
};
